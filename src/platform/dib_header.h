// The one header of a device-independent bitmap this code builds: uncompressed rows of 24 or 32
// bits a pixel, the bottom row first for a positive height and the top row first for a negative
// one. The plug-in, the host harness and the tests all describe their pixels with it.
#pragma once

#include "platform/win32api.h"

namespace kinetiscan {

inline BITMAPINFO dibHeader(LONG width, LONG height, WORD bitsPerPixel) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bitsPerPixel;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace kinetiscan
