// The kernels of the analysis, one table per pixel path. Each instruction-set unit fills one
// constant table; the path is chosen once (pixel_pass.cpp) and every caller goes through the
// active table, so what a path provides is read off its table rather than off switches. A path
// with no kernel of its own for a job names another path's, one it can run.
#pragma once

#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/pixel_pass.h"

namespace kinetiscan {

// A row of 8-bit values and the slack the row matchers may read past its end (never used).
inline constexpr int kRowValues = kColumns * kComponents;
inline constexpr int kRowSlack = 64;

// A pixel of 8-bit values b matches when (|b0 - target0| + |b1 - target1| + |b2 - target2| <
// limit) != invert. Limits of 0 or less and above 765 need no pixel looked at; the matchers are
// called with 1 .. 765.
struct ColourTest {
  std::uint8_t target[kComponents];  // blue, green, red
  std::int16_t limit;
  bool invert;
};

// The first and the last matching column of a row; first is -1 when none matches.
struct ColumnSpan {
  int first;
  int last;
};

struct PixelKernels {
  PixelPath path;
  // The per-pixel pass (pixel_pass.h), under the caller's NearestRounding.
  void (*pixelPass)(const PixelPass& pass);
  // kRowValues camera-plane components to the values componentToByte gives. They are most likely
  // frame bytes converted, so a path may try a cheaper conversion first that it checks; the check
  // needs the rounding to nearest of a NearestRounding the caller holds.
  void (*cameraRowToBytes)(const float* components, std::uint8_t* bytes);
  // Adds the kRowValues values rowToBytes gives for `components` to `totals`: a block average's
  // rows without a row of bytes between.
  void (*addRow)(const float* components, std::uint32_t* totals);
  // `bytes` holds kRowValues values and kRowSlack more bytes of any value.
  ColumnSpan (*matchingColumns)(const std::uint8_t* bytes, const ColourTest& test);
};

// The table of activePixelPath().
const PixelKernels& activeKernels();

// The tables. The vector ones exist on x86 only.
extern const PixelKernels kPlainKernels;
extern const PixelKernels kSse2Kernels;
extern const PixelKernels kAvx2Kernels;
extern const PixelKernels kAvx512Kernels;

// Kernels that a table of another unit names.
void addRowPlain(const float* components, std::uint32_t* totals);
ColumnSpan matchingColumnsAvx2(const std::uint8_t* bytes, const ColourTest& test);

}  // namespace kinetiscan
