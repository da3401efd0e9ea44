// Linux stand-in of the Win32 subset the plug-in and our hosts use: the same names, types and
// constants, implemented in libkinetiscan_standin.so. Split by area like the system DLLs.
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using LPVOID = void*;
using LPCSTR = const char*;
using LPSTR = char*;
using COLORREF = DWORD;
using HMODULE = struct StandinModule*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define WINAPI
#define CALLBACK

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
#pragma pack(pop)
struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44);
#define BI_RGB 0

// Libraries. A bare file name is looked for beside the running program first, as Windows does.
extern "C" {
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
}

// In dependency order: capture uses windowing's types.
#include "standin/gdi.h"
// clang-format off
#include "standin/user.h"
#include "standin/capture.h"
// clang-format on
