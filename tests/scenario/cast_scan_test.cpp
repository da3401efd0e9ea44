// The cast scan: one member of the type per cast, warnings and removals, and capture following
// the presence of a member.
#include "member_fixture.h"

namespace kinetiscan::scenario {
namespace {

constexpr char kWarning[] = "Only one Kinetiscan cast member is allowed at this time.";

class CastScan : public MemberScenario {
 protected:
  std::int32_t castWith(std::vector<host::MemberSetup> members, std::int32_t movie = 0) {
    if (movie == 0) movie = world_->movies.addMovie();
    movie_ = movie;
    return world_->movies.addCast(movie, host::CastSetup{std::move(members), {}, false});
  }
  int warnings() {
    int count = 0;
    for (const auto& box : standin::messageBoxes()) count += box.text == kWarning ? 1 : 0;
    return count;
  }
  bool capturing() { return standin::liveWindowCount() == 3; }
  std::int32_t movie_ = 0;
};

TEST_F(CastScan, NoMemberObjectYetMeansNoScan) {
  castWith({{1, "Kinetiscan"}});
  InstanceHeader* instance = host_->createInstance(kCastMemberClassId);
  ASSERT_NE(instance, nullptr);  // capture opens, but no interface object exists
  EXPECT_EQ(deliver({uniformFrame(10), uniformFrame(10)}), 2);
  EXPECT_EQ(world_->movies.walkSteps, 0);
  host_->releaseInstance(instance);
}

TEST_F(CastScan, OneMemberStartsCaptureOnceAndResetsTheBackground) {
  castWith({{1, "Kinetiscan"}, {2, "bitmap"}});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(200)}), 1);
  HostValue average{};
  ASSERT_EQ(call("differenceblock", {world_->values.rect({0, 0, 120, 160})}, &average), kOk);
  EXPECT_EQ(valueOf(average).colour.red, 0) << "the scan made the first frame the background";
  release(average);
  EXPECT_EQ(deliver({uniformFrame(200), uniformFrame(200)}), 2);
  EXPECT_EQ(warnings(), 0);
  EXPECT_TRUE(world_->movies.removals(movie_, 1).empty());
}

TEST_F(CastScan, TwoMembersInOneCastWarnOnceAndRemoveTheSecond) {
  castWith({{3, "Kinetiscan"}, {5, "Kinetiscan"}, {7, "text"}});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 1);
  const auto boxes = standin::messageBoxes();
  EXPECT_EQ(boxes[0].caption, "Kinetiscan");
  EXPECT_EQ(boxes[0].style, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes[0].owner, world_->windows.mainWindow());
  EXPECT_EQ(world_->movies.removals(movie_, 1), std::vector<std::int32_t>{5});
}

TEST_F(CastScan, ThreeMembersWarnTwiceAndRemoveTheLastMet) {
  castWith({{1, "Kinetiscan"}, {2, "Kinetiscan"}, {4, "Kinetiscan"}});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 2);
  EXPECT_EQ(world_->movies.removals(movie_, 1), std::vector<std::int32_t>{4});
}

TEST_F(CastScan, OneMemberInEachOfTwoCastsIsAllowed) {
  castWith({{1, "Kinetiscan"}});
  castWith({{1, "Kinetiscan"}}, movie_);
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10), uniformFrame(10)}), 2);
  EXPECT_EQ(warnings(), 0);
  EXPECT_TRUE(capturing());
}

TEST_F(CastScan, WithoutAMemberOfTheTypeCaptureStops) {
  // Letter case counts in the type; the walk passes index 0 and -1 without looking at them.
  const std::int32_t movie = world_->movies.addMovie();
  world_->movies.addCast(
      movie, host::CastSetup{{{2, "kinetiscan"}, {3, "KINETISCAN"}}, {0, 2, -1, 3}, false});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_TRUE(capturing()) << "create opened capture; the scan only closes what it started";
  EXPECT_EQ(warnings(), 0);
  // Once a scan has found a member, losing it closes capture.
  world_->movies.closeMovies();
  castWith({{1, "Kinetiscan"}});
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  world_->movies.closeMovies();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_FALSE(capturing());
  EXPECT_EQ(deliver({uniformFrame(10)}), 0) << "no frames once closed";
}

