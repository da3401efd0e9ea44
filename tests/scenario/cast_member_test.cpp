// The cast member's lifetime and its simple positions, through the tables.
#include "host/surface.h"
#include "member_fixture.h"

namespace kinetiscan::scenario {
namespace {

using CastMember = MemberScenario;

const Guid kEightServices[] = {kSpareService1Id,  kValueServicesId, kListServicesId,
                               kColorServicesId,  kSpareService2Id, kMovieServicesId,
                               kWindowServicesId, kImageServicesId};

TEST_F(CastMember, CreateAsksEachServiceOnceAndOpensCapture) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  for (const Guid& id : kEightServices) EXPECT_EQ(host_->serviceRequests(id), 1);
  EXPECT_EQ(world_->values.valueLog.calls[0], 0);
  // Capture is open: the hidden parent and the capture window exist.
  EXPECT_EQ(standin::liveWindowCount(), 3) << "host window, capture parent, capture window";
  EXPECT_EQ(standin::captureRecord().connects, 1);
  destroyMember(member_);
  EXPECT_EQ(standin::liveWindowCount(), 1) << "destroy closes capture";
}

// Capture the scan started is forgotten with the member: the first frame a new member sees is
// its background again.
TEST_F(CastMember, DestroyClearsTheScansCaptureFlag) {
  addOurCast();
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);  // the scan finds the member and starts capture
  destroyMember(member_);
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  ASSERT_EQ(deliver({uniformFrame(200)}), 1);
  HostValue average{};
  ASSERT_EQ(call("differenceblock", {world_->values.rect({0, 0, 120, 160})}, &average), kOk);
  EXPECT_EQ(valueOf(average).colour.red, 0) << "the scan started capture anew, so reset the "
                                               "background to this frame";
  release(average);
}

// After a destroy the next drawing starts from a new, black cache: at level 255, which keeps a
// panel as it is, the sprite shows black rather than the panel drawn before.
TEST_F(CastMember, DestroyReleasesThePanelCache) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  void* out = nullptr;
  ASSERT_EQ(member_->ops->newSpriteActor(member_, &out), kOk);
  auto* actor = static_cast<SpriteActorInterface*>(out);
  ASSERT_EQ(deliver({uniformFrame(200)}), 1);
  DrawRequest request{};
  request.top = 0, request.left = 0, request.bottom = 120, request.right = 160;
  const auto drawAtLevel = [&](std::int32_t level) {
    host::Surface surface(host_->ledger, 160, 120);
    request.level = level;
    actor->ops->drawSprite(actor, &request, 0, &surface);
    return surface.bytes()[4 * (60 * 160 + 80) + 2];  // red of a pixel in the middle
  };
  EXPECT_EQ(drawAtLevel(0), 200) << "the panel shows the frame";
  destroyMember(member_);
  EXPECT_EQ(drawAtLevel(255), 0);
  EXPECT_EQ(actor->ops->release(actor), 0);
}

TEST_F(CastMember, AssetCallbacksAreHeldOnceWhateverTheirNumber) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  host::AssetCallback first(host_->ledger);
  host::AssetCallback second(host_->ledger);
  EXPECT_EQ(member_->ops->setAssetCallback(member_, &first), kOk);
  EXPECT_EQ(first.references.count(), 2);
  EXPECT_EQ(first.service.references.count(), 2);
  // Replacing it gives back the callback and the service it replaces.
  EXPECT_EQ(member_->ops->setAssetCallback(member_, &second), kOk);
  EXPECT_EQ(member_->ops->setAssetCallback(member_, &second), kOk);
  EXPECT_EQ(first.references.count(), 1);
  EXPECT_EQ(first.service.references.count(), 1);
  EXPECT_EQ(second.references.count(), 2);
  second.serviceAnswer = kNoInterface;  // a refused service leaves none held
  EXPECT_EQ(member_->ops->setAssetCallback(member_, &second), kOk);
  EXPECT_EQ(second.service.references.count(), 1);
  destroyMember(member_);
  EXPECT_EQ(second.references.count(), 1);
}

TEST_F(CastMember, FixedPositionsAnswerWithoutTouchingAnything) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  HostRect rect{7, 7, 7, 7};
  EXPECT_EQ(member_->ops->memberRect(member_, &rect), kOk);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.bottom, 120);
  EXPECT_EQ(rect.right, 160);
  const auto callsBefore = world_->values.valueLog.calls;
  EXPECT_EQ(member_->ops->nothing7(member_, 1, 2), kOk);
  EXPECT_EQ(member_->ops->nothing9(member_, 1), kOk);
  EXPECT_EQ(member_->ops->nothing12(member_), kOk);
  EXPECT_EQ(member_->ops->nothing17(member_), kOk);
  EXPECT_EQ(member_->ops->nothing22(member_), kOk);
  EXPECT_EQ(member_->ops->nothing23(member_, 1, 2), kOk);
  EXPECT_EQ(member_->ops->nothing26(member_, 1, 2), kOk);
  EXPECT_EQ(member_->ops->nothing28(member_, 1, 2), kOk);
  EXPECT_EQ(world_->values.valueLog.calls, callsBefore);
}

