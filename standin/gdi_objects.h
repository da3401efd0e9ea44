// The stand-in's GDI objects as its own files see them. A handle is the object's address; every
// call looks the handle up first, so a stale or foreign handle fails instead of crashing.
#pragma once

#include <cstdint>
#include <vector>

#include "standin/win32.h"

namespace kinetiscan::standin::gdi {

enum class Type { Dc, Bitmap, Pen, Region };

struct Object {
  explicit Object(Type kind) : type(kind) {}
  virtual ~Object() = default;
  Type type;
  bool stock = false;
  // DeleteObject on a selected object only marks it; it goes once nothing holds it.
  bool deletePending = false;
  int selections = 0;
};

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
  bool contains(long long x, long long y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
  bool empty() const { return left >= right || top >= bottom; }
};

struct Bitmap : Object {
  Bitmap(int w, int h, int depth)
      : Object(Type::Bitmap), width(w), height(h), bitsPerPixel(depth) {}
  int width, height;
  int bitsPerPixel;  // 1 or 32
  // One word per pixel, top row first: B | G << 8 | R << 16 | X << 24, or 0/1 for 1 bpp.
  std::vector<std::uint32_t> pixels;
  Object* holder = nullptr;  // the memory DC it is selected into
};

struct Pen : Object {
  Pen() : Object(Type::Pen) {}
  int style = PS_SOLID;
  int width = 1;
  COLORREF colour = 0;
};

struct Region : Object {
  Region() : Object(Type::Region) {}
  std::vector<Box> boxes;  // their union; empty boxes are never kept
};

struct Dc : Object {
  Dc() : Object(Type::Dc) {}
  bool screen = false;
  Bitmap* bitmap = nullptr;
  Pen* pen = nullptr;
  int rop2 = R2_COPYPEN;
  int x = 0, y = 0;
  bool clipped = false;
  std::vector<Box> clip;  // device coordinates, when clipped
  COLORREF textColour = 0;
  COLORREF backgroundColour = 0x00FFFFFF;
};

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// The live object behind a handle, or null if the handle is not one of that type.
Object* find(const void* handle);
Dc* findDc(HDC handle);
Bitmap* findBitmap(const void* handle);
Pen* findPen(const void* handle);
Region* findRegion(const void* handle);

void addObject(Object* object);
// Frees the object if it was deleted and nothing holds it any more.
void releaseSelection(Object* object);

// The drawable area of a DC: its bitmap, or the screen. Empty for a DC holding nothing.
Box surfaceBox(const Dc& dc);
// Whether a write at device (x, y) reaches the surface.
bool writable(const Dc& dc, long long x, long long y);

// A COLORREF as 32 bpp pixel bits (fourth byte 0), resolving palette indices.
std::uint32_t pixelOf(COLORREF colour);
// The bit a colour becomes in a 1 bpp bitmap of this DC: the background colour is 1.
std::uint32_t monoBitOf(const Dc& dc, COLORREF colour);
// The binary raster operation of a mix mode.
std::uint32_t mix(int rop2, std::uint32_t pen, std::uint32_t target);

std::vector<Box> normalised(std::vector<Box> boxes);
int regionType(const std::vector<Box>& boxes);
Box boundsOf(const std::vector<Box>& boxes);

}  // namespace kinetiscan::standin::gdi
