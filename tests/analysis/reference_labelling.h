// The plain reading of the labelling: a flood fill from each unlabelled mask pixel in scan
// order, then one scan of the frame per label for its box, count and discard.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis_state.h"

namespace kinetiscan::testing {

struct Labelling {
  LabelMap labels{};
  std::int32_t count = 0;
  std::vector<BlobBox> boxes;  // records 1 .. count - 1; empty when there are none
};

Labelling referenceLabelling(const ImagePlane& mask, std::int32_t mindensity);

}  // namespace kinetiscan::testing
