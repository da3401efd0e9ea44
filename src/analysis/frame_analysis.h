// The once-per-frame step of the motion analysis and the background reset.
#pragma once

#include "analysis/analysis_state.h"

namespace kinetiscan {

// Converts the current frame into `plane`. Without a frame the plane keeps its contents; bytes
// missing from a short frame give 0.0, bytes beyond kFrameBytes are ignored.
void loadPlaneFromFrame(ImagePlane& plane);

// Makes the current frame the background: camera and retina both take it. Nothing else changes.
void resetBackground();

// Runs the cast scan, then difference, mask, retina adaptation, labelling, and marks every
// panel stale.
void analyseFrame();

}  // namespace kinetiscan
