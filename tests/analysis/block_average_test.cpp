// Block averages over every kind of rect and every kind of frame.
#include "analysis/block_average.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "analysis/pixel_math.h"
#include "analysis_fixture.h"

namespace kinetiscan::testing {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr HostRect kWholeFrame{0, 0, 120, 160};

class BlockAverageTest : public AnalysisTest {
 protected:
  void TearDown() override {
    resetPixelPathForTest();
    AnalysisTest::TearDown();
  }
};

void expectColour(const ColourRecord& colour, int red, int green, int blue) {
  EXPECT_EQ(colour.red, red);
  EXPECT_EQ(colour.green, green);
  EXPECT_EQ(colour.blue, blue);
  EXPECT_EQ(colour.extra, 1);
}

TEST_F(BlockAverageTest, WholeFrameAndRectsReachingOutside) {
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column) setFramePixel(row, column, 30, 200, 242);
  setFramePixel(0, 0, 30, 200, 2);  // red sum 19199 * 242 + 2 = 4646160
  expectColour(blockAverage(BlockSource::frame, kWholeFrame, testFrame()), 241, 200, 30);
  // Plane row -1 is outside but still counted: 4646160 / (121 * 160) = 239.98
  expectColour(blockAverage(BlockSource::frame, {0, 0, 121, 160}, testFrame()), 239, 198, 29);
  // Twenty columns counted, ten of them inside.
  expectColour(blockAverage(BlockSource::frame, {50, 150, 60, 170}, testFrame()), 121, 100, 15);
  expectColour(blockAverage(BlockSource::frame, {-50, 200, 300, 400}, testFrame()), 0, 0, 0);
  // Rows are counted from the bottom: top 119 .. bottom 120 is plane row 0.
  expectColour(blockAverage(BlockSource::frame, {119, 0, 120, 1}, testFrame()), 2, 200, 30);
}

TEST_F(BlockAverageTest, EmptyRectsGiveBlack) {
  frameBytes().assign(kFrameBytes, 255);
  for (const HostRect& rect :
       {HostRect{10, 10, 10, 20}, HostRect{20, 10, 10, 20}, HostRect{10, 20, 20, 20},
        HostRect{10, 30, 20, 20}, HostRect{kMax, kMax, kMin, kMin}, HostRect{0, kMax, 120, kMin}}) {
    expectColour(blockAverage(BlockSource::frame, rect, testFrame()), 0, 0, 0);
    expectColour(blockAverage(BlockSource::retina, rect, testFrame()), 0, 0, 0);
  }
}

TEST_F(BlockAverageTest, ExtremeRectsVisitOnlyTheFrame) {
  frameBytes().assign(kFrameBytes, 255);
  // The areas here exceed 32 bits; wrapped, they would give bright averages.
  expectColour(blockAverage(BlockSource::frame, {kMin, kMin, kMax, kMax}, testFrame()), 0, 0, 0);
  expectColour(blockAverage(BlockSource::frame, {0, kMin, 120, 160}, testFrame()), 0, 0, 0);
  // 2^31 + 120 rows of 2 columns: the area would wrap to 240, the count of pixels inside.
  expectColour(blockAverage(BlockSource::frame, {kMin, 0, 120, 2}, testFrame()), 0, 0, 0);
  // Bottom kMin puts the rows far above the picture.
  expectColour(blockAverage(BlockSource::frame, {kMin, 0, kMin + 1, 160}, testFrame()), 0, 0, 0);
  // A big rect that still leaves a visible average: 255 * 19200 / (120 * 320).
  expectColour(blockAverage(BlockSource::frame, {0, -160, 120, 160}, testFrame()), 127, 127, 127);
}

TEST_F(BlockAverageTest, ShortLongAndMissingFrames) {
  frameBytes().assign(kColumns * kComponents + 1, 255);  // one row and one byte
  expectColour(blockAverage(BlockSource::frame, {119, 0, 121, 1}, testFrame()), 127, 127, 127);
  expectColour(blockAverage(BlockSource::frame, {118, 0, 119, 1}, testFrame()), 0, 0, 255);

  frameBytes().assign(kFrameBytes + 30, 90);
  expectColour(blockAverage(BlockSource::frame, kWholeFrame, testFrame()), 90, 90, 90);

  expectColour(blockAverage(BlockSource::frame, kWholeFrame, FrameView{}), 0, 0, 0);
  expectColour(blockAverage(BlockSource::frame, kWholeFrame, FrameView{nullptr, kFrameBytes}), 0, 0,
               0);
}

TEST_F(BlockAverageTest, PlanesContributeTheirTruncatedBytes) {
  state().retinaPlane[0][0] = {0.999f, 0.5f, 1.0f};
  state().retinaPlane[0][1] = {0.999f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
  expectColour(blockAverage(BlockSource::retina, {119, 0, 120, 1}, testFrame()), 255, 127, 254);
  expectColour(blockAverage(BlockSource::retina, {119, 0, 120, 2}, testFrame()), 127, 127, 254);

  state().differencePlane[119][159] = {0.2f, 0.4f, 0.6f};
  expectColour(blockAverage(BlockSource::difference, {0, 159, 1, 160}, testFrame()), 153, 102, 51);
  expectColour(blockAverage(BlockSource::retina, {0, 159, 1, 160}, testFrame()), 0, 0, 0);
}

// Every path against the stated per-pixel loop, for every source, on random planes and frames
// (with plane values beyond every conversion edge and short frames) and rects inside, across and
// outside.
TEST_F(BlockAverageTest, EveryPathMatchesThePlainLoop) {
  std::mt19937 random(44);
  const auto coordinate = [&](int size) {
    switch (random() % 6) {
      case 0:
        return static_cast<std::int32_t>(random());
      case 1:
        return -static_cast<std::int32_t>(random() % 40);
      default:
        return static_cast<std::int32_t>(random() % (size + 40));
    }
  };
  for (int round = 0; round < 16; ++round) {
    frameBytes().resize(round % 4 == 3 ? random() % kFrameBytes : kFrameBytes);
    for (std::uint8_t& byte : frameBytes()) byte = static_cast<std::uint8_t>(random());
    for (ImagePlane* plane : {&state().retinaPlane, &state().differencePlane}) {
      for (auto& row : *plane) {
        for (auto& pixel : row) {
          for (float& component : pixel) component = adversarialComponent(random);
        }
      }
    }
    for (int i = 0; i < 40; ++i) {
      const HostRect rect = i == 0 ? kWholeFrame
                                   : HostRect{coordinate(kRows), coordinate(kColumns),
                                              coordinate(kRows), coordinate(kColumns)};
      for (BlockSource source :
           {BlockSource::frame, BlockSource::retina, BlockSource::difference}) {
        const ColourRecord want = blockAveragePlain(source, rect, testFrame());
        for (PixelPath path : kPixelPaths) {
          if (!forcePath(path)) continue;
          const ColourRecord got = blockAverage(source, rect, testFrame());
          ASSERT_TRUE(want.red == got.red && want.green == got.green && want.blue == got.blue &&
                      want.extra == got.extra)
              << "round " << round << " rect " << i << " source " << static_cast<int>(source)
              << " path " << static_cast<int>(path);
        }
      }
    }
  }
}

}  // namespace
}  // namespace kinetiscan::testing
