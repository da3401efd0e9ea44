// The once-per-frame step: the frame becomes the camera plane, the per-pixel pass writes the
// difference, the mask and the adapted retina, and the labelling groups the moving pixels.
#include "analysis/frame_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "analysis/labelling.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

namespace kinetiscan {
namespace {

// The mask of the last pass as bits, so the labelling need not read the globs plane back.
constinit MotionBits motion{};

float* components(ImagePlane& plane) { return plane[0][0].data(); }

}  // namespace

void loadPlaneFromFrame(ImagePlane& plane, FrameView frame) {
  if (!hasFrame(frame)) return;
  const NearestRounding nearest;
  const std::uint32_t available = std::min(frame.count, kFrameBytes);
  std::uint32_t index = 0;
  for (auto& row : plane) {
    for (auto& pixel : row) {
      for (float& component : pixel) {
        component = index < available ? byteToComponent(frame.bytes[index]) : 0.0f;
        ++index;
      }
    }
  }
}

void resetBackground(FrameView frame) {
  AnalysisState& state = analysisState();
  loadPlaneFromFrame(state.cameraPlane, frame);
  loadPlaneFromFrame(state.retinaPlane, frame);
}

void analyseFrame(FrameView frame) {
  const NearestRounding nearest;  // the whole road, not the pixel pass alone
  AnalysisState& state = analysisState();
  // A whole frame is converted inside the pass; a short or missing one the slow way first.
  const bool whole = hasFrame(frame) && frame.count >= kFrameBytes;
  if (!whole) loadPlaneFromFrame(state.cameraPlane, frame);

  const float adaptivity = state.parameters.adaptivity;
  const PixelPass pass{
      .frame = whole ? frame.bytes : nullptr,
      .camera = components(state.cameraPlane),
      .retina = components(state.retinaPlane),
      .difference = components(state.differencePlane),
      .globs = components(state.globsPlane),
      .motion = motion.data(),
      .sensitivity = state.parameters.sensitivity,
      .adaptivity = adaptivity,
      .adapts = std::isgreaterequal(adaptivity, 1.0f),  // false for NaN: the retina freezes
  };
  runPixelPass(pass);

  labelMotion(motion);
  ++state.frameGeneration;
}

}  // namespace kinetiscan
