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

// Two regions meet and are one for a while: the merged region keeps the older id and carries the
// other; when it splits, each part takes back its own id, judged by where each was heading.
TEST(RegionTracker, IdsComeBackAfterAMergeSplits) {
  struct Frame {
    std::vector<PictureBox> boxes;
    std::vector<std::int32_t> ids;
    std::vector<std::vector<std::int32_t>> merged;
  };
  auto at = [](int x) { return PictureBox{x, 50, 10, 10}; };
  auto span = [](int from, int to) { return PictureBox{from, 50, to - from + 1, 10}; };
  const std::vector<Frame> approach{
      {{at(20), at(100)}, {1, 2}, {{}, {}}}, {{at(26), at(94)}, {1, 2}, {{}, {}}},
      {{at(32), at(88)}, {1, 2}, {{}, {}}},  {{at(38), at(82)}, {1, 2}, {{}, {}}},
      {{at(44), at(76)}, {1, 2}, {{}, {}}},  {{at(50), at(70)}, {1, 2}, {{}, {}}}};
  struct Case {
    const char* what;
    std::vector<Frame> after;
  };
  const Case cases[] = {
      // They pass through each other: after the split the left part is the one that came from
      // the right (a tracker matching by overlap alone swaps them).
      {"crossing",
       {{{span(56, 73)}, {1}, {{2}}},
        {{span(58, 71)}, {1}, {{2}}},
        {{span(52, 77)}, {1}, {{2}}},
        {{at(46), at(74)}, {2, 1}, {{}, {}}},
        {{at(40), at(80)}, {2, 1}, {{}, {}}}}},
      // They touch for a frame and go back the way they came.
      {"touching", {{{span(50, 79)}, {1}, {{2}}}, {{at(46), at(74)}, {1, 2}, {{}, {}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegionTracker tracker;
    std::vector<Frame> frames = approach;
    frames.insert(frames.end(), c.after.begin(), c.after.end());
    for (std::size_t f = 0; f < frames.size(); ++f) {
      SCOPED_TRACE("frame " + std::to_string(f));
      EXPECT_EQ(tracker.update(frames[f].boxes), frames[f].ids);
      EXPECT_EQ(tracker.merged(), frames[f].merged);
    }
  }
}

}  // namespace
}  // namespace kinetiscan::play
