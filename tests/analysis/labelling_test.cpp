// Region labelling: the cases at the limits, and random masks against the plain reference.
#include "analysis/labelling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "analysis_fixture.h"
#include "reference_labelling.h"

namespace kinetiscan::testing {
namespace {

class LabellingTest : public AnalysisTest {
 protected:
  // Isolated pixels on even rows and columns, `regions` of them, filled row by row.
  void dotRegions(int regions) {
    for (int i = 0; i < regions; ++i) setMask(i / 80 * 2, i % 80 * 2);
  }
  const BlobBox& record(int label) { return state().blobBoxes[label]; }
  std::int32_t labelAt(int row, int column) { return state().labelMap[row * kColumns + column]; }

  // Labels the mask and compares count, label map and records with the plain reference.
  void expectReferenceLabelling(std::int32_t mindensity, int round) {
    const Labelling expected = referenceLabelling(state().globsPlane, mindensity);
    labelBlobs();
    ASSERT_EQ(state().blobCount, expected.count) << round;
    ASSERT_TRUE(state().labelMap == expected.labels) << round;
    for (std::size_t i = 0; i < expected.boxes.size(); ++i) {
      const BlobBox& box = record(static_cast<int>(i) + 1);
      const BlobBox& want = expected.boxes[i];
      ASSERT_TRUE(box.maxRow == want.maxRow && box.maxCol == want.maxCol &&
                  box.minRow == want.minRow && box.minCol == want.minCol)
          << "round " << round << " label " << i + 1;
    }
  }
};

void expectBox(const BlobBox& box, int maxRow, int maxCol, int minRow, int minCol) {
  EXPECT_EQ(box.maxRow, maxRow);
  EXPECT_EQ(box.maxCol, maxCol);
  EXPECT_EQ(box.minRow, minRow);
  EXPECT_EQ(box.minCol, minCol);
}

TEST_F(LabellingTest, EmptyAndFullMasks) {
  state().labelMap.fill(9);  // stale labels from an earlier frame are not trusted
  labelBlobs();
  EXPECT_EQ(state().blobCount, 1);
  for (std::int32_t label : state().labelMap) ASSERT_EQ(label, 0);

  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column) setMask(row, column);
  labelBlobs();
  EXPECT_EQ(state().blobCount, 2);
  expectBox(record(1), 119, 159, 0, 0);
  for (std::int32_t label : state().labelMap) ASSERT_EQ(label, 1);
}

TEST_F(LabellingTest, DiagonalNeighboursJoinAndLabelsFollowTheFirstPixel) {
  state().parameters.mindensity = 1;
  setMask(0, 0);
  setMask(1, 1);  // touches (0, 0) at a corner only
  setMask(0, 100);
  setMask(1, 99);  // the other diagonal
  setMask(0, 3);   // isolated
  labelBlobs();
  EXPECT_EQ(state().blobCount, 4);
  EXPECT_EQ(labelAt(0, 0), 1);
  EXPECT_EQ(labelAt(1, 1), 1);
  EXPECT_EQ(labelAt(0, 3), 2);
  EXPECT_EQ(labelAt(0, 100), 3);
  EXPECT_EQ(labelAt(1, 99), 3);
  expectBox(record(3), 1, 100, 0, 99);

  // Two arms that meet only higher up are one region, numbered by the left arm's first pixel.
  resetAnalysisStateForTest();
  state().parameters.mindensity = 1;
  for (int row = 0; row < 5; ++row) setMask(row, 50), setMask(row, 10);
  for (int column = 10; column <= 50; ++column) setMask(5, column);
  setMask(2, 30);
  labelBlobs();
  EXPECT_EQ(state().blobCount, 3);
  EXPECT_EQ(labelAt(0, 50), 1);
  EXPECT_EQ(labelAt(2, 30), 2);
}

TEST_F(LabellingTest, MindensityKeepsEqualCountsAndDiscardsSmallerWithoutRenumbering) {
  state().parameters.mindensity = 4;
  for (int column = 0; column < 3; ++column) setMask(0, column);        // 3 pixels: discarded
  for (int column = 10; column < 14; ++column) setMask(0, column);      // 4 pixels: kept
  setMask(5, 5);                                                        // 1 pixel: discarded
  for (int row = 8; row < 10; ++row) setMask(row, 0), setMask(row, 1);  // 4 pixels: kept
  labelBlobs();
  EXPECT_EQ(state().blobCount, 5);
  EXPECT_EQ(record(1).maxRow, -1);
  EXPECT_EQ(record(1).maxCol, 2);  // the other fields keep what was found
  EXPECT_EQ(record(1).minCol, 0);
  expectBox(record(2), 0, 13, 0, 10);
  EXPECT_EQ(record(3).maxRow, -1);
  expectBox(record(4), 9, 1, 8, 0);
  EXPECT_EQ(labelAt(0, 1), 0);
  EXPECT_EQ(labelAt(0, 12), 2);
  EXPECT_EQ(labelAt(5, 5), 0);
  EXPECT_EQ(labelAt(9, 1), 4);
  EXPECT_EQ(state().globsPlane[0][1][0], 1.0f);  // the mask keeps discarded regions

  for (std::int32_t mindensity : {1, 0, std::numeric_limits<std::int32_t>::min()}) {
    state().parameters.mindensity = mindensity;
    labelBlobs();
    for (int label = 1; label < 5; ++label) EXPECT_NE(record(label).maxRow, -1) << mindensity;
  }
}

TEST_F(LabellingTest, RecordsStopAt1022Regions) {
  dotRegions(1022);
  state().parameters.mindensity = 1;
  labelBlobs();
  EXPECT_EQ(state().blobCount, 1023);
  expectBox(record(1022), 24, 122, 24, 122);  // region 1022 sits at row 12 * 2, column 61 * 2

  resetAnalysisStateForTest();
  dotRegions(1023);
  for (auto& box : state().blobBoxes) box = {7, 7, 7, 7};
  labelBlobs();  // every region is below the default mindensity, yet none is discarded
  EXPECT_EQ(state().blobCount, 1024);
  for (const auto& box : state().blobBoxes) ASSERT_EQ(box.maxRow, 7);
  EXPECT_EQ(labelAt(0, 0), 1);
  EXPECT_EQ(labelAt(24, 124), 1023);
}

TEST_F(LabellingTest, MostRegionsAFrameCanHold) {
  dotRegions(4800);
  labelBlobs();
  EXPECT_EQ(state().blobCount, 4801);
  EXPECT_EQ(labelAt(118, 158), 4800);
}

TEST_F(LabellingTest, ChessboardIsOneRegionThroughItsCorners) {
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column)
      if ((row + column) % 2 == 1) setMask(row, column);
  labelBlobs();
  EXPECT_EQ(state().blobCount, 2);
  expectBox(record(1), 119, 159, 0, 0);
  EXPECT_EQ(labelAt(0, 1), 1);
  EXPECT_EQ(labelAt(0, 0), 0);
}

