// Our analyseFrame on every scene, served frame by frame as the capture session serves them.
#include <cstddef>

#include "analysis/analysis_state.h"
#include "analysis/frame_analysis.h"
#include "analysis/frame_view.h"
#include "analysis/pixel_pass.h"
#include "bench_registry.h"

namespace kinetiscan::bench {
namespace {

const Frame* served = nullptr;

FrameView servedFrame() { return {served->data(), static_cast<std::uint32_t>(served->size())}; }

// The retina learns the scene's background, then the frames play in a loop.
void startScene(const Scene& scene) {
  resetAnalysisStateForTest();
  served = &scene.background;
  resetBackground(servedFrame());
  analysisState().parameters = {scene.adaptivity, scene.sensitivity, scene.mindensity};
}

void analyse(benchmark::State& bench, const Scene& scene) {
  startScene(scene);
  std::size_t index = 0;
  for (auto _ : bench) {
    served = &scene.frames[index];
    analyseFrame(servedFrame());
    index = index + 1 == scene.frames.size() ? 0 : index + 1;
  }
  bench.counters["blobCount"] = analysisState().blobCount;
}

// The same on each narrower path, to show what the run-time choice is worth.
template <PixelPath kPath, AdaptationMethod kMethod = AdaptationMethod::division>
void analyseOnPath(benchmark::State& bench, const Scene& scene) {
  if (!setPixelPathForTest(kPath)) {
    bench.SkipWithError("path not supported here");
    return;
  }
  setAdaptationMethodForTest(kMethod);
  analyse(bench, scene);
  resetPixelPathForTest();
}

[[maybe_unused]] const bool registered = registerPerScene("ours", &analyse);

void registerPaths() {
  const Scene& discs = sceneNamed("discs");
  benchmark::RegisterBenchmark("ours-plain/discs", &analyseOnPath<PixelPath::plain>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours-sse2/discs", &analyseOnPath<PixelPath::sse2>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours-avx2/discs", &analyseOnPath<PixelPath::avx2>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours-avx512/discs", &analyseOnPath<PixelPath::avx512>, discs)
      ->Unit(benchmark::kMicrosecond);
  // The adaptation worked with the reciprocal (checked on SSE2, corrected on AVX2 and AVX-512)
  // instead of the division.
  constexpr AdaptationMethod kReciprocal = AdaptationMethod::reciprocal;
  benchmark::RegisterBenchmark("ours-sse2-reciprocal/discs",
                               &analyseOnPath<PixelPath::sse2, kReciprocal>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours-avx2-reciprocal/discs",
                               &analyseOnPath<PixelPath::avx2, kReciprocal>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours-avx512-reciprocal/discs",
                               &analyseOnPath<PixelPath::avx512, kReciprocal>, discs)
      ->Unit(benchmark::kMicrosecond);
}

[[maybe_unused]] const bool pathsRegistered = (registerPaths(), true);

}  // namespace
}  // namespace kinetiscan::bench
