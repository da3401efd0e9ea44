// The sprite actor as a host meets it through the loaded plug-in: its settings as script
// properties, the operations that answer constants, the pass-on, callbacks and references.
#include <string>

#include "host/movies.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/values.h"
#include "scenario_fixture.h"

namespace kinetiscan::scenario {
namespace {

class SpriteActor : public Scenario {
 protected:
  void SetUp() override {
    Scenario::SetUp();
    values_ = std::make_unique<host::Values>(host_->ledger);
    movies_ = std::make_unique<host::Movies>(host_->ledger, *values_);
    callback_ = std::make_unique<host::SpriteCallback>(host_->ledger, 3);
    values_->offerTo(*host_);
    movies_->offerTo(*host_);
  }
  void TearDown() override {
    if (actor_ != nullptr) {
      EXPECT_EQ(actor_->ops->release(actor_), 0);
    }
    EXPECT_TRUE(host_->ledger.imbalances().empty())
        << ::testing::PrintToString(host_->ledger.imbalances());
    EXPECT_EQ(values_->liveValues(), 0u);
    surface_.reset();
    callback_.reset();
    movies_.reset();
    values_.reset();
    Scenario::TearDown();
  }

  SpriteActorInterface* actor() {
    if (actor_ == nullptr) {
      actor_ = makeInterface<SpriteActorInterface>(kSpriteActorClassId, kSpriteActorInterfaceId);
    }
    return actor_;
  }

  // The property's integer, or the failure code of reading it.
  std::int64_t get(const std::string& name) {
    HostValue out{};
    const Result result = actor()->ops->getProperty(actor(), values_->symbol(name), &out);
    if (result != kOk) return result;
    const host::Value* value = values_->find(out);
    if (value == nullptr || value->kind != host::kValueInteger) return -999;
    const std::int32_t number = value->integer;
    values_->release(out);
    return number;
  }
  Result set(const std::string& name, HostValue value) {
    const Result result = actor()->ops->setProperty(actor(), values_->symbol(name), &value);
    values_->release(value);
    return result;
  }