// After a scan closed capture, a member made again reopens it; the scan that then finds the
// member starts the background afresh from the frame in hand.
TEST_F(CastScan, CaptureAScanClosedStartsAfreshWhenAMemberIsMadeAgain) {
  castWith({{1, "Kinetiscan"}});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  world_->movies.closeMovies();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  ASSERT_FALSE(capturing());
  castWith({{1, "Kinetiscan"}});
  CastMemberInterface* again = createMember();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(deliver({uniformFrame(200)}), 1);
  HostValue average{};
  ASSERT_EQ(call("differenceblock", {world_->values.rect({0, 0, 120, 160})}, &average), kOk);
  EXPECT_EQ(valueOf(average).colour.red, 0) << "the background is the frame the scan met";
  release(average);
  destroyMember(again);
}

TEST_F(CastScan, AWalkThatNeverReturnsIsBounded) {
  const std::int32_t movie = world_->movies.addMovie();
  world_->movies.addCast(movie, host::CastSetup{{{1, "Kinetiscan"}}, {1}, true});
  world_->movies.setCastCountProperty(movie, 1);
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(world_->movies.walkSteps, 65536);
}

// A member whose type cannot be read is left unexamined: it is no second member.
TEST_F(CastScan, AMemberWhoseTypeCannotBeReadDoesNotCount) {
  castWith({{1, "Kinetiscan"}, {2, "Kinetiscan", true}});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 0);
  EXPECT_TRUE(world_->movies.removals(movie_, 1).empty());
}

// The walk goes 1, 2, 3, 2, 3, ... and never back to 1: meeting the first member again is no
// second member.
TEST_F(CastScan, MeetingTheFirstMemberAgainRaisesNoWarning) {
  const std::int32_t movie = world_->movies.addMovie();
  world_->movies.addCast(
      movie, host::CastSetup{{{1, "text"}, {2, "Kinetiscan"}, {3, "text"}}, {1, 2, 3, 2}, false});
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(world_->movies.walkSteps, 65536) << "the walk was cut off, having met 2 many times";
  EXPECT_EQ(warnings(), 0);
  EXPECT_TRUE(world_->movies.removals(movie, 1).empty());
  EXPECT_TRUE(capturing());
}

TEST_F(CastScan, TheCastCountPropertyDecidesHowManyCastsAreWalked) {
  castWith({{1, "text"}});
  castWith({{1, "Kinetiscan"}, {2, "Kinetiscan"}}, movie_);
  world_->movies.setCastCountProperty(movie_, 1);
  member_ = createMember();
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 0) << "only the first cast is walked";
  world_->movies.setCastCountProperty(movie_, std::nullopt);
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 1) << "an unreadable property leaves the movie's own count";
}

TEST_F(CastScan, AMemberTheHostRemovesTakesCaptureWithIt) {
  castWith({{1, "Kinetiscan"}, {2, "Kinetiscan"}});
  member_ = createMember();
  // The second member of the type is a real one; the host destroys it when asked to remove it.
  CastMemberInterface* second = createMember();
  ASSERT_NE(second, nullptr);
  world_->movies.onRemove = [&](std::int32_t, std::int32_t, std::int32_t index) {
    if (index == 2) destroyMember(second);
  };
  ASSERT_EQ(deliver({uniformFrame(10)}), 1);
  EXPECT_EQ(warnings(), 1);
  EXPECT_EQ(second, nullptr);
  // Its destroy closed the module's one capture session, and the member left has no object
  // the module knows as current, so nothing reopens it.
  EXPECT_FALSE(capturing());
  EXPECT_EQ(deliver({uniformFrame(10)}), 0);
}

TEST_F(CastScan, AFrameInsideTheWarningDoesNotStartAnotherScan) {
  castWith({{1, "Kinetiscan"}, {2, "Kinetiscan"}});
  member_ = createMember();
  standin::setFramesPerModalLoop(2);
  // The first frame's scan warns; the two others arrive inside the warning's modal loop.
  ASSERT_EQ(deliver({uniformFrame(10), uniformFrame(20), uniformFrame(30)}), 3);
  EXPECT_EQ(warnings(), 1) << "the frames inside the box did not scan again";
  EXPECT_EQ(world_->movies.removals(movie_, 1), std::vector<std::int32_t>{2});
}

}  // namespace
}  // namespace kinetiscan::scenario
