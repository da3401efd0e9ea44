// Colour bounds over the camera plane and their centre point.
#include "analysis/colour_bounds.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>

#include "analysis/pixel_math.h"
#include "analysis_fixture.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace kinetiscan::testing {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

class ColourBoundsTest : public AnalysisTest {
 protected:
  void TearDown() override {
    resetPixelPathForTest();
    AnalysisTest::TearDown();
  }
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

// Every path against the stated per-pixel loop: planes of frame values, of values off them and
// beyond every conversion edge, and of a few near pixels on a far background (and the reverse, for
// invert) so that the first and last column fall anywhere; tolerances around every boundary,
// among them the largest limit the matchers take on bytes (85) and the smallest they widen for
// (86); colours outside 0..255.
TEST_F(ColourBoundsTest, EveryPathMatchesThePlainLoop) {
  std::mt19937 random(43);
  const std::int32_t tolerances[] = {kMin, -1, 0, 1, 2, 3, 10, 85, 86, 128, 255, 256, kMax};
  for (int round = 0; round < 30; ++round) {
    const int red = static_cast<int>(random() % 256);
    const int green = round == 5 ? -1 : static_cast<int>(random() % 256);
    const int blue = round == 7 ? 256 : static_cast<int>(random() % 256);
    const bool sparse = round % 3 == 2;
    const auto far = [](int value) { return static_cast<std::uint8_t>(value ^ 0x80); };
    for (int row = 0; row < kRows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        if (!sparse) {
          for (float& component : state().cameraPlane[row][column]) {
            component = adversarialComponent(random);
          }
        } else if (round % 2 == 0) {
          paint(row, column, far(red), far(green), far(blue));
        } else {
          paint(row, column, static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                static_cast<std::uint8_t>(blue));
        }
      }
    }
    if (sparse) {
      for (int i = 0; i < 6; ++i) {
        const int row = static_cast<int>(random() % kRows);
        const int column = i == 0   ? 0
                           : i == 1 ? kColumns - 1
                                    : static_cast<int>(random() % kColumns);
        const auto near = [&](int value) {
          return static_cast<std::uint8_t>(value + random() % 3);
        };
        if (round % 2 == 0) {
          paint(row, column, near(red), near(green), near(blue));
        } else {
          paint(row, column, far(red), far(green), far(blue));
        }
      }
    }
    for (std::int32_t tolerance : tolerances) {
      for (bool invert : {false, true}) {
        const HostRect want = colourBoundsPlain(red, green, blue, tolerance, invert);
        for (PixelPath path : kPixelPaths) {
          if (!forcePath(path)) continue;
          const HostRect got = colourBounds(red, green, blue, tolerance, invert);
          ASSERT_TRUE(want.top == got.top && want.left == got.left && want.bottom == got.bottom &&
                      want.right == got.right)
              << "round " << round << " tolerance " << tolerance << " invert " << invert << " path "
              << static_cast<int>(path);
        }
      }
    }
  }
}

#if defined(__i386__) || defined(__x86_64__)
// A host may run with another rounding, subnormals flushed and exception flags raised. Every path
// then finds what the plain loop finds under the default state, and the host gets its own back.
TEST_F(ColourBoundsTest, EveryPathLeavesTheHostsFloatingPointStateAsItWas) {
  std::mt19937 random(7);
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      paint(row, column, static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
            static_cast<std::uint8_t>(random()));
    }
  }
  const HostRect want = colourBoundsPlain(120, 130, 140, 20, false);
  const unsigned normal = _mm_getcsr();
  // Rounding down, then toward zero, both with flush-to-zero and denormals-are-zero, and a flag up.
  for (unsigned host : {(normal & ~0x6000u) | 0x2000u | 0x8040u | 0x20u, normal | 0xE060u}) {
    for (PixelPath path : kPixelPaths) {
      if (!forcePath(path)) continue;
      _mm_setcsr(host);
      const HostRect got = colourBounds(120, 130, 140, 20, false);
      const unsigned after = _mm_getcsr();
      _mm_setcsr(normal);
      EXPECT_EQ(after, host) << "path " << static_cast<int>(path);
      EXPECT_TRUE(want.top == got.top && want.left == got.left && want.bottom == got.bottom &&
                  want.right == got.right)
          << "path " << static_cast<int>(path);
    }
  }
}
#endif

}  // namespace
}  // namespace kinetiscan::testing
