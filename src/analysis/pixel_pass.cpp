// The plain per-pixel pass, which the vector paths must match bit for bit, and the choice of
// path at run time: the library is built for SSE2 and only uses wider units it finds.
#include "analysis/pixel_pass.h"

#include <cmath>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/cpu_features.h"
#include "analysis/nearest_rounding.h"
#include "analysis/pixel_math.h"

namespace kinetiscan {
namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

// The path in use, or -1 until the processor has been asked.
constinit int chosenPath = -1;

// Division: on the processors measured so far (an AMD EPYC with AVX-512) the divider keeps up
// with the frame and either reciprocal method costs more instructions than it saves.
constinit AdaptationMethod chosenAdaptation = AdaptationMethod::division;

PixelPath widestSupported() {
  if (!kX86) return PixelPath::plain;
  const CpuFeatures features = detectCpuFeatures();
  if (!features.avx2) return PixelPath::sse2;
  return features.avx512f ? PixelPath::avx512 : PixelPath::avx2;
}

}  // namespace

void pixelPassPlain(const PixelPass& pass) {
  const double sensitivity = static_cast<double>(pass.sensitivity);
  const double divisor = static_cast<double>(pass.adaptivity);
  std::uint32_t word = 0;
  for (int p = 0; p < kPixels; ++p) {
    float* camera = pass.camera + p * kComponents;
    float* retina = pass.retina + p * kComponents;
    float* difference = pass.difference + p * kComponents;
    if (pass.frame != nullptr) {
      for (int k = 0; k < kComponents; ++k) {
        camera[k] = byteToComponent(pass.frame[p * kComponents + k]);
      }
    }

    // Difference and mask against the retina as it stood before this frame's adaptation.
    for (int k = 0; k < kComponents; ++k) difference[k] = std::fabs(retina[k] - camera[k]);
    const float redGreen = difference[2] + difference[1];
    const double sum = static_cast<double>(redGreen) + static_cast<double>(difference[0]);
    const bool moving = sum > sensitivity;  // an unordered sum does not move
    for (int k = 0; k < kComponents; ++k) pass.globs[p * kComponents + k] = moving ? 1.0f : 0.0f;

    word |= static_cast<std::uint32_t>(moving) << (p % 32);
    if (p % 32 == 31) {
      pass.motion[p / 32] = word;
      word = 0;
    }

    if (pass.adapts) {
      for (int k = 0; k < kComponents; ++k) {
        const double old = static_cast<double>(retina[k]);
        retina[k] = static_cast<float>(old + (static_cast<double>(camera[k]) - old) / divisor);
      }
    }
  }
}

bool pixelPathSupported(PixelPath path) {
  switch (path) {
    case PixelPath::plain:
      return true;
    case PixelPath::sse2:
      return kX86;
    case PixelPath::avx2:
      return widestSupported() >= PixelPath::avx2;
    case PixelPath::avx512:
      return widestSupported() >= PixelPath::avx512;
  }
  return false;
}

PixelPath activePixelPath() {
  if (chosenPath < 0) chosenPath = static_cast<int>(widestSupported());
  return static_cast<PixelPath>(chosenPath);
}

void setAdaptationMethodForTest(AdaptationMethod method) { chosenAdaptation = method; }

void runPixelPass(const PixelPass& given) {
  // The stated arithmetic rounds to nearest and keeps subnormals, whatever the host set; the
  // fused correction of the vector paths relies on it as well.
  const NearestRounding nearest;
  PixelPass pass = given;
  pass.byReciprocal = chosenAdaptation == AdaptationMethod::reciprocal;
  switch (activePixelPath()) {
    case PixelPath::plain:
      pixelPassPlain(pass);
      return;
    case PixelPath::sse2:
      pixelPassSse2(pass);
      return;
    case PixelPath::avx2:
      pixelPassAvx2(pass);
      return;
    case PixelPath::avx512:
      pixelPassAvx512(pass);
      return;
  }
}

bool setPixelPathForTest(PixelPath path) {
  if (!pixelPathSupported(path)) return false;
  chosenPath = static_cast<int>(path);
  return true;
}

void resetPixelPathForTest() {
  chosenPath = -1;
  chosenAdaptation = AdaptationMethod::division;
}

}  // namespace kinetiscan