TEST_F(LabellingTest, OnlyComponentZeroDecides) {
  state().parameters.mindensity = 1;
  state().globsPlane[0][0] = {0.0f, 1.0f, 1.0f};
  state().globsPlane[0][5] = {-0.0f, 0.0f, 0.0f};
  state().globsPlane[0][9] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
  labelBlobs();
  EXPECT_EQ(state().blobCount, 2);
  EXPECT_EQ(labelAt(0, 9), 1);
}

TEST_F(LabellingTest, MatchesThePlainReferenceOnRandomMasks) {
  std::mt19937 random(2024);
  const double densities[] = {0.02, 0.1, 0.3, 0.45, 0.55, 0.7, 0.9};
  const std::int32_t mindensities[] = {100, 1, 3, 0, 12, -1, 40};
  for (int round = 0; round < 28; ++round) {
    resetAnalysisStateForTest();
    std::bernoulli_distribution moving(densities[round % 7]);
    for (int row = 0; row < kRows; ++row)
      for (int column = 0; column < kColumns; ++column)
        if (moving(random)) setMask(row, column);
    // Some rounds grow blocks so that regions get large and oddly shaped.
    if (round % 4 == 3) {
      for (int row = kRows - 1; row > 0; --row)
        for (int column = kColumns - 1; column > 0; --column)
          if (state().globsPlane[row - 1][column - 1][0] != 0.0f) setMask(row, column);
    }
    state().parameters.mindensity = mindensities[round % 7];
    expectReferenceLabelling(mindensities[round % 7], round);
    if (HasFatalFailure()) return;
  }
}

