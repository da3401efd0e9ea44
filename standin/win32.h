// Linux stand-in of the Win32 subset the plug-in and our hosts use: the same names, types and
// constants, implemented in libkinetiscan_standin.so.
#pragma once

#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using LPVOID = void*;
using LPCSTR = const char*;
using HMODULE = struct StandinModule*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define WINAPI

// Libraries. A bare file name is looked for beside the running program first, as Windows does.
extern "C" {
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
}
