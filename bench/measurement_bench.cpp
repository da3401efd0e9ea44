// The parts around the per-frame pass: the labelling alone, and the on-demand measurements over
// the whole frame and over a huge rect.
#include <array>
#include <cstdint>
#include <limits>

#include "analysis/analysis_state.h"
#include "analysis/block_average.h"
#include "analysis/colour_bounds.h"
#include "analysis/frame_analysis.h"
#include "analysis/frame_view.h"
#include "analysis/labelling.h"
#include "analysis/pixel_pass.h"
#include "bench_registry.h"

namespace kinetiscan::bench {
namespace {

const Frame* served = nullptr;

FrameView servedFrame() { return {served->data(), static_cast<std::uint32_t>(served->size())}; }

// The state one analysed frame of the scene leaves.
void analyseFirstFrame(const Scene& scene) {
  resetAnalysisStateForTest();
  served = &scene.background;
  resetBackground(servedFrame());
  analysisState().parameters = {scene.adaptivity, scene.sensitivity, scene.mindensity};
  served = &scene.frames.front();
  analyseFrame(servedFrame());
}

// The labelling as the frame path runs it: from the motion bits the pixel pass leaves.
void labelling(benchmark::State& bench, const Scene& scene) {
  analyseFirstFrame(scene);
  MotionBits motion{};
  const float* globs = analysisState().globsPlane[0][0].data();
  for (int pixel = 0; pixel < kPixels; ++pixel) {
    if (globs[pixel * kComponents] != 0.0f) motion[pixel / 32] |= 1u << (pixel % 32);
  }
  for (auto _ : bench) labelMotion(motion);
  bench.counters["blobCount"] = analysisState().blobCount;
}

[[maybe_unused]] const bool registered = registerPerScene("labelMotion", &labelling);

void colourBoundsWholeFrame(benchmark::State& bench) {
  analyseFirstFrame(sceneNamed("discs"));
  for (auto _ : bench) benchmark::DoNotOptimize(colourBounds(250, 250, 250, 10, false));
}

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::array<HostRect, 2> kRects{HostRect{0, 0, 120, 160},
                                         HostRect{kMin, kMin, kMax, kMax}};

// Arguments: source (0 frame, 1 retina, 2 difference), rect (0 whole frame, 1 huge).
void blockAverageOver(benchmark::State& bench) {
  analyseFirstFrame(sceneNamed("discs"));
  const auto source = static_cast<BlockSource>(bench.range(0));
  const HostRect rect = kRects[bench.range(1)];
  const FrameView frame = servedFrame();
  for (auto _ : bench) benchmark::DoNotOptimize(blockAverage(source, rect, frame));
}

// The same on a forced pixel path. Arguments: path (0 plain, 1 SSE2, 2 AVX2, 3 AVX-512), then
// what (0 colour bounds, 1 block of the retina over the whole frame; the frame's block takes no
// path).
void measurementOnPath(benchmark::State& bench) {
  if (!setPixelPathForTest(static_cast<PixelPath>(bench.range(0)))) {
    bench.SkipWithError("path not supported here");
    return;
  }
  analyseFirstFrame(sceneNamed("discs"));
  const FrameView frame = servedFrame();
  for (auto _ : bench) {
    if (bench.range(1) == 0) {
      benchmark::DoNotOptimize(colourBounds(250, 250, 250, 10, false));
    } else {
      benchmark::DoNotOptimize(blockAverage(BlockSource::retina, kRects[0], frame));
    }
  }
  resetPixelPathForTest();
}

BENCHMARK(colourBoundsWholeFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(blockAverageOver)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(measurementOnPath)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kinetiscan::bench
