// The per-pixel pass of the frame analysis: camera conversion, difference, motion mask and
// retina adaptation. A plain path states the arithmetic; SSE2, AVX2 and AVX-512 paths give
// bit-identical planes and are chosen by what the processor supports.
#pragma once

#include <cstdint>

namespace kinetiscan {

// The planes as flat arrays of kPixels * kComponents floats in pixel order. The vector paths take
// it by value: stores through the float pointers could change a PixelPass seen by reference as far
// as the compiler knows, and it would load every pointer again after every store.
struct PixelPass {
  const std::uint8_t* frame;  // kFrameBytes bytes to convert into `camera`; null: use it as is
  float* camera;
  float* retina;
  float* difference;
  float* globs;
  std::uint32_t* motion;  // kPixels bits: bit p % 32 of word p / 32 is set when pixel p moves
  float sensitivity;
  float adaptivity;
  bool adapts;  // adaptivity >= 1
  // The vector paths adapt with the reciprocal of the adaptivity: SSE2 checks each result and
  // divides only where the check cannot vouch for it, AVX2 and AVX-512 correct the quotient with
  // one fused multiply-add. runPixelPass sets this from the chosen method.
  bool byReciprocal = false;
};

// Both methods store exactly the floats the division gives; which is faster depends on the
// processor's divider (docs/performance.md has the figures).
enum class AdaptationMethod : std::uint8_t { division, reciprocal };

// Division unless a test or benchmark chooses otherwise. Tests and benchmarks only.
void setAdaptationMethodForTest(AdaptationMethod method);

enum class PixelPath : std::uint8_t { plain, sse2, avx2, avx512 };

bool pixelPathSupported(PixelPath path);

// The path runPixelPass takes: the widest the processor supports unless one was forced.
PixelPath activePixelPath();

void runPixelPass(const PixelPass& pass);

// Forces a path; false, and no change, when the processor lacks it. Tests and benchmarks only.
bool setPixelPathForTest(PixelPath path);
// Back to the widest supported path. Tests and benchmarks only.
void resetPixelPathForTest();

// The paths themselves, for runPixelPass. The vector ones exist on x86 only.
void pixelPassPlain(const PixelPass& pass);
void pixelPassSse2(const PixelPass& pass);
void pixelPassAvx2(const PixelPass& pass);
void pixelPassAvx512(const PixelPass& pass);

}  // namespace kinetiscan
