// The plain kernels: the stated arithmetic, which every other path must match bit for bit, and the
// only path off x86.
#include <cmath>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

namespace kinetiscan {
namespace {

void pixelPassPlain(const PixelPass& pass) {
  const double sensitivity = static_cast<double>(pass.sensitivity);
  const double divisor = static_cast<double>(pass.adaptivity);
  std::uint32_t word = 0;
  for (int p = 0; p < pass.pixels; ++p) {
    float* camera = pass.camera + p * kComponents;
    float* retina = pass.retina + p * kComponents;
    float* difference = pass.difference + p * kComponents;
    if (pass.frame != nullptr) {
      for (int k = 0; k < kComponents; ++k) {
        camera[k] = byteToComponent(pass.frame[p * kComponents + k]);
      }
    }

    // Difference and mask against the retina as it stood before this frame's adaptation.
    for (int k = 0; k < kComponents; ++k) difference[k] = std::fabs(retina[k] - camera[k]);
    const float redGreen = difference[2] + difference[1];
    const double sum = static_cast<double>(redGreen) + static_cast<double>(difference[0]);
    const bool moving = sum > sensitivity;  // an unordered sum does not move
    for (int k = 0; k < kComponents; ++k) pass.globs[p * kComponents + k] = moving ? 1.0f : 0.0f;

    word |= static_cast<std::uint32_t>(moving) << (p % 32);
    if (p % 32 == 31) {
      pass.motion[p / 32] = word;
      word = 0;
    }

    if (pass.adapts) {
      for (int k = 0; k < kComponents; ++k) {
        const double old = static_cast<double>(retina[k]);
        retina[k] = static_cast<float>(old + (static_cast<double>(camera[k]) - old) / divisor);
      }
    }
  }
}

ColumnSpan matchingColumnsPlain(const std::uint8_t* bytes, const ColourTest& test) {
  ColumnSpan span{-1, -1};
  for (int column = 0; column < kColumns; ++column) {
    int sum = 0;
    for (int k = 0; k < kComponents; ++k) {
      const int difference = bytes[column * kComponents + k] - test.target[k];
      sum += difference < 0 ? -difference : difference;
    }
    if ((sum < test.limit) == test.invert) continue;
    if (span.first < 0) span.first = column;
    span.last = column;
  }
  return span;
}

}  // namespace

void addRowPlain(const float* components, std::uint32_t* totals) {
  std::uint8_t bytes[kRowValues];
  rowToBytes(components, bytes);
  for (int i = 0; i < kRowValues; ++i) totals[i] += bytes[i];
}

constinit const PixelKernels kPlainKernels{
    .path = PixelPath::plain,
    .pixelPass = &pixelPassPlain,
    .cameraRowToBytes = &rowToBytes,
    .addRow = &addRowPlain,
    .matchingColumns = &matchingColumnsPlain,
};

}  // namespace kinetiscan
