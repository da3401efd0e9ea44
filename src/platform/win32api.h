// The one place that chooses the platform: the real Win32 headers on Windows, our stand-in of
// the same calls everywhere else. Code in src/ and host/ includes this and nothing platform-bound.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h must come first.
#include <vfw.h>
#else
#include "standin/win32.h"
#endif
