// Colour bounds over the camera plane and their centre point.
#include "analysis/colour_bounds.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>

#include "analysis/pixel_math.h"
#include "analysis_fixture.h"

namespace kinetiscan::testing {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

class ColourBoundsTest : public AnalysisTest {
 protected:
  static void paint(int row, int column, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    state().cameraPlane[row][column] = {byteToComponent(blue), byteToComponent(green),
                                        byteToComponent(red)};
  }
};

void expectRect(const HostRect& rect, int top, int left, int bottom, int right) {
  EXPECT_EQ(rect.top, top);
  EXPECT_EQ(rect.left, left);
  EXPECT_EQ(rect.bottom, bottom);
  EXPECT_EQ(rect.right, right);
}

TEST_F(ColourBoundsTest, NoMatchGivesTheEmptyRectAndItsCentre) {
  const HostRect rect = colourBounds(255, 255, 255, 10, false);  // the plane is all black
  expectRect(rect, 120, 0, 120, 0);
  const HostPoint centre = colourBoundsCentre(rect);
  EXPECT_EQ(centre.vertical, 120);
  EXPECT_EQ(centre.horizontal, 0);
}

TEST_F(ColourBoundsTest, ToleranceAtAndBelowZero) {
  for (std::int32_t tolerance : {0, -1, kMin}) {
    expectRect(colourBounds(0, 0, 0, tolerance, false), 120, 0, 120, 0);
    expectRect(colourBounds(0, 0, 0, tolerance, true), 120, 0, 1, 159);
  }
  expectRect(colourBounds(255, 0, 255, kMax, false), 120, 0, 1, 159);
  expectRect(colourBounds(255, 0, 255, kMax, true), 120, 0, 120, 0);
}

TEST_F(ColourBoundsTest, ToleranceOneMatchesDifferencesSummingToAtMostTwo) {
  paint(10, 20, 101, 99, 100);   // sum 2, one of them below the target
  paint(30, 40, 101, 101, 101);  // sum 3
  expectRect(colourBounds(100, 100, 100, 1, false), 110, 20, 110, 20);
  const HostRect inverted = colourBounds(100, 100, 100, 1, true);
  expectRect(inverted, 120, 0, 1, 159);
}

TEST_F(ColourBoundsTest, ExtremesOfSeveralPixelsAndTheirCentre) {
  paint(5, 100, 200, 10, 10);
  paint(30, 7, 205, 5, 15);
  paint(17, 50, 190, 15, 5);
  const HostRect rect = colourBounds(200, 10, 10, 10, false);
  expectRect(rect, 115, 7, 90, 100);
  const HostPoint centre = colourBoundsCentre(rect);
  EXPECT_EQ(centre.vertical, 102);
  EXPECT_EQ(centre.horizontal, 53);

  // The inverse of a few pixels still spans the frame.
  expectRect(colourBounds(200, 10, 10, 10, true), 120, 0, 1, 159);
}

TEST_F(ColourBoundsTest, ArgumentsOutsideTheirRangeAreSafe) {
  // Distances near 2^31 would overflow in 32 bits.
  expectRect(colourBounds(kMin, kMin, kMin, kMax, false), 120, 0, 120, 0);
  expectRect(colourBounds(kMax - 1, kMax - 1, kMax - 1, kMax, false), 120, 0, 1, 159);
  // A plane spoilt by NaN reads as black.
  state().cameraPlane[0][0] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
  expectRect(colourBounds(0, 0, 0, 1, true), 120, 0, 120, 0);

  const HostPoint high = colourBoundsCentre({kMax, kMax, kMax, kMax});
  EXPECT_EQ(high.vertical, kMax);
  EXPECT_EQ(high.horizontal, kMax);
  const HostPoint low = colourBoundsCentre({kMin, kMin, kMax, kMin});
  EXPECT_EQ(low.vertical, 0);
  EXPECT_EQ(low.horizontal, kMin);
  EXPECT_EQ(colourBoundsCentre({-3, 0, 0, 0}).vertical, -1);  // truncates toward zero
}

// The row-wise pass against the stated per-pixel loop: frame values, values just off them, and
// any bit pattern (NaN, huge, negative), with colours and tolerances around every boundary.
TEST_F(ColourBoundsTest, RowWisePassMatchesThePlainLoop) {
  std::mt19937 random(43);
  const std::int32_t tolerances[] = {kMin, -1, 0, 1, 2, 3, 10, 85, 86, 255, 256, kMax};
  for (int round = 0; round < 24; ++round) {
    for (auto& row : state().cameraPlane) {
      for (auto& pixel : row) {
        for (float& component : pixel) {
          const auto byte = static_cast<std::uint8_t>(random());
          switch (round % 3) {
            case 0:
              component = byteToComponent(byte);
              break;
            case 1:
              component = std::nextafter(byteToComponent(byte), random() % 2 ? 2.0f : -1.0f);
              break;
            default:
              component = random() % 8 == 0
                              ? std::bit_cast<float>(static_cast<std::uint32_t>(random()))
                              : byteToComponent(byte);
          }
        }
      }
    }
    for (std::int32_t tolerance : tolerances) {
      const int red = static_cast<int>(random() % 256);
      const int green = round == 5 ? -1 : static_cast<int>(random() % 256);
      const int blue = round == 7 ? 256 : static_cast<int>(random() % 256);
      for (bool invert : {false, true}) {
        const HostRect want = colourBoundsPlain(red, green, blue, tolerance, invert);
        const HostRect got = colourBounds(red, green, blue, tolerance, invert);
        ASSERT_TRUE(want.top == got.top && want.left == got.left && want.bottom == got.bottom &&
                    want.right == got.right)
            << "round " << round << " tolerance " << tolerance << " invert " << invert;
      }
    }
  }
}

}  // namespace
}  // namespace kinetiscan::testing
