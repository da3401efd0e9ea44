// Tracking accuracy against the built-in scene's ground truth.
#include "accuracy.h"

#include <gtest/gtest.h>

namespace kinetiscan::play {
namespace {

camera::Disc disc(double row, double column, double radius) {
  return camera::Disc{row, column, radius, 0, 0, 0};
}

TEST(TruthDiscs, CentresTurnIntoScriptCoordinates) {
  camera::GroundTruth truth;
  truth.discs = {disc(30, 40, 8)};
  const std::vector<TruthDisc> discs = truthDiscs(truth);
  ASSERT_EQ(discs.size(), 1u);
  EXPECT_EQ(discs[0].vertical, 90) << "row 30 from the bottom is 120 - 30 from the top";
  EXPECT_EQ(discs[0].horizontal, 40);
  EXPECT_NEAR(discs[0].area, 3.14159 * 64, 12);
  EXPECT_FALSE(discs[0].touching);
}

TEST(TruthDiscs, AreasCountOnlyWhatTheFrameShows) {
  camera::GroundTruth truth;
  truth.discs = {disc(60, 40, 10), disc(60, 80, 10), disc(0, 0, 10), disc(60, 84, 10)};
  const std::vector<TruthDisc> discs = truthDiscs(truth);
  EXPECT_LT(discs[2].area * 3, discs[0].area) << "a disc in the corner shows a quarter";
  EXPECT_LT(discs[1].area * 3, discs[0].area) << "most of it is painted over by the last disc";
  EXPECT_EQ(discs[3].area, discs[0].area);
  EXPECT_TRUE(discs[1].touching && discs[3].touching);
  EXPECT_FALSE(discs[0].touching || discs[2].touching);
}

TEST(TruthDiscs, DiscsTouchWhenTheirPixelsAreNeighbours) {
  camera::GroundTruth truth;
  // Radius 5 covers columns 35-45 on row 60; the second disc starts at column 46 or 47.
  truth.discs = {disc(60, 40, 5), disc(60, 51, 5)};
  EXPECT_TRUE(truthDiscs(truth)[0].touching);
  truth.discs = {disc(60, 40, 5), disc(60, 52, 5)};
  EXPECT_FALSE(truthDiscs(truth)[0].touching);
  // Single pixels: diagonal neighbours are 8-connected, a gap of one pixel is not.
  truth.discs = {disc(60, 40, 0.5), disc(61, 41, 0.5), disc(59, 43, 0.5)};
  const std::vector<TruthDisc> pixels = truthDiscs(truth);
  EXPECT_TRUE(pixels[0].touching && pixels[1].touching);
  EXPECT_FALSE(pixels[2].touching);
}

TEST(MatchFrame, EachCentreServesOneDiscNearestFirst) {
  const std::vector<TruthDisc> discs = {{50, 50, 10, 300, false}, {50, 62, 10, 300, false}};
  const FrameMatch match = matchFrame(discs, 100, {{50, 60}});
  EXPECT_EQ(match.present, 2);
  EXPECT_EQ(match.found, 1);
  ASSERT_EQ(match.errors.size(), 1u);
  EXPECT_DOUBLE_EQ(match.errors[0], 2.0) << "the nearer disc takes the centre";
  EXPECT_EQ(match.unmatched, 0);
}

TEST(MatchFrame, FarCentresSmallDiscsAndTouchingDiscsAreKeptApart) {
  const std::vector<TruthDisc> discs = {
      {50, 50, 10, 300, false}, {20, 20, 10, 99, false}, {90, 90, 10, 300, true}};
  const FrameMatch match = matchFrame(discs, 100, {{50, 61}, {53, 54}, {90, 90}});
  EXPECT_EQ(match.present, 1) << "the small disc is below mindensity, the touching one apart";
  EXPECT_EQ(match.touching, 1);
  EXPECT_EQ(match.found, 1);
  EXPECT_DOUBLE_EQ(match.errors[0], 5.0);
  EXPECT_EQ(match.unmatched, 2) << "outside the radius, and the touching disc's region";
}

TEST(AccuracyTally, SumsFramesAndErrors) {
  AccuracyTally tally;
  FrameMatch all;
  all.present = 2, all.found = 2, all.errors = {1.0, 2.0};
  FrameMatch missed;
  missed.present = 2, missed.found = 1, missed.errors = {3.0}, missed.unmatched = 1;
  tally.add(all);
  tally.add(missed);
  EXPECT_EQ(tally.frames(), 2);
  EXPECT_EQ(tally.present(), 4);
  EXPECT_EQ(tally.found(), 3);
  EXPECT_EQ(tally.framesAllFound(), 1);
  EXPECT_EQ(tally.unmatched(), 1);
  EXPECT_DOUBLE_EQ(tally.meanError(), 2.0);
  EXPECT_DOUBLE_EQ(tally.maxError(), 3.0);
  EXPECT_EQ(AccuracyTally().meanError(), 0.0);
}

TEST(AccuracyTally, CountsIdSwitchesAndFragmentationsPerDisc) {
  AccuracyTally tally;
  auto frame = [&tally](std::vector<int> centreOfDisc, std::vector<std::int32_t> ids) {
    FrameMatch match;
    match.centreOfDisc = std::move(centreOfDisc);
    tally.addIds(match, ids);
  };
  frame({0, 1}, {7, 8});
  frame({1, 0}, {8, 7});  // scan order swapped, ids followed: no switch
  frame({0, -1}, {7});    // disc 2 present but not found
  frame({0, -2}, {7});    // disc 2 not judged (touching): neither found nor lost
  frame({0, 1}, {7, 9});  // disc 2 found again, under another id
  frame({0, -1}, {9});    // disc 1 now carries disc 2's id
  EXPECT_EQ(tally.idSwitchesPerDisc(), (std::vector<int>{1, 1}));
  EXPECT_EQ(tally.fragmentationsPerDisc(), (std::vector<int>{0, 1}));
  EXPECT_EQ(tally.idSwitches(), 2);
  EXPECT_EQ(tally.fragmentations(), 1);
}

}  // namespace
}  // namespace kinetiscan::play
