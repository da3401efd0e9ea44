// Load-time values of the analysis state and the test reset.
#include "analysis/analysis_state.h"

#include <gtest/gtest.h>

namespace kinetiscan {
namespace {

TEST(AnalysisStateTest, ResetRestoresLoadTimeValues) {
  AnalysisState& state = analysisState();
  state.cameraPlane[119][159][2] = 0.5f;
  state.labelMap[kPixels - 1] = 3;
  state.blobBoxes[kMaxBlobRecords - 1] = {1, 2, 3, 4};
  state.blobCount = 7;
  state.parameters = {2.0f, 0.1f, 5};
  state.frameGeneration = 12;

  resetAnalysisStateForTest();
  EXPECT_EQ(state.cameraPlane[119][159][2], 0.0f);
  EXPECT_EQ(state.labelMap[kPixels - 1], 0);
  EXPECT_EQ(state.blobBoxes[kMaxBlobRecords - 1].minCol, 0);
  EXPECT_EQ(state.blobCount, 0);
  EXPECT_EQ(state.parameters.adaptivity, 1000.0f);
  EXPECT_EQ(state.parameters.sensitivity, 0.5f);
  EXPECT_EQ(state.parameters.mindensity, 100);
  EXPECT_EQ(state.frameGeneration, 0u);
}

}  // namespace
}  // namespace kinetiscan
