// Pieces the stand-in's own files share.
#pragma once

namespace kinetiscan::standin {

// Delivers the frames a modal loop delivers while it runs.
void runModalLoop();
void resetWindowsForTest();
void resetCameraForTest();

}  // namespace kinetiscan::standin
