// The module state as the library holds it when it has just been loaded, read before anything
// else has run: no test reset stands in for the library's own start. Keep this program to this
// one test.
#include <gtest/gtest.h>

#include <array>

#include "analysis/analysis_state.h"
#include "member/member_state.h"
#include "sprite/panel_cache.h"

namespace kinetiscan {
namespace {

TEST(LoadTime, DefaultsBeforeAnyCall) {
  const AnalysisState& state = analysisState();
  EXPECT_EQ(state.parameters.adaptivity, 1000.0f);
  EXPECT_EQ(state.parameters.sensitivity, 0.5f);
  EXPECT_EQ(state.parameters.mindensity, 100);
  EXPECT_EQ(state.frameGeneration, 0u);
  for (int view = 1; view <= kPanelViews; ++view) EXPECT_TRUE(panelStale(view)) << view;
  EXPECT_EQ(state.blobCount, 0);
  const MemberState& member = memberState();
  EXPECT_EQ(member.assetCallback, nullptr);
  EXPECT_FALSE(member.captureRunning);
  EXPECT_EQ(member.firstMemberIndex, -1);
  EXPECT_EQ(panelCache().memoryDc, nullptr);
}

}  // namespace
}  // namespace kinetiscan
