// The once-per-frame step of the motion analysis and the background reset, over the frame they
// are given.
#pragma once

#include "analysis/analysis_state.h"
#include "analysis/frame_view.h"

namespace kinetiscan {

// These run under a NearestRounding of their own, whatever state the caller is in.

// Converts `frame` into `plane`. Without a frame the plane keeps its contents; bytes missing from
// a short frame give 0.0, bytes beyond kFrameBytes are ignored.
void loadPlaneFromFrame(ImagePlane& plane, FrameView frame);

// Makes `frame` the background: camera and retina both take it. Nothing else changes.
void resetBackground(FrameView frame);

// Difference, mask, retina adaptation and labelling of one frame; then the frame generation
// moves on, so every view of the planes is out of date.
void analyseFrame(FrameView frame);

}  // namespace kinetiscan
