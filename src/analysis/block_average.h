// The average colour of a rect of the latest frame, the retina or the difference plane.
#pragma once

#include "kinetiscan/records.h"

namespace kinetiscan {

enum class BlockSource { frame, retina, difference };

// `rect` is in script coordinates: plane rows 120 - bottom up to 120 - top (exclusive), columns
// left up to right (exclusive). The divisor is the rect's whole area, so the part outside the
// picture counts as black. An empty rect, or the frame source with no frame, gives black. The
// fourth byte is always 1.
ColourRecord blockAverage(BlockSource source, const HostRect& rect);

// The same, one pixel at a time as stated: the reference the row-wise sums must match.
ColourRecord blockAveragePlain(BlockSource source, const HostRect& rect);

}  // namespace kinetiscan
