// Region statistics: the bounding box and pixel count of every region the labelling found, and
// the area filter that discards the regions below `mindensity` pixels. Kept apart from the
// labelling, which only numbers the regions and writes the label map.
#pragma once

#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan {

// Writes the records of labels 1 .. `regions` from the strip runs of the last labelling: each
// region's box, and maxRow -1 for a region below `mindensity` pixels. Only for frames whose
// labels all have records. Returns whether any region was discarded.
bool measureRegions(AnalysisState& state, std::int32_t regions);

}  // namespace kinetiscan
