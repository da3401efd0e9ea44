// The cast member scenario fixture.
#include "member_fixture.h"

namespace kinetiscan::scenario {

camera::Frame uniformFrame(std::uint8_t grey) { return camera::Frame(camera::kFrameBytes, grey); }

void fillRect(camera::Frame& frame, int rowFrom, int rowTo, int columnFrom, int columnTo,
              std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  for (int row = rowFrom; row < rowTo; ++row) {
    for (int column = columnFrom; column < columnTo; ++column) {
      std::uint8_t* pixel = &frame[(row * camera::kWidth + column) * 3];
      pixel[0] = blue;
      pixel[1] = green;
      pixel[2] = red;
    }
  }
}

camera::Frame squareFrame() {
  camera::Frame frame = uniformFrame(100);
  fillRect(frame, 10, 30, 30, 50, 255, 255, 255);
  return frame;
}

void MemberWithSquare::SetUp() {
  MemberScenario::SetUp();
  addOurCast();
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  ASSERT_EQ(deliver({uniformFrame(100), squareFrame()}), 2);
}

void MemberScenario::SetUp() {
  Scenario::SetUp();
  standin::resetForTest();
  standin::installCamera(behaviour_, &frames_);
  world_ = std::make_unique<host::World>(*host_);
}

void MemberScenario::TearDown() {
  if (member_ != nullptr) {
    // The module's parameters outlive members; give the next scenario the defaults.
    set("adaptivity", world_->values.real(1000.0));
    set("sensitivity", world_->values.real(0.5));
    set("mindensity", world_->values.integer(100));
    destroyMember(member_);
  }
  EXPECT_EQ(world_->values.liveValues(), 0u) << "every value released";
  EXPECT_EQ(world_->values.imageOverruns, 0) << "nothing written past an image's end";
  world_.reset();
  EXPECT_EQ(standin::liveWindowCount(), 0) << "every window destroyed";
  standin::resetForTest();
  Scenario::TearDown();
}

CastMemberInterface* MemberScenario::createMember() {
  return makeInterface<CastMemberInterface>(kCastMemberClassId, kCastMemberInterfaceId);
}

void MemberScenario::destroyMember(CastMemberInterface*& member) {
  if (member == nullptr) return;
  member->ops->release(member);
  member = nullptr;
}

void MemberScenario::addOurCast() {
  const std::int32_t movie = world_->movies.addMovie();
  world_->movies.addCast(movie, host::CastSetup{{{1, "Kinetiscan"}}, {}, false});
}

int MemberScenario::deliver(std::initializer_list<camera::Frame> frames) {
  for (const camera::Frame& frame : frames) frames_.frames.push_back(frame);
  return standin::pumpFrames(static_cast<int>(frames.size()));
}

Result MemberScenario::get(const char* name, HostValue* out) {
  return member_->ops->getProperty(member_, world_->values.symbol(name), out);
}

// The value is the test's to give: it is released after the call.
Result MemberScenario::set(const char* name, const HostValue& value) {
  const Result result = member_->ops->setProperty(member_, world_->values.symbol(name), &value);
  world_->values.release(value);
  return result;
}

Result MemberScenario::call(const char* name, std::vector<HostValue> arguments, HostValue* result) {
  // Argument 0 is the member itself; it is never read.
  arguments.insert(arguments.begin(), HostValue{});
  const Result answer = member_->ops->callMethod(member_, world_->values.symbol(name),
                                                 static_cast<std::int32_t>(arguments.size()),
                                                 arguments.data(), result);
  for (std::size_t i = 1; i < arguments.size(); ++i) world_->values.release(arguments[i]);
  return answer;
}

const host::Value& MemberScenario::valueOf(const HostValue& value) {
  static const host::Value kMissing{};
  const host::Value* found = world_->values.find(value);
  return found != nullptr ? *found : kMissing;
}

}  // namespace kinetiscan::scenario
