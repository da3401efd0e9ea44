// The in-cache traffic floor: copying and clearing exactly the bytes one frame's analysis must
// read and write, in the same storage, with the C library's own copy and fill.
#include <cstring>

#include "analysis/analysis_state.h"
#include "bench_registry.h"

namespace kinetiscan::bench {
namespace {

void trafficFloor(benchmark::State& bench) {
  AnalysisState& state = analysisState();
  const Frame& frame = benchScenes().front().frames.front();
  auto* camera = reinterpret_cast<unsigned char*>(&state.cameraPlane);
  for (auto _ : bench) {
    // The frame in and the camera plane out: four floats' worth of bytes per frame byte.
    for (std::size_t quarter = 0; quarter < 4; ++quarter) {
      std::memcpy(camera + quarter * kFrameBytes, frame.data(), kFrameBytes);
    }
    // The retina in, the difference out; then the retina, mask and label map written.
    std::memcpy(&state.differencePlane, &state.retinaPlane, sizeof(ImagePlane));
    std::memset(&state.retinaPlane, 0, sizeof(ImagePlane));
    std::memset(&state.globsPlane, 0, sizeof(ImagePlane));
    std::memset(&state.labelMap, 0, sizeof(LabelMap));
    benchmark::ClobberMemory();
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) *
                          (kFrameBytes + 5 * sizeof(ImagePlane) + sizeof(LabelMap)));
}

[[maybe_unused]] const bool registered =
    (benchmark::RegisterBenchmark("floor", &trafficFloor)->Unit(benchmark::kMicrosecond), true);

}  // namespace
}  // namespace kinetiscan::bench
