// Stable region ids: the host's rect as a picture box, ids that survive crossings in scan order
// and short absences, and new ids after a long one.
#include "region_tracker.h"

#include <gtest/gtest.h>

namespace kinetiscan::play {
namespace {

TEST(RegionTracker, TheHostsRectBecomesAnInclusiveTopDownBox) {
  // Plane rows 4..10 and columns 21..30, as scripts get it: top 110, left 30, bottom 116, right 21.
  const PictureBox box = pictureBox(HostRect{110, 30, 116, 21});
  EXPECT_EQ(box.x, 21);
  EXPECT_EQ(box.y, 109) << "picture row 119 - 10";
  EXPECT_EQ(box.width, 10);
  EXPECT_EQ(box.height, 7);
}

TEST(RegionTracker, IdsFollowRegionsThroughReorderingAndShortAbsences) {
  RegionTracker tracker(TrackerSettings{24.0, 2});
  auto square = [](int x, int y) { return PictureBox{x, y, 10, 10}; };
  EXPECT_EQ(tracker.update({square(10, 50), square(100, 50)}), (std::vector<std::int32_t>{1, 2}));
  // They move towards each other; scan order lists them the other way round.
  EXPECT_EQ(tracker.update({square(94, 52), square(16, 48)}), (std::vector<std::int32_t>{2, 1}));
  // Region 2 is hidden for two frames, then comes back near where it was.
  EXPECT_EQ(tracker.update({square(22, 48)}), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(tracker.update({square(28, 48)}), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(tracker.update({square(85, 52), square(34, 48)}), (std::vector<std::int32_t>{2, 1}));
  // Gone longer than the grace: a new id; and one far from every track is new as well.
  for (int i = 0; i < 3; ++i) tracker.update({square(40, 48)});
  EXPECT_EQ(tracker.update({square(80, 52), square(46, 48)}), (std::vector<std::int32_t>{3, 1}));
  EXPECT_EQ(tracker.update({square(80, 52), square(52, 48), square(140, 5)}),
            (std::vector<std::int32_t>{3, 1, 4}));
}

}  // namespace
}  // namespace kinetiscan::play
