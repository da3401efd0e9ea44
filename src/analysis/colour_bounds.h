// The bounding rect of the camera pixels near (or, inverted, not near) a colour.
#pragma once

#include <cstdint>

#include "kinetiscan/records.h"

namespace kinetiscan {

// A pixel is near when the mean absolute difference of its 8-bit components from the colour,
// rounded down, is below `tolerance`. The rect is in script coordinates: top = 120 - lowest
// plane row, bottom = 120 - highest, so top >= bottom. No match gives {120, 0, 120, 0}.
HostRect colourBounds(int red, int green, int blue, std::int32_t tolerance, bool invert);

// The same, one pixel at a time as stated: the reference the row-wise pass must match.
HostRect colourBoundsPlain(int red, int green, int blue, std::int32_t tolerance, bool invert);

// Halves the sums truncating toward zero; {120, 0, 120, 0} gives {120, 0}.
HostPoint colourBoundsCentre(const HostRect& rect);

}  // namespace kinetiscan
