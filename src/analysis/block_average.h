// The average colour of a rect of a frame, the retina or the difference plane.
#pragma once

#include "analysis/frame_view.h"
#include "kinetiscan/records.h"

namespace kinetiscan {

enum class BlockSource { frame, retina, difference };

// `rect` is in script coordinates: plane rows 120 - bottom up to 120 - top (exclusive), columns
// left up to right (exclusive). The divisor is the rect's whole area, so the part outside the
// picture counts as black. An empty rect, or BlockSource::frame without a frame, gives black. The
// fourth byte is always 1. `frame` is read only for BlockSource::frame.
ColourRecord blockAverage(BlockSource source, const HostRect& rect, FrameView frame);

// The same, one pixel at a time as stated: the reference the row-wise sums must match.
ColourRecord blockAveragePlain(BlockSource source, const HostRect& rect, FrameView frame);

}  // namespace kinetiscan
