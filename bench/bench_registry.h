// How a benchmark file joins the comparison: it registers one benchmark per scene under
// "<pipeline>/<scene>", and the summary at the end of the run sets the pipelines side by side.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "bench_scenes.h"

namespace kinetiscan::bench {

using SceneBenchmark = void (*)(benchmark::State& state, const Scene& scene);

// Registers `run` once for every scene. Call from a static initialiser.
inline bool registerPerScene(const std::string& pipeline, SceneBenchmark run) {
  for (const Scene& scene : benchScenes()) {
    benchmark::RegisterBenchmark((pipeline + "/" + scene.name).c_str(), run, scene)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}

}  // namespace kinetiscan::bench
