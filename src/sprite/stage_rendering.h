// Turning the analysis planes into pixels: the sprite's view with its overlays, and the cast
// member's own preview.
#pragma once

#include <cstdint>

#include "analysis/analysis_state.h"
#include "kinetiscan/host_services.h"
#include "platform/win32api.h"

namespace kinetiscan {

// The percentage of a new rendering that replaces the old pixels, from a sprite's blend level.
int weightOfLevel(std::int32_t level);

// Mixes the plane into the area (left, top) inclusive to (right, bottom) exclusive of dc, with
// weight 0 to 100; the area's bottom row gets plane row 0. Pixels beyond the plane keep what the
// area showed. False if nothing was written (no buffer, or the platform refused a step).
bool renderPlane(HDC dc, std::int32_t left, std::int32_t top, std::int32_t right,
                 std::int32_t bottom, const ImagePlane& plane, int weight);

// Draws view 1-4 (camera, retina, difference, globs) at the rect's top-left corner, clipped to
// the rect, and the region outlines and centre crosses in the given colour if asked for.
void drawSpriteView(const DrawRequest* request, DrawSurface* surface, std::int32_t view,
                    std::int32_t showBoundingBoxes, std::int32_t showCenterPoints, std::int32_t red,
                    std::int32_t green, std::int32_t blue);

// The cast member's picture of itself: the camera plane, unscaled, at the rect's bottom-left.
Result drawMemberPreview(DrawSurface* surface, const HostRect* rect);

}  // namespace kinetiscan
