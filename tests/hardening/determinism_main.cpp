// Prints one line of hashes per frame of a recorded sequence: every plane, the label map and the
// region records after the frame's analysis. Built for both targets; their outputs must be equal,
// which shows both compute the same results (the compare script checks it).
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "analysis/analysis_state.h"
#include "analysis/frame_analysis.h"
#include "analysis/frame_view.h"
#include "camera/synthetic_scene.h"

namespace kinetiscan {
namespace {

constexpr int kFrames = 120;

camera::Frame frame;
std::uint32_t frameCount = 0;

FrameView recordedFrame() { return FrameView{frame.data(), frameCount}; }

// FNV-1a, 64 bits: small, and the same on every target.
std::uint64_t hashBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

// Every other pixel of every other row white.
void dotFrame() {
  for (int row = 0; row < kRows; row += 2) {
    for (int column = 0; column < kColumns; column += 2) {
      for (int k = 0; k < kComponents; ++k)
        frame[(row * kColumns + column) * kComponents + k] = 255;
    }
  }
}

// The parameter changes and resets of the recording, before the analysis of frame `index`.
void applySchedule(int index) {
  AnalysisParameters& parameters = analysisState().parameters;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  frameCount = static_cast<std::uint32_t>(frame.size());
  switch (index) {
    case 0:
      resetBackground(recordedFrame());
      break;
    case 10:
      parameters.adaptivity = 1.0f;
      break;
    case 20:
      parameters.adaptivity = 0.5f;
      break;
    case 30:
      parameters.adaptivity = nan;
      break;
    case 35:
      parameters.adaptivity = 1000.0f, parameters.sensitivity = -1.0f;
      break;
    case 45:
      parameters.sensitivity = 1e30f;
      break;
    case 50:
      parameters.sensitivity = 0.5f, parameters.mindensity = 1;
      break;
    case 60:
      parameters.mindensity = 0;
      break;
    case 65:
      parameters.mindensity = -5;
      break;
    case 70:
      parameters.mindensity = 100, resetBackground(recordedFrame());
      break;
    case 80:
      parameters.adaptivity = infinity;
      break;
    case 85:
      parameters.adaptivity = -3.0f;
      break;
    case 90:
      parameters.adaptivity = 1000.0f, parameters.sensitivity = 0.02f;
      break;
    case 95:
      parameters.sensitivity = nan, parameters.mindensity = 2;
      break;
    case 100:
      parameters.sensitivity = 0.5f, parameters.mindensity = 100, resetBackground(recordedFrame());
      break;
    case 105:
      frameCount = 1000;
      break;  // a short frame
    case 106:
      frameCount = 0;
      break;  // no bytes: the planes keep what they hold
    case 110:
      parameters.adaptivity = 3.4e38f;
      break;
    case 112:
      parameters.adaptivity = 1000.0f, parameters.mindensity = 1;
      break;
    case 113:
      dotFrame();
      break;  // thousands of one-pixel regions: more than the records hold
    default:
      break;
  }
}

}  // namespace
}  // namespace kinetiscan

int main() {
  using namespace kinetiscan;
  camera::SceneOptions options;
  options.seed = 20240607;
  options.discs = 5;
  options.noise = 6;
  options.lightingChangeAt = 40;
  camera::SyntheticScene scene(options);
  const AnalysisState& state = analysisState();
  for (int index = 0; index < kFrames; ++index) {
    scene.next(frame);
    applySchedule(index);
    analyseFrame(recordedFrame());
    std::printf("%3d %016" PRIx64 " %016" PRIx64 " %016" PRIx64 " %016" PRIx64 " %016" PRIx64
                " %016" PRIx64 " %" PRId32 "\n",
                index, hashBytes(&state.cameraPlane, sizeof state.cameraPlane),
                hashBytes(&state.retinaPlane, sizeof state.retinaPlane),
                hashBytes(&state.differencePlane, sizeof state.differencePlane),
                hashBytes(&state.globsPlane, sizeof state.globsPlane),
                hashBytes(&state.labelMap, sizeof state.labelMap),
                hashBytes(&state.blobBoxes, sizeof state.blobBoxes), state.blobCount);
  }
  return 0;
}