  std::unique_ptr<host::Values> values_;
  std::unique_ptr<host::Movies> movies_;
  std::unique_ptr<host::SpriteCallback> callback_;
  std::unique_ptr<host::Surface> surface_;
  SpriteActorInterface* actor_ = nullptr;
};

TEST_F(SpriteActor, StartsAtViewOneWithOverlaysOff) {
  ASSERT_NE(actor(), nullptr);
  EXPECT_EQ(get("view"), 1);
  EXPECT_EQ(get("showboundingboxes"), 0);
  EXPECT_EQ(get("showcenterpoints"), 0);
  for (const Guid* id : {&kSpareService1Id, &kValueServicesId, &kListServicesId, &kColorServicesId,
                         &kMovieServicesId}) {
    EXPECT_EQ(host_->serviceRequests(*id), 1);
  }
}

TEST_F(SpriteActor, NamesAreCaseInsensitiveAndValuesUnchecked) {
  EXPECT_EQ(set("VIEW", values_->integer(7)), kOk);
  EXPECT_EQ(get("view"), 7);
  EXPECT_EQ(set("View", values_->integer(-3)), kOk);
  EXPECT_EQ(get("vIEW"), -3);
  EXPECT_EQ(set("ShowBoundingBoxes", values_->real(2.75)), kOk);
  EXPECT_EQ(get("SHOWBOUNDINGBOXES"), 2) << "a float is converted by the host";
  EXPECT_EQ(set("showCenterPoints", values_->ofKind(host::kValueVoid)), kOk);
  EXPECT_EQ(get("showcenterpoints"), 0);
}

TEST_F(SpriteActor, ValuesOfOtherKindsAreRefused) {
  ASSERT_EQ(set("showboundingboxes", values_->integer(1)), kOk);
  for (HostValue value :
       {values_->string("1"), values_->symbolValue("on"), values_->rect(HostRect{0, 0, 1, 1}),
        values_->colour(1, 2, 3), values_->ofKind(42)}) {
    EXPECT_EQ(set("showboundingboxes", value), kWrongValueKind);
  }
  EXPECT_EQ(get("showboundingboxes"), 1);
  EXPECT_EQ(values_->valueLog.calls[8], 1) << "refused values are not converted";
}

TEST_F(SpriteActor, UnknownNamesChangeNothing) {
  const std::string longName = "view" + std::string(300, 'x');
  for (const std::string& name : {std::string("color"), std::string("viewx"), std::string(""),
                                  std::string("show bounding boxes"), longName}) {
    SCOPED_TRACE(name.substr(0, 20));
    EXPECT_EQ(get(name), kUnknownProperty);
    EXPECT_EQ(set(name, values_->string("not looked at")), kUnknownProperty);
  }
  EXPECT_EQ(values_->valueLog.calls[5], 0) << "an unknown name fails before the value is seen";
  EXPECT_EQ(get("view"), 1);
}

TEST_F(SpriteActor, MethodsAreUnknownAndTheQuietPositionsDoNothing) {
  EXPECT_EQ(actor()->ops->callMethod(actor(), 0, 0, 0, 0), kUnknownMethod);
  EXPECT_EQ(actor()->ops->callMethod(actor(), values_->symbol("view"), 1, 0xFFFFFFFF, 2),
            kUnknownMethod);
  EXPECT_EQ(actor()->ops->nothing7(actor(), 1, 2), kOk);
  EXPECT_EQ(actor()->ops->nothing8(actor(), 3), kOk);
  EXPECT_EQ(actor()->ops->nothing10(actor(), 4, 5, 6), kOk);
  EXPECT_EQ(actor()->ops->nothing12(actor(), 7, 8, 9), kOk);
  EXPECT_EQ(get("view"), 1);
}

struct Receiver : PassOnTarget {
  Receiver() {
    static constexpr PassOnTargetOps kOps = {nullptr, nullptr, nullptr, receive};
    ops = &kOps;
  }
  static Result KINETISCAN_CALL receive(PassOnTarget* self, std::uint32_t word) {
    auto* receiver = static_cast<Receiver*>(self);
    ++receiver->calls;
    receiver->word = word;
    return receiver->answer;
  }
  int calls = 0;
  std::uint32_t word = 0;
  Result answer = kOk;
};

TEST_F(SpriteActor, PositionNinePassesTheWordOn) {
  Receiver receiver;
  receiver.answer = code(0x80041234u);
  EXPECT_EQ(actor()->ops->passOn(actor(), 0xCAFEF00Du, &receiver), kOk);
  EXPECT_EQ(receiver.calls, 1);
  EXPECT_EQ(receiver.word, 0xCAFEF00Du);
  EXPECT_EQ(actor()->ops->passOn(actor(), 1, nullptr), kOk);
}

// Setting the callback again gives back what the earlier one held.
TEST_F(SpriteActor, CallbacksAreHeldOnceHoweverOftenSet) {
  EXPECT_EQ(actor()->ops->setSpriteCallback(actor(), callback_.get()), kOk);
  EXPECT_EQ(callback_->references.count(), 2);
  EXPECT_EQ(callback_->serviceReferences().count(), 2);
  EXPECT_EQ(actor()->ops->setSpriteCallback(actor(), callback_.get()), kOk);
  EXPECT_EQ(callback_->references.count(), 2);
  EXPECT_EQ(callback_->serviceReferences().count(), 2);
  host::SpriteCallback other(host_->ledger, 4);
  EXPECT_EQ(actor()->ops->setSpriteCallback(actor(), &other), kOk);
  EXPECT_EQ(callback_->references.count(), 1);
  EXPECT_EQ(other.references.count(), 2);
  EXPECT_EQ(actor()->ops->setSpriteCallback(actor(), nullptr), kOk);
  EXPECT_EQ(other.references.count(), 1);
  EXPECT_EQ(other.serviceReferences().count(), 1);
}

// Create, callback, draws and destroy leave every reference and value where it started.
TEST_F(SpriteActor, DrawingThroughTheLoadedPluginBalancesTheBooks) {
  movies_->setSpriteColour(3, 255, 0, 0);
  ASSERT_EQ(actor()->ops->setSpriteCallback(actor(), callback_.get()), kOk);
  surface_ = std::make_unique<host::Surface>(host_->ledger, 200, 150);
  DrawRequest request{};
  request.top = 10, request.left = 20, request.bottom = 130, request.right = 180;
  for (std::int32_t view : {1, 2, 0}) {
    HostValue v = values_->integer(view);
    actor()->ops->setProperty(actor(), values_->symbol("view"), &v);
    values_->release(v);
    EXPECT_EQ(actor()->ops->drawSprite(actor(), &request, 0, surface_.get()), kOk);
  }
  EXPECT_EQ(movies_->lastSpriteNumber, 3);
  EXPECT_EQ(movies_->colourReads, 3);
  movies_->colourAnswer = code(0x80040999u);
  EXPECT_EQ(actor()->ops->drawSprite(actor(), &request, 0, surface_.get()), code(0x80040999u));
  EXPECT_EQ(values_->valueLog.calls[7], 3) << "only colours that were read are released";
}

}  // namespace
}  // namespace kinetiscan::scenario
