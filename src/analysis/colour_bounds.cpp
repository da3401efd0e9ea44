// Colour bounds over the camera plane.
#include "analysis/colour_bounds.h"

#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"

namespace kinetiscan {
namespace {

std::int64_t distance(std::int64_t value, std::int64_t target) {
  return value > target ? value - target : target - value;
}

}  // namespace

HostRect colourBounds(int red, int green, int blue, std::int32_t tolerance, bool invert) {
  const AnalysisState& state = analysisState();
  std::int32_t lowRow = 1000;
  std::int32_t lowColumn = 1000;
  std::int32_t highRow = -1000;
  std::int32_t highColumn = -1000;

  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      const auto& pixel = state.cameraPlane[row][column];
      // 64-bit so that any int colour the caller passes cannot overflow the sum.
      const std::int64_t mean =
          (distance(componentToByte(pixel[2]), red) + distance(componentToByte(pixel[1]), green) +
           distance(componentToByte(pixel[0]), blue)) /
          3;
      const bool near = mean < tolerance;
      if (near == invert) continue;
      if (row < lowRow) lowRow = row;
      if (row > highRow) highRow = row;
      if (column < lowColumn) lowColumn = column;
      if (column > highColumn) highColumn = column;
    }
  }

  if (lowColumn == 1000) lowRow = lowColumn = highRow = highColumn = 0;
  return {kRows - lowRow, lowColumn, kRows - highRow, highColumn};
}

HostPoint colourBoundsCentre(const HostRect& rect) {
  // 64-bit sums: the rect may come from anywhere, and the halves always fit again.
  const auto half = [](std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>((static_cast<std::int64_t>(a) + b) / 2);
  };
  return {half(rect.top, rect.bottom), half(rect.left, rect.right)};
}

}  // namespace kinetiscan
