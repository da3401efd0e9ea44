// The per-pixel pass of the frame analysis: camera conversion, difference, motion mask and
// retina adaptation. A plain path states the arithmetic; SSE2, AVX2 and AVX-512 paths give
// bit-identical planes and are chosen by what the processor supports.
#pragma once

#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan {

// The planes as flat arrays of `pixels` * kComponents floats in pixel order. The vector paths take
// it by value: stores through the float pointers could change a PixelPass seen by reference as far
// as the compiler knows, and it would load every pointer again after every store.
struct PixelPass {
  const std::uint8_t* frame;  // `pixels` * 3 bytes to convert into `camera`; null: use it as is
  float* camera;
  float* retina;
  float* difference;
  float* globs;
  std::uint32_t* motion;  // `pixels` bits: bit p % 32 of word p / 32 is set when pixel p moves
  float sensitivity;
  float adaptivity;
  bool adapts;  // adaptivity >= 1
  // The vector paths adapt with the reciprocal of the adaptivity: SSE2 checks each result and
  // divides only where the check cannot vouch for it, AVX2 and AVX-512 correct the quotient with
  // one fused multiply-add. runPixelPass sets this from the chosen method.
  bool byReciprocal = false;
  // The pixels the planes hold, a multiple of 32: the frame's, or fewer for the calibration.
  int pixels = kPixels;
};

// Both methods store exactly the floats the division gives; which is faster depends on the
// processor's divider, so the first pass times both on the active path (docs/performance.md).
enum class AdaptationMethod : std::uint8_t { division, reciprocal };

enum class PixelPath : std::uint8_t { plain, sse2, avx2, avx512 };

bool pixelPathSupported(PixelPath path);

// The path runPixelPass takes: the widest the processor supports unless one was forced.
PixelPath activePixelPath();

// What the timing of both methods on the widest path found, once a process: the least time of
// each over its runs, in time-stamp counter ticks (0 where nothing was timed: off x86), and the
// method it chose. Reciprocal only where it took less than 0.9 of the division's time.
struct AdaptationCalibration {
  PixelPath path;
  std::uint64_t divisionTicks;
  std::uint64_t reciprocalTicks;
  AdaptationMethod chosen;
};
const AdaptationCalibration& adaptationCalibration();

// The method runPixelPass adapts with: the calibration's unless a test or benchmark chose one.
AdaptationMethod activeAdaptationMethod();

void runPixelPass(const PixelPass& pass);

// Forces a path; false, and no change, when the processor lacks it. Tests and benchmarks only.
bool setPixelPathForTest(PixelPath path);
// Forces a method. Tests and benchmarks only.
void setAdaptationMethodForTest(AdaptationMethod method);
// Back to the widest supported path and the calibrated method. Tests and benchmarks only.
void resetPixelPathForTest();

}  // namespace kinetiscan
