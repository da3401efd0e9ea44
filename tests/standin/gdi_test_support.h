// Small helpers shared by the GDI tests: a 32 bpp memory bitmap and its bytes as GetDIBits gives
// them. The same source runs on the stand-in and on the platform's own GDI.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dib_header.h"
#include "platform/win32api.h"

namespace kinetiscan::gdi_test {

// A memory DC holding a bitmap compatible with the screen (32 bpp), cleared to zero.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    previous_ = SelectObject(dc_, bitmap_);
    PatBlt(dc_, 0, 0, width, height, BLACKNESS);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }
  int width() const { return width_; }
  int height() const { return height_; }

  static BITMAPINFO header(int width, int height) { return dibHeader(width, height, 32); }
  // Bottom-up rows of B G R X, as GetDIBits returns them.
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width_) * height_ * 4);
    BITMAPINFO info = header(width_, height_);
    GetDIBits(dc_, bitmap_, 0, height_, out.data(), &info, DIB_RGB_COLORS);
    return out;
  }
  void setBytes(const std::vector<std::uint8_t>& in) {
    BITMAPINFO info = header(width_, height_);
    SetDIBits(dc_, bitmap_, 0, height_, in.data(), &info, DIB_RGB_COLORS);
  }
  // The four bytes of pixel (x, y), y counted from the top.
  static std::uint32_t at(const std::vector<std::uint8_t>& bytes, int width, int height, int x,
                          int y) {
    const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
    return bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 |
           static_cast<std::uint32_t>(bytes[i + 3]) << 24;
  }
  std::uint32_t at(int x, int y) const { return at(bytes(), width_, height_, x, y); }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
};

// The bytes of a pixel word, lowest first, as the measurements print them: "00 00 FF 00".
inline std::string byteText(std::uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", word & 0xFF, (word >> 8) & 0xFF,
                (word >> 16) & 0xFF, word >> 24);
  return text;
}

inline std::string testdataPath(const char* name) {
  return std::string(KINETISCAN_TESTDATA) + "/" + name;
}

}  // namespace kinetiscan::gdi_test
