// The choice of kernels, made once at first use: the widest path the processor and the system
// support (the library is built for SSE2 and only uses wider units it finds), and the adaptation
// method that a short timing of both on that path finds faster.
#include "analysis/pixel_pass.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "analysis/analysis_state.h"
#include "analysis/cpu_features.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace kinetiscan {
namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr const PixelKernels* kTables[] = {&kPlainKernels, &kSse2Kernels, &kAvx2Kernels,
                                           &kAvx512Kernels};
#else
constexpr const PixelKernels* kTables[] = {&kPlainKernels, &kPlainKernels, &kPlainKernels,
                                           &kPlainKernels};
#endif

// The widest supported path, or -1 until the processor has been asked.
constinit int widestPath = -1;
// The path in use, or -1 for the widest.
constinit int forcedPath = -1;
// A method a test or benchmark forced, or -1 for the calibrated one.
constinit int forcedMethod = -1;

PixelPath widestSupported() {
  if (widestPath < 0) {
#if defined(__i386__) || defined(__x86_64__)
    const CpuFeatures features = detectCpuFeatures();
    const PixelPath widest = !features.avx2     ? PixelPath::sse2
                             : features.avx512f ? PixelPath::avx512
                                                : PixelPath::avx2;
#else
    const PixelPath widest = PixelPath::plain;
#endif
    widestPath = static_cast<int>(widest);
  }
  return static_cast<PixelPath>(widestPath);
}

// The calibration's synthetic frame and planes: 1024 pixels, 48 KB, enough to time the pass
// without the frame's 900 KB of planes.
constexpr int kCalibrationPixels = 1024;
constexpr int kCalibrationValues = kCalibrationPixels * kComponents;
struct CalibrationPlanes {
  std::uint8_t frame[kCalibrationValues];
  float camera[kCalibrationValues];
  float retina[kCalibrationValues];
  float difference[kCalibrationValues];
  float globs[kCalibrationValues];
  std::uint32_t motion[kCalibrationPixels / 32];
};
constinit CalibrationPlanes calibrationPlanes{};

#if defined(__i386__) || defined(__x86_64__)
std::uint64_t ticks() {
  _mm_lfence();  // the counter is read once the work before has finished
  const std::uint64_t now = __rdtsc();
  _mm_lfence();
  return now;
}

// The least time of each method over interleaved runs of the pass on a frame like a camera's: a
// moving pixel in eight, the retina close to the camera, the default parameters.
AdaptationCalibration calibrate(PixelPath path) {
  CalibrationPlanes& planes = calibrationPlanes;
  for (int i = 0; i < kCalibrationValues; ++i) {
    const auto byte = static_cast<std::uint8_t>((i * 37 + i / 7) & 0xFF);
    planes.frame[i] = byte;
    const int offset = (i / kComponents) % 8 == 0 ? 96 : 3;
    planes.retina[i] = byteToComponent(static_cast<std::uint8_t>(byte + offset));
  }
  PixelPass pass{.frame = planes.frame,
                 .camera = planes.camera,
                 .retina = planes.retina,
                 .difference = planes.difference,
                 .globs = planes.globs,
                 .motion = planes.motion,
                 .sensitivity = 0.5f,
                 .adaptivity = 1000.0f,
                 .adapts = true,
                 .pixels = kCalibrationPixels};
  const NearestRounding nearest;
  std::uint64_t least[2] = {std::numeric_limits<std::uint64_t>::max(),
                            std::numeric_limits<std::uint64_t>::max()};
  constexpr int kRuns = 24;
  for (int run = 0; run < kRuns; ++run) {
    for (int method = 0; method < 2; ++method) {
      pass.byReciprocal = method == 1;
      const std::uint64_t start = ticks();
      kTables[static_cast<int>(path)]->pixelPass(pass);
      least[method] = std::min(least[method], ticks() - start);
    }
  }
  // A margin of a tenth: where the two are about as fast, the division stays.
  const bool reciprocal = least[1] * 10 < least[0] * 9;
  return {path, least[0], least[1],
          reciprocal ? AdaptationMethod::reciprocal : AdaptationMethod::division};
}
#else
AdaptationCalibration calibrate(PixelPath path) { return {path, 0, 0, AdaptationMethod::division}; }
#endif

}  // namespace

const AdaptationCalibration& adaptationCalibration() {
  // Once a process, the first time a pass or a test asks: not at load, where DllMain would run it
  // under the loader lock.
  static constinit bool done = false;
  static constinit AdaptationCalibration result{};
  if (!done) {
    const PixelPath path = widestSupported();
    result = path == PixelPath::plain
                 ? AdaptationCalibration{path, 0, 0, AdaptationMethod::division}
                 : calibrate(path);
    done = true;
  }
  return result;
}

bool pixelPathSupported(PixelPath path) {
  return path == PixelPath::plain || (path <= PixelPath::avx512 && path <= widestSupported());
}

PixelPath activePixelPath() {
  return forcedPath >= 0 ? static_cast<PixelPath>(forcedPath) : widestSupported();
}

const PixelKernels& activeKernels() { return *kTables[static_cast<int>(activePixelPath())]; }

AdaptationMethod activeAdaptationMethod() {
  if (forcedMethod >= 0) return static_cast<AdaptationMethod>(forcedMethod);
  return adaptationCalibration().chosen;
}

void runPixelPass(const PixelPass& given) {
  // The stated arithmetic rounds to nearest and keeps subnormals, whatever the host set; the
  // fused correction of the vector paths relies on it as well.
  const NearestRounding nearest;
  PixelPass pass = given;
  pass.byReciprocal = activeAdaptationMethod() == AdaptationMethod::reciprocal;
  activeKernels().pixelPass(pass);
}

bool setPixelPathForTest(PixelPath path) {
  if (!pixelPathSupported(path)) return false;
  forcedPath = static_cast<int>(path);
  return true;
}

void setAdaptationMethodForTest(AdaptationMethod method) {
  forcedMethod = static_cast<int>(method);
}

void resetPixelPathForTest() {
  forcedPath = -1;
  forcedMethod = -1;
}

}  // namespace kinetiscan
