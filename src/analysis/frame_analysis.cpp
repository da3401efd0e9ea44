// Frame to camera plane, difference against the retina, threshold into the motion mask and
// adaptation of the retina, in one pass over the pixels.
#include "analysis/frame_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "analysis/frame_view.h"
#include "analysis/labelling.h"
#include "analysis/pixel_math.h"

namespace kinetiscan {

void loadPlaneFromFrame(ImagePlane& plane) {
  const FrameView frame = currentFrame();
  if (frame.bytes == nullptr) return;
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

void resetBackground() {
  AnalysisState& state = analysisState();
  loadPlaneFromFrame(state.cameraPlane);
  loadPlaneFromFrame(state.retinaPlane);
}

void analyseFrame() {
  // The scan may open or close capture and reset the background; the frame is looked up only
  // after it, inside loadPlaneFromFrame.
  runCastScan();

  AnalysisState& state = analysisState();
  loadPlaneFromFrame(state.cameraPlane);

  // Read once: nothing below can run script code that changes them.
  const double sensitivity = static_cast<double>(state.parameters.sensitivity);
  const float adaptivity = state.parameters.adaptivity;
  const bool adapts = adaptivity >= 1.0f;  // false for NaN: the retina freezes
  const double divisor = static_cast<double>(adaptivity);

  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      const auto& camera = state.cameraPlane[row][column];
      auto& retina = state.retinaPlane[row][column];
      auto& difference = state.differencePlane[row][column];

      // Difference and mask against the retina as it stood before this frame's adaptation.
      for (int k = 0; k < kComponents; ++k) difference[k] = std::fabs(retina[k] - camera[k]);
      const float redGreen = difference[2] + difference[1];
      const double sum = static_cast<double>(redGreen) + static_cast<double>(difference[0]);
      const float mask = sum > sensitivity ? 1.0f : 0.0f;  // an unordered sum does not move
      state.globsPlane[row][column] = {mask, mask, mask};

      if (adapts) {
        for (int k = 0; k < kComponents; ++k) {
          const double old = static_cast<double>(retina[k]);
          retina[k] = static_cast<float>(old + (static_cast<double>(camera[k]) - old) / divisor);
        }
      }
    }
  }

  // labelBlobs rewrites every entry of the label map, so it needs no clearing here.
  labelBlobs();
  state.panelStale = kAllPanelsStale;
}

}  // namespace kinetiscan
