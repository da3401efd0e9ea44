// Storage of the analysis state: constant-initialised, so it is ready before any code runs.
#include "analysis/analysis_state.h"

namespace kinetiscan {
namespace {

constinit AnalysisState state{};

}  // namespace

AnalysisState& analysisState() { return state; }

void resetAnalysisStateForTest() {
  // Field by field: a whole AnalysisState temporary would put about a megabyte on the stack.
  for (ImagePlane* plane :
       {&state.cameraPlane, &state.retinaPlane, &state.differencePlane, &state.globsPlane}) {
    plane->fill({});
  }
  state.labelMap.fill(0);
  state.parameters = AnalysisParameters{};
  state.blobBoxes.fill({});
  state.blobCount = 0;
  state.panelStale = kAllPanelsStale;
}

}  // namespace kinetiscan
