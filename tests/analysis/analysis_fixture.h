// A clean analysis state per test and a frame the test owns, handed to the analysis by testFrame().
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "analysis/analysis_state.h"
#include "analysis/frame_view.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

namespace kinetiscan::testing {

inline constexpr PixelPath kPixelPaths[] = {PixelPath::plain, PixelPath::sse2, PixelPath::avx2,
                                            PixelPath::avx512};

// Whether the processor and the system offer a path, asked of the compiler's runtime rather than of
// the library: a path the library wrongly refuses then fails a comparison instead of skipping it.
inline bool processorHas(PixelPath path) {
#if defined(__i386__) || defined(__x86_64__)
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  switch (path) {
    case PixelPath::plain:
    case PixelPath::sse2:
      return true;
    case PixelPath::avx2:
      return avx2;
    case PixelPath::avx512:
      return avx2 && __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return path == PixelPath::plain;
#endif
}

// Forces a path for a comparison: false where the processor lacks it, and a failure where the
// library does not offer exactly the paths the processor has.
inline bool forcePath(PixelPath path) {
  const bool has = processorHas(path);
  const bool forced = setPixelPathForTest(path);
  EXPECT_EQ(forced, has) << "path " << static_cast<int>(path)
                         << " offered by the library: " << forced << ", by the processor: " << has;
  return forced && has;
}

// A plane component for the conversion to 8-bit values: mostly a frame byte's, otherwise one just
// off it or one from either side of each edge the conversion treats apart (32 bits once scaled,
// the infinities, NaN, signed zero, values outside 0..1 whose low byte wraps).
inline float adversarialComponent(std::mt19937& random) {
  using Limits = std::numeric_limits<float>;
  static constexpr float kEdges[] = {kFitsInt32,
                                     -kFitsInt32,
                                     8421504.0f,
                                     -8421504.0f,
                                     Limits::infinity(),
                                     -Limits::infinity(),
                                     Limits::quiet_NaN(),
                                     -0.0f,
                                     -kByteScale,
                                     256 * kByteScale,
                                     1e30f,
                                     Limits::denorm_min()};
  const auto byte = static_cast<std::uint8_t>(random());
  switch (random() % 16) {
    case 0:
      return kEdges[random() % std::size(kEdges)];
    case 1:
      return std::nextafter(byteToComponent(byte), random() % 2 ? 2.0f : -1.0f);
    case 2:
      return std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    default:
      return byteToComponent(byte);
  }
}

class AnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAnalysisStateForTest();
    frameBytes().assign(kFrameBytes, 0);
    frameMissing() = false;
  }
  void TearDown() override { resetAnalysisStateForTest(); }

  static std::vector<std::uint8_t>& frameBytes() {
    static std::vector<std::uint8_t> bytes;
    return bytes;
  }
  // Set, the test frame is no frame: as the capture session gives while closed.
  static bool& frameMissing() {
    static bool missing = false;
    return missing;
  }
  static FrameView testFrame() {
    if (frameMissing()) return {};
    return {frameBytes().data(), static_cast<std::uint32_t>(frameBytes().size())};
  }
  static void setFramePixel(int row, int column, std::uint8_t blue, std::uint8_t green,
                            std::uint8_t red) {
    const std::size_t first = (static_cast<std::size_t>(row) * kColumns + column) * kComponents;
    frameBytes()[first] = blue;
    frameBytes()[first + 1] = green;
    frameBytes()[first + 2] = red;
  }

  static AnalysisState& state() { return analysisState(); }
  static void setMask(int row, int column, float value = 1.0f) {
    state().globsPlane[row][column] = {value, value, value};
  }
};

}  // namespace kinetiscan::testing
