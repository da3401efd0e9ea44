// Colour bounds over the camera plane: a row at a time, the components turned into bytes and the
// pixels compared on the pixel pass's path, with the stated per-pixel loop kept as the reference
// for colours outside 0..255 and for the tests.
#include "analysis/colour_bounds.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"

namespace kinetiscan {
namespace {

std::int64_t distance(std::int64_t value, std::int64_t target) {
  return value > target ? value - target : target - value;
}

}  // namespace

HostRect colourBoundsPlain(int red, int green, int blue, std::int32_t tolerance, bool invert) {
  const NearestRounding nearest;
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

HostRect colourBounds(int red, int green, int blue, std::int32_t tolerance, bool invert) {
  const auto isByte = [](int value) { return value >= 0 && value <= 255; };
  if (!isByte(red) || !isByte(green) || !isByte(blue)) {
    return colourBoundsPlain(red, green, blue, tolerance, invert);
  }
  // The sum s of three byte differences is 0..765, and floor(s / 3) < tolerance exactly when
  // s < 3 * tolerance. A limit of 0 or less is above no sum and one above 765 is above every sum,
  // so then every pixel matches or none does whatever the plane holds.
  const std::int64_t limit = 3 * static_cast<std::int64_t>(tolerance);
  if (limit <= 0 || limit > 765) {
    const bool everyPixel = (limit > 765) != invert;
    return everyPixel ? HostRect{kRows, 0, 1, kColumns - 1} : HostRect{kRows, 0, kRows, 0};
  }
  const ColourTest test{{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                         static_cast<std::uint8_t>(red)},
                        static_cast<std::int16_t>(limit),
                        invert};
  const AnalysisState& state = analysisState();
  std::int32_t lowRow = 1000;
  std::int32_t lowColumn = 1000;
  std::int32_t highRow = -1000;
  std::int32_t highColumn = -1000;
  std::array<std::uint8_t, kRowValues + kRowSlack> bytes{};
  const NearestRounding nearest;  // the camera rows' conversion to bytes checks with rounding
  const PixelKernels& kernels = activeKernels();
  for (int row = 0; row < kRows; ++row) {
    kernels.cameraRowToBytes(state.cameraPlane[row][0].data(), bytes.data());
    const ColumnSpan span = kernels.matchingColumns(bytes.data(), test);
    if (span.first < 0) continue;
    if (row < lowRow) lowRow = row;
    highRow = row;
    lowColumn = std::min(lowColumn, span.first);
    highColumn = std::max(highColumn, span.last);
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
