// The plain row matcher and the choice of row functions, which follows the pixel pass's path so
// that forcing a path in a test or benchmark forces these too.
#include "analysis/measurement_rows.h"

#include <cstdint>

#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

namespace kinetiscan {

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

void addRowPlain(const float* components, std::uint32_t* totals) {
  std::uint8_t bytes[kRowValues];
  rowToBytes(components, bytes);
  for (int i = 0; i < kRowValues; ++i) totals[i] += bytes[i];
}

void addRowOnPath(const float* components, std::uint32_t* totals) {
  switch (activePixelPath()) {
    case PixelPath::plain:
    case PixelPath::sse2:
      addRowPlain(components, totals);
      return;
    case PixelPath::avx2:
      addRowAvx2(components, totals);
      return;
    case PixelPath::avx512:
      addRowAvx512(components, totals);
      return;
  }
}

void cameraRowToBytesOnPath(const float* components, std::uint8_t* bytes) {
  switch (activePixelPath()) {
    case PixelPath::plain:
      rowToBytes(components, bytes);
      return;
    case PixelPath::sse2:
      cameraRowToBytesSse2(components, bytes);
      return;
    case PixelPath::avx2:
      cameraRowToBytesAvx2(components, bytes);
      return;
    case PixelPath::avx512:
      cameraRowToBytesAvx512(components, bytes);
      return;
  }
}

ColumnSpan matchingColumnsOnPath(const std::uint8_t* bytes, const ColourTest& test) {
  switch (activePixelPath()) {
    case PixelPath::plain:
      return matchingColumnsPlain(bytes, test);
    case PixelPath::sse2:
      return matchingColumnsSse2(bytes, test);
    case PixelPath::avx2:
    case PixelPath::avx512:
      return matchingColumnsAvx2(bytes, test);
  }
  return matchingColumnsPlain(bytes, test);
}

}  // namespace kinetiscan
