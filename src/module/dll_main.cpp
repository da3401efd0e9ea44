// The library entry notification: the module keeps no per-process or per-thread state to set up.
#include "platform/win32api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
