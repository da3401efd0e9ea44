// A 32-bit Windows host may call with its stack aligned to 4 bytes only. The analysis and the
// measurements must then still run every pixel path (the wide ones keep 16- and 32-byte values on
// the stack) and give the same results as from an aligned stack. Only the i686 build can be called
// that way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/block_average.h"
#include "analysis/colour_bounds.h"
#include "analysis/frame_analysis.h"
#include "analysis/pixel_pass.h"
#include "analysis_fixture.h"

namespace kinetiscan::testing {
namespace {

#if defined(__i386__)
// Calls `function` with the stack pointer `offset` bytes below a 32-byte boundary.
void callWithStackOffset(void (*function)(), std::uint32_t offset) {
  asm volatile(
      "mov %%esp, %%esi\n\t"
      "and $-32, %%esp\n\t"
      "sub %1, %%esp\n\t"
      "call *%0\n\t"
      "mov %%esi, %%esp\n\t"
      :
      : "r"(function), "r"(offset)
      : "esi", "eax", "ecx", "edx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
        "xmm6", "xmm7");
}

using StackAlignmentTest = AnalysisTest;

TEST_F(StackAlignmentTest, EveryPathRunsFromAMisalignedStack) {
  std::mt19937 random(4);
  for (std::uint8_t& byte : frameBytes()) byte = static_cast<std::uint8_t>(random());
  const std::vector<std::uint8_t> before(reinterpret_cast<const std::uint8_t*>(&state()),
                                         reinterpret_cast<const std::uint8_t*>(&state() + 1));
  analyseFrame(testFrame());
  const std::vector<std::uint8_t> aligned(reinterpret_cast<const std::uint8_t*>(&state()),
                                          reinterpret_cast<const std::uint8_t*>(&state() + 1));
  for (PixelPath path : {PixelPath::sse2, PixelPath::avx2, PixelPath::avx512}) {
    if (!forcePath(path)) continue;
    for (std::uint32_t offset = 4; offset < 32; offset += 4) {
      std::memcpy(&state(), before.data(), before.size());
      callWithStackOffset(
          +[] { analyseFrame(testFrame()); }, offset);
      ASSERT_EQ(std::memcmp(&state(), aligned.data(), aligned.size()), 0)
          << "path " << static_cast<int>(path) << " offset " << offset;
    }
  }
  resetPixelPathForTest();
}

// The measurements' results, as one set of bytes.
struct Measured {
  HostRect bounds;
  ColourRecord blocks[3];
};
Measured measured;
FrameView measuredFrame;

void measure() {
  measured.bounds = colourBounds(200, 100, 50, 60, false);
  const BlockSource sources[] = {BlockSource::frame, BlockSource::retina, BlockSource::difference};
  for (int i = 0; i < 3; ++i)
    measured.blocks[i] = blockAverage(sources[i], {5, 3, 97, 151}, measuredFrame);
}

TEST_F(StackAlignmentTest, EveryPathMeasuresFromAMisalignedStack) {
  std::mt19937 random(5);
  for (std::uint8_t& byte : frameBytes()) byte = static_cast<std::uint8_t>(random());
  analyseFrame(testFrame());
  measuredFrame = testFrame();
  measure();
  const Measured aligned = measured;
  for (PixelPath path : {PixelPath::sse2, PixelPath::avx2, PixelPath::avx512}) {
    if (!forcePath(path)) continue;
    for (std::uint32_t offset = 4; offset < 32; offset += 4) {
      measured = {};
      callWithStackOffset(&measure, offset);
      ASSERT_EQ(std::memcmp(&measured, &aligned, sizeof aligned), 0)
          << "path " << static_cast<int>(path) << " offset " << offset;
    }
  }
  resetPixelPathForTest();
}
#endif

}  // namespace
}  // namespace kinetiscan::testing
