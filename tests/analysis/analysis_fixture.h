// A clean analysis state per test and a frame the test owns, handed to the analysis by testFrame().
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "analysis/analysis_state.h"
#include "analysis/frame_view.h"

namespace kinetiscan::testing {

class AnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAnalysisStateForTest();
    frameBytes().assign(kFrameBytes, 0);
    frameMissing() = false;
  }
  void TearDown() override { resetAnalysisStateForTest(); }

  static std::vector<std::uint8_t>& frameBytes() {
    static std::vector<std::uint8_t> bytes;
    return bytes;
  }
  // Set, the test frame is no frame: as the capture session gives while closed.
  static bool& frameMissing() {
    static bool missing = false;
    return missing;
  }
  static FrameView testFrame() {
    if (frameMissing()) return {};
    return {frameBytes().data(), static_cast<std::uint32_t>(frameBytes().size())};
  }
  static void setFramePixel(int row, int column, std::uint8_t blue, std::uint8_t green,
                            std::uint8_t red) {
    const std::size_t first = (static_cast<std::size_t>(row) * kColumns + column) * kComponents;
    frameBytes()[first] = blue;
    frameBytes()[first + 1] = green;
    frameBytes()[first + 2] = red;
  }

  static AnalysisState& state() { return analysisState(); }
  static void setMask(int row, int column, float value = 1.0f) {
    state().globsPlane[row][column] = {value, value, value};
  }
};

}  // namespace kinetiscan::testing