TEST_F(CastMember, SpriteActorsAreMadeThroughTheHost) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  void* out = nullptr;
  ASSERT_EQ(member_->ops->newSpriteActor(member_, &out), kOk);
  auto* actor = static_cast<SpriteActorInterface*>(out);
  ASSERT_NE(actor, nullptr);
  HostValue view{};
  EXPECT_EQ(actor->ops->getProperty(actor, world_->values.symbol("view"), &view), kOk);
  EXPECT_EQ(valueOf(view).integer, 1);
  release(view);
  EXPECT_EQ(actor->ops->release(actor), 0);

  // A host that cannot make the actor: its code comes back and the pointer stays.
  host_->allocator.refuseNext(1);
  void* untouched = &out;
  EXPECT_EQ(member_->ops->newSpriteActor(member_, &untouched), kNoMemory);
  EXPECT_EQ(untouched, &out);
}

TEST_F(CastMember, AboutBoxIsOwnedByTheHostWindow) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  EXPECT_EQ(member_->ops->showAbout(member_), kOk);
  const auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "About");
  EXPECT_FALSE(boxes[0].text.empty());
  EXPECT_EQ(boxes[0].text.find('\n'), std::string::npos) << "one line";
  EXPECT_EQ(boxes[0].style & 0xFFu, MB_OK);
  EXPECT_EQ(boxes[0].owner, world_->windows.mainWindow());
}

// While a member exists the session's creation-error box is owned by the host's main window; the
// format box by the session's own parent window.
TEST_F(CastMember, CaptureBoxesOfALaterOpenHaveTheirOwners) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  // Another member's destroy closes the session; the next create opens it again.
  host_->releaseInstance(host_->createInstance(kCastMemberClassId));
  WNDCLASSA attributes{};
  ASSERT_FALSE(standin::windowClass("VideoCapWindow", &attributes)) << "the session closed";

  standin::failWindowCreations(1);
  InstanceHeader* other = host_->createInstance(kCastMemberClassId);
  auto boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "VideoCapWindow Creation Error.");
  EXPECT_EQ(boxes[0].owner, world_->windows.mainWindow());
  host_->releaseInstance(other);

  standin::clearMessageBoxes();
  behaviour_.formatRefusals = -1;
  standin::installCamera(behaviour_, &frames_);
  standin::scriptMessageBoxAnswers({IDCANCEL});
  other = host_->createInstance(kCastMemberClassId);
  boxes = standin::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Kinetiscan");
  standin::WindowInfo owner{};
  ASSERT_TRUE(standin::windowInfo(boxes[0].owner, &owner));
  EXPECT_EQ(owner.className, "VideoCapWindow");
  host_->releaseInstance(other);
}

// Whatever the host withholds (two services, or its callback itself), create succeeds and
// nothing is called through an interface that was not given.
TEST_F(CastMember, WhatTheHostWithholdsIsNeverCalled) {
  using Given = host::Host::CallbackGiven;
  for (const Given given : {Given::whole, Given::none, Given::withoutTable}) {
    SCOPED_TRACE(static_cast<int>(given));
    host_->giveCallback(given);
    if (given == Given::whole) {
      host_->refuseService(kValueServicesId);
      host_->refuseService(kImageServicesId);
    }
    member_ = createMember();
    ASSERT_NE(member_, nullptr) << "create succeeds whatever the host withholds";
    HostValue out{};
    EXPECT_EQ(member_->ops->getProperty(member_, 1, &out), kNoInterface);
    EXPECT_EQ(member_->ops->callMethod(member_, 1, 1, &out, &out), kNoInterface);
    void* actor = nullptr;
    if (given != Given::whole) {
      EXPECT_EQ(member_->ops->newSpriteActor(member_, &actor), kNoInterface);
      EXPECT_EQ(actor, nullptr);
    }
    addOurCast();
    EXPECT_EQ(deliver({uniformFrame(50), uniformFrame(60)}), 2) << "the scan does nothing";
    EXPECT_EQ(world_->movies.walkSteps, 0);
    destroyMember(member_);
    host_->offerAllServices();
  }
  host_->giveCallback(Given::whole);
}

}  // namespace
}  // namespace kinetiscan::scenario
