// Pieces the stand-in's own files share.
#pragma once

#include "standin/win32.h"

namespace kinetiscan::standin {

// Delivers the frames a modal loop delivers while it runs.
void runModalLoop();
void resetWindowsForTest();
void resetCameraForTest();

// The C runtime library as a loaded module ("msvcrt.dll"), for the few calls a program looks up
// in it by name.
bool isRuntimeLibraryName(const char* name);
HMODULE runtimeLibrary();

}  // namespace kinetiscan::standin