// Masks aimed at the fast paths: specks beside longer runs in one word, runs across the word
// boundaries of a row, rows just below and above the number of runs whose gaps are written, and
// a stale label map from a busier frame before each call.
TEST_F(LabellingTest, MatchesThePlainReferenceOnAdversarialMasks) {
  std::mt19937 random(77);
  const std::int32_t mindensities[] = {1, 2, 5, 100, 0};
  for (int round = 0; round < 40; ++round) {
    resetAnalysisStateForTest();
    for (int row = 0; row < kRows; ++row) {
      switch ((row + round) % 6) {
        case 0:  // specks only, at random even columns
          for (int column = 0; column < kColumns; column += 2)
            if (random() % 3 == 0) setMask(row, column);
          break;
        case 1:  // runs that start or end on either side of every word boundary
          for (int boundary = 32; boundary < kColumns; boundary += 32) {
            const int from = boundary - 1 - static_cast<int>(random() % 3);
            const int to = boundary + static_cast<int>(random() % 3);
            for (int column = from; column <= to; ++column) setMask(row, column);
          }
          break;
        case 2:  // a number of runs around the gap-writing limit
          for (int run = 0; run < 3 + round % 4; ++run) {
            const int column = static_cast<int>(random() % (kColumns - 4));
            for (int i = 0; i < 1 + run % 3; ++i) setMask(row, column + i);
          }
          break;
        case 3:  // specks and runs mixed in one word
          for (int column = 0; column < kColumns; ++column)
            if (random() % 4 != 0 && column % 5 != 0) setMask(row, column);
          break;
        case 4:  // diagonal pieces that join only through corners
          for (int column = row % 2; column < kColumns; column += 2) setMask(row, column);
          break;
        default:  // an empty row or a full one
          if (round % 2 == 0)
            for (int column = 0; column < kColumns; ++column) setMask(row, column);
      }
    }
    const std::int32_t mindensity = mindensities[round % 5];
    state().parameters.mindensity = mindensity;
    state().labelMap.fill(-7);
    expectReferenceLabelling(mindensity, round);
    if (HasFatalFailure()) return;
    // The parameters lie just past the map: writing beyond its last row would change them.
    const AnalysisParameters& parameters = state().parameters;
    ASSERT_TRUE(parameters.adaptivity == AnalysisParameters{}.adaptivity &&
                parameters.sensitivity == AnalysisParameters{}.sensitivity &&
                parameters.mindensity == mindensity)
        << round;
  }
}

// A sparse frame after the most crowded one: nothing of the earlier frame's runs may leak in.
TEST_F(LabellingTest, SparseFrameAfterACrowdedOneIsLabelledAfresh) {
  state().parameters.mindensity = 1;
  dotRegions(4800);
  labelBlobs();
  resetAnalysisStateForTest();
  state().parameters.mindensity = 1;
  setMask(3, 40);
  setMask(4, 41);
  labelBlobs();
  EXPECT_EQ(state().blobCount, 2);
  expectBox(record(1), 4, 41, 3, 40);
  int labelled = 0;
  for (std::int32_t label : state().labelMap) labelled += label != 0;
  EXPECT_EQ(labelled, 2);
}

}  // namespace
}  // namespace kinetiscan::testing
