// The plain reference labelling, kept readable rather than fast.
#include "reference_labelling.h"

#include <algorithm>

namespace kinetiscan::testing {

Labelling referenceLabelling(const ImagePlane& mask, std::int32_t mindensity) {
  Labelling out;
  const auto moving = [&](int row, int column) { return mask[row][column][0] != 0.0f; };
  std::vector<int> pending;
  std::int32_t next = 1;
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      if (!moving(row, column) || out.labels[row * kColumns + column] != 0) continue;
      out.labels[row * kColumns + column] = next;
      pending.assign(1, row * kColumns + column);
      while (!pending.empty()) {
        const int pixel = pending.back();
        pending.pop_back();
        for (int dr = -1; dr <= 1; ++dr) {
          for (int dc = -1; dc <= 1; ++dc) {
            const int r = pixel / kColumns + dr;
            const int c = pixel % kColumns + dc;
            if (r < 0 || r >= kRows || c < 0 || c >= kColumns || !moving(r, c)) continue;
            if (out.labels[r * kColumns + c] != 0) continue;
            out.labels[r * kColumns + c] = next;
            pending.push_back(r * kColumns + c);
          }
        }
      }
      ++next;
    }
  }
  out.count = next;
  if (out.count >= kMaxBlobRecords) return out;
  for (std::int32_t label = 1; label < out.count; ++label) {
    BlobBox box{-1, -1, kRows + 1, kColumns + 1};
    std::int32_t pixels = 0;
    for (int p = 0; p < kPixels; ++p) {
      if (out.labels[p] != label) continue;
      ++pixels;
      box.maxRow = std::max(box.maxRow, p / kColumns);
      box.maxCol = std::max(box.maxCol, p % kColumns);
      box.minRow = std::min(box.minRow, p / kColumns);
      box.minCol = std::min(box.minCol, p % kColumns);
    }
    if (pixels < mindensity) {
      for (auto& entry : out.labels)
        if (entry == label) entry = 0;
      box.maxRow = -1;
    }
    out.boxes.push_back(box);
  }
  return out;
}

}  // namespace kinetiscan::testing
