// The row work of colour bounds and block averages on each pixel path: plane components to their
// 8-bit values, and the first and last column of a row of 8-bit values near (or not near) a colour.
// Every path gives exactly what the plain one gives.
#pragma once

#include <cstdint>

#include "analysis/analysis_state.h"

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

// For the vector matchers: bit l set where lane l of a step of `lanes` values, starting at a value
// index of residue r modulo 3, starts a pixel.
constexpr std::uint32_t pixelStarts(int lanes, int r) {
  std::uint32_t bits = 0;
  for (int lane = 0; lane < lanes; ++lane) {
    if ((r + lane) % 3 == 0) bits |= 1u << lane;
  }
  return bits;
}

// kRowValues camera-plane components to the values componentToByte gives, on the active pixel
// path. They are most likely frame bytes converted, so a path may try a cheaper conversion first
// that it checks. That check rounds to nearest on SSE2 and AVX2: the caller must hold a
// NearestRounding.
void cameraRowToBytesOnPath(const float* components, std::uint8_t* bytes);

// Adds the kRowValues values that rowToBytes gives for `components` to `totals`, on the active
// pixel path: a block average's rows without a row of bytes between.
void addRowOnPath(const float* components, std::uint32_t* totals);

// `bytes` holds kRowValues values and kRowSlack more bytes of any value.
ColumnSpan matchingColumnsOnPath(const std::uint8_t* bytes, const ColourTest& test);

// The paths themselves. The vector ones exist on x86 only. Where the components are not frame
// bytes, SSE2 converts and adds with the plain code, which the compiler vectorises for it;
// AVX-512 matches with AVX2.
void addRowPlain(const float* components, std::uint32_t* totals);
void addRowAvx2(const float* components, std::uint32_t* totals);
void addRowAvx512(const float* components, std::uint32_t* totals);
void cameraRowToBytesSse2(const float* components, std::uint8_t* bytes);
void cameraRowToBytesAvx2(const float* components, std::uint8_t* bytes);
void cameraRowToBytesAvx512(const float* components, std::uint8_t* bytes);
ColumnSpan matchingColumnsPlain(const std::uint8_t* bytes, const ColourTest& test);
ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test);
ColumnSpan matchingColumnsAvx2(const std::uint8_t* bytes, const ColourTest& test);

}  // namespace kinetiscan
