// Synthetic scenes from the simulated camera, fixed masks at the labelling's limits, and an
// optional recorded sequence.
#include "bench_scenes.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "analysis/analysis_state.h"
#include "camera/file_sources.h"
#include "camera/synthetic_scene.h"

namespace kinetiscan::bench {
namespace {

constexpr int kLoopFrames = 64;
// Keeps the whole work of the adaptation but leaves the retina where it started, so a fixed
// scene shows the same motion on every pass of the loop.
constexpr float kFrozenAdaptivity = 1e30f;

Scene synthetic(const char* name, const camera::SceneOptions& options, float adaptivity) {
  camera::SyntheticScene source(options);
  Scene scene{name, {}, {}, adaptivity, 0.5f, 100};
  source.next(scene.background);
  Frame frame;
  while (static_cast<int>(scene.frames.size()) < kLoopFrames && source.next(frame)) {
    scene.frames.push_back(frame);
  }
  return scene;
}

using Lit = bool (*)(int row, int column);

bool dot(int row, int column) { return row % 2 == 0 && column % 2 == 0; }

// Lit pixels are white against a black retina; everything else stays black.
Scene mask(const char* name, Lit lit) {
  Scene scene{name, Frame(kFrameBytes, 0), {}, kFrozenAdaptivity, 0.5f, 100};
  Frame frame(kFrameBytes, 0);
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      if (!lit(row, column)) continue;
      const std::size_t first = (static_cast<std::size_t>(row) * kColumns + column) * kComponents;
      frame[first] = frame[first + 1] = frame[first + 2] = 255;
    }
  }
  scene.frames.push_back(std::move(frame));
  return scene;
}

void addRecording(std::vector<Scene>& scenes) {
  const char* file = std::getenv("KINETISCAN_BENCH_RECORDING");
  if (file == nullptr) return;
  std::string error;
  const std::unique_ptr<camera::FrameSource> source = camera::openRawFile(file, false, &error);
  if (source == nullptr) {
    std::fprintf(stderr, "recording not used: %s\n", error.c_str());
    return;
  }
  Scene scene{"recorded", {}, {}, 1000.0f, 0.5f, 100};
  source->next(scene.background);
  Frame frame;
  while (source->next(frame)) scene.frames.push_back(frame);
  if (!scene.frames.empty()) scenes.push_back(std::move(scene));
}

std::vector<Scene> buildScenes() {
  std::vector<Scene> scenes;
  scenes.push_back(synthetic("discs", {.seed = 1, .discs = 3, .noise = 3}, 1000.0f));
  // Every frame is brighter than the learnt background: one region covering the picture.
  scenes.push_back(synthetic("lighting", {.seed = 2, .discs = 3, .noise = 3, .lightingChangeAt = 1},
                             kFrozenAdaptivity));
  scenes.push_back(mask("fullFrame", [](int, int) { return true; }));
  scenes.push_back(
      mask("regions1022", [](int r, int c) { return dot(r, c) && (r / 2) * 80 + c / 2 < 1022; }));
  scenes.push_back(
      mask("regions1023", [](int r, int c) { return dot(r, c) && (r / 2) * 80 + c / 2 < 1023; }));
  scenes.push_back(mask("regions4800", &dot));
  // One region of 9600 pixels joined only through corners: the most runs a frame can hold.
  scenes.push_back(mask("chessboard", [](int r, int c) { return (r + c) % 2 == 0; }));
  addRecording(scenes);
  return scenes;
}

}  // namespace

const std::vector<Scene>& benchScenes() {
  static const std::vector<Scene> scenes = buildScenes();
  return scenes;
}

const Scene& sceneNamed(const std::string& name) {
  for (const Scene& scene : benchScenes()) {
    if (scene.name == name) return scene;
  }
  std::fprintf(stderr, "no scene %s\n", name.c_str());
  std::abort();
}

}  // namespace kinetiscan::bench
