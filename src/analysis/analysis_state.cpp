// Storage of the analysis state. The object is constant-initialised to all zero bytes, so its
// megabyte of planes lands in zero-filled storage instead of the library file; the few non-zero
// defaults are applied when the library loads.
#include "analysis/analysis_state.h"

namespace kinetiscan {
namespace {

// Every byte zero: a single non-zero default would put the whole object in initialised data.
// Cache-line aligned so that no vector load of a plane straddles two lines.
alignas(64) constinit AnalysisState state{{}, {}, {}, {}, {}, {0.0f, 0.0f, 0}, {}, 0, 0};

void applyDefaults() { state.parameters = AnalysisParameters{}; }

// Runs at load, before the host can reach any export.
[[maybe_unused]] const bool defaultsApplied = (applyDefaults(), true);

}  // namespace

AnalysisState& analysisState() { return state; }

void resetAnalysisStateForTest() {
  // Field by field: a whole AnalysisState temporary would put about a megabyte on the stack.
  for (ImagePlane* plane :
       {&state.cameraPlane, &state.retinaPlane, &state.differencePlane, &state.globsPlane}) {
    plane->fill({});
  }
  state.labelMap.fill(0);
  state.blobBoxes.fill({});
  state.blobCount = 0;
  state.frameGeneration = 0;
  applyDefaults();
}

}  // namespace kinetiscan
