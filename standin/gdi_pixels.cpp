// Pixel transfer of the stand-in's GDI: block copies, pattern fills, DIB reads and writes, single
// pixels. Only the 32-bit BI_RGB DIB format exists here, in both row orders.
#include <algorithm>
#include <cstring>
#include <vector>

#include "standin/gdi_objects.h"

using namespace kinetiscan::standin::gdi;

namespace {

// The DIB rows a transfer covers, clipped to what the header describes.
struct DibGeometry {
  int width = 0;
  int height = 0;  // rows in the DIB
  bool bottomUp = true;
  int first = 0;  // first DIB row (counted from the bottom for bottom-up DIBs) and past-the-end
  int last = 0;
};

bool dibGeometry(const BITMAPINFO* info, UINT start, UINT lines, DibGeometry* out) {
  if (info == nullptr || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return false;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biBitCount != 32 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
      header.biHeight == 0 || header.biHeight == static_cast<LONG>(0x80000000u)) {
    return false;
  }
  out->width = header.biWidth;
  out->bottomUp = header.biHeight > 0;
  out->height = out->bottomUp ? header.biHeight : -header.biHeight;
  const long long first = std::min<long long>(start, out->height);
  out->first = static_cast<int>(first);
  out->last = static_cast<int>(std::min<long long>(first + lines, out->height));
  return static_cast<long long>(out->width) * out->height <= (1LL << 28);
}

// The bitmap row a DIB row lands on; the DIB's top row is the bitmap's top row.
int bitmapRow(const DibGeometry& dib, int row) { return dib.bottomUp ? dib.height - 1 - row : row; }

std::uint32_t nearestMono(std::uint32_t word) {
  long long black = 0, white = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const long long c = (word >> shift) & 0xFF;
    black += c * c;
    white += (255 - c) * (255 - c);
  }
  return white < black ? 1u : 0u;
}

// Calls fn(left, top, right, bottom) for each part of the device rectangle that writes reach: the
// rectangle cut to the surface and, on a clipped DC, to each clip box. Working on whole boxes
// instead of asking writable() per pixel keeps block transfers at memcpy speed. Clip boxes may
// touch but a pixel written twice gets the same word, so overlap would not matter either.
template <class Fn>
void forEachWritableBox(const Dc& dc, long long left, long long top, long long right,
                        long long bottom, Fn&& fn) {
  if (dc.bitmap == nullptr) return;
  const Box area = surfaceBox(dc);
  left = std::max<long long>(left, area.left);
  top = std::max<long long>(top, area.top);
  right = std::min<long long>(right, area.right);
  bottom = std::min<long long>(bottom, area.bottom);
  if (left >= right || top >= bottom) return;
  if (!dc.clipped) {
    fn(left, top, right, bottom);
    return;
  }
  for (const Box& box : dc.clip) {
    const long long l = std::max<long long>(left, box.left);
    const long long t = std::max<long long>(top, box.top);
    const long long r = std::min<long long>(right, box.right);
    const long long b = std::min<long long>(bottom, box.bottom);
    if (l < r && t < b) fn(l, t, r, b);
  }
}

std::uint32_t* rowAt(Bitmap& bitmap, long long x, long long y) {
  return bitmap.pixels.data() + static_cast<std::size_t>(y) * bitmap.width +
         static_cast<std::size_t>(x);
}

}  // namespace

extern "C" int GetDIBits(HDC, HBITMAP handle, UINT start, UINT lines, LPVOID bits,
                         LPBITMAPINFO info, UINT usage) {
  Bitmap* bitmap = findBitmap(handle);
  if (bitmap == nullptr || info == nullptr || usage != DIB_RGB_COLORS) return 0;
  if (bits == nullptr && info->bmiHeader.biBitCount == 0) {
    BITMAPINFOHEADER& header = info->bmiHeader;
    header.biWidth = bitmap->width;
    header.biHeight = bitmap->height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitmap->bitsPerPixel);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(bitmap->width) * bitmap->height * 4;
    return bitmap->height;
  }
  DibGeometry dib;
  if (!dibGeometry(info, start, lines, &dib)) return 0;
  if (info->bmiHeader.biSizeImage == 0) {
    info->bmiHeader.biSizeImage = static_cast<DWORD>(dib.width) * dib.height * 4;
  }
  if (bits == nullptr) return dib.last - dib.first;
  auto* out = static_cast<unsigned char*>(bits);
  // DIB columns beyond the bitmap are left as the caller had them.
  const int columns = std::min(dib.width, bitmap->width);
  for (int row = dib.first; row < dib.last; ++row) {
    const int y = bitmapRow(dib, row);
    if (y < 0 || y >= bitmap->height) continue;
    const std::uint32_t* from = rowAt(*bitmap, 0, y);
    unsigned char* to = out + static_cast<std::size_t>(row - dib.first) * dib.width * 4;
    if (bitmap->bitsPerPixel == 32) {
      std::memcpy(to, from, static_cast<std::size_t>(columns) * 4);
      continue;
    }
    for (int x = 0; x < columns; ++x) {
      const std::uint32_t word = from[x] != 0 ? 0x00FFFFFFu : 0;
      std::memcpy(to + static_cast<std::size_t>(x) * 4, &word, 4);
    }
  }
  return dib.last - dib.first;
}

extern "C" int SetDIBits(HDC, HBITMAP handle, UINT start, UINT lines, const void* bits,
                         const BITMAPINFO* info, UINT usage) {
  Bitmap* bitmap = findBitmap(handle);
  DibGeometry dib;
  if (bitmap == nullptr || bitmap->stock || bits == nullptr || usage != DIB_RGB_COLORS ||
      !dibGeometry(info, start, lines, &dib)) {
    return 0;
  }
  const auto* in = static_cast<const unsigned char*>(bits);
  const int columns = std::min(dib.width, bitmap->width);
  for (int row = dib.first; row < dib.last; ++row) {
    const int y = bitmapRow(dib, row);
    if (y < 0 || y >= bitmap->height) continue;
    const unsigned char* from = in + static_cast<std::size_t>(row - dib.first) * dib.width * 4;
    std::uint32_t* to = rowAt(*bitmap, 0, y);
    if (bitmap->bitsPerPixel == 32) {
      std::memcpy(to, from, static_cast<std::size_t>(columns) * 4);
      continue;
    }
    for (int x = 0; x < columns; ++x) {
      std::uint32_t word;
      std::memcpy(&word, from + static_cast<std::size_t>(x) * 4, 4);
      to[x] = nearestMono(word);
    }
  }
  return dib.last - dib.first;
}

extern "C" BOOL BitBlt(HDC targetHandle, int x, int y, int width, int height, HDC sourceHandle,
                       int sourceX, int sourceY, DWORD rop) {
  Dc* target = findDc(targetHandle);
  if (target == nullptr || width < 0 || height < 0) return FALSE;
  if (rop == BLACKNESS || rop == WHITENESS) return PatBlt(targetHandle, x, y, width, height, rop);
  Dc* source = findDc(sourceHandle);
  if (rop != SRCCOPY || source == nullptr) return FALSE;
  if (target->bitmap == nullptr || source->bitmap == nullptr) return TRUE;
  const Bitmap& from = *source->bitmap;
  Bitmap& to = *target->bitmap;
  // Target pixel (tx, ty) takes source pixel (tx + dx, ty + dy). Target pixels whose source lies
  // outside the source bitmap keep their value, so the rectangle is cut to the source first.
  const long long dx = static_cast<long long>(sourceX) - x;
  const long long dy = static_cast<long long>(sourceY) - y;
  const Box area = surfaceBox(*target);
  const long long left = std::max<long long>({x, -dx, area.left});
  const long long top = std::max<long long>({y, -dy, area.top});
  const long long right =
      std::min<long long>({static_cast<long long>(x) + width, from.width - dx, area.right});
  const long long bottom =
      std::min<long long>({static_cast<long long>(y) + height, from.height - dy, area.bottom});
  if (left >= right || top >= bottom) return TRUE;
  // Source and target may be the same bitmap: then the source rectangle is read whole before any
  // write, as if the copy went through a buffer.
  const std::uint32_t* origin = from.pixels.data();
  std::size_t stride = static_cast<std::size_t>(from.width);
  long long originX = dx, originY = dy;
  std::vector<std::uint32_t> snapshot;
  if (&from == &to) {
    const auto columns = static_cast<std::size_t>(right - left);
    snapshot.resize(columns * static_cast<std::size_t>(bottom - top));
    for (long long row = top; row < bottom; ++row) {
      std::memcpy(snapshot.data() + static_cast<std::size_t>(row - top) * columns,
                  origin + static_cast<std::size_t>(row + dy) * stride +
                      static_cast<std::size_t>(left + dx),
                  columns * 4);
    }
    origin = snapshot.data();
    stride = columns;
    originX = -left;
    originY = -top;
  }
  const std::uint32_t text = pixelOf(target->textColour);
  const std::uint32_t background = pixelOf(target->backgroundColour);
  const std::uint32_t sourceBackground = pixelOf(source->backgroundColour);
  const int fromDepth = from.bitsPerPixel, toDepth = to.bitsPerPixel;
  forEachWritableBox(
      *target, left, top, right, bottom, [&](long long l, long long t, long long r, long long b) {
        const auto count = static_cast<std::size_t>(r - l);
        for (long long row = t; row < b; ++row) {
          const std::uint32_t* in = origin + static_cast<std::size_t>(row + originY) * stride +
                                    static_cast<std::size_t>(l + originX);
          std::uint32_t* out = rowAt(to, l, row);
          if (fromDepth == toDepth) {
            std::memcpy(out, in, count * 4);
          } else if (fromDepth == 1) {
            for (std::size_t i = 0; i < count; ++i) out[i] = in[i] != 0 ? background : text;
          } else {
            for (std::size_t i = 0; i < count; ++i) {
              out[i] = (in[i] & 0x00FFFFFFu) == sourceBackground ? 1u : 0u;
            }
          }
        }
      });
  return TRUE;
}

extern "C" BOOL PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || (rop != BLACKNESS && rop != WHITENESS)) return FALSE;
  if (dc->bitmap == nullptr) return TRUE;
  long long left = x, top = y, right = left + width, bottom = top + height;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const std::uint32_t word =
      rop == BLACKNESS ? 0u : (dc->bitmap->bitsPerPixel == 1 ? 1u : 0xFFFFFFFFu);
  forEachWritableBox(
      *dc, left, top, right, bottom, [&](long long l, long long t, long long r, long long b) {
        for (long long row = t; row < b; ++row) {
          std::fill_n(rowAt(*dc->bitmap, l, row), static_cast<std::size_t>(r - l), word);
        }
      });
  return TRUE;
}

extern "C" COLORREF GetPixel(HDC handle, int x, int y) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || !writable(*dc, x, y)) return CLR_INVALID;
  const std::uint32_t word =
      dc->bitmap->pixels[static_cast<std::size_t>(y) * dc->bitmap->width + x];
  if (dc->bitmap->bitsPerPixel == 1) return word != 0 ? 0x00FFFFFFu : 0;
  return RGB(word >> 16, word >> 8, word);
}

extern "C" COLORREF SetPixel(HDC handle, int x, int y, COLORREF colour) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || !writable(*dc, x, y)) return CLR_INVALID;
  std::uint32_t& word = dc->bitmap->pixels[static_cast<std::size_t>(y) * dc->bitmap->width + x];
  word = dc->bitmap->bitsPerPixel == 1 ? monoBitOf(*dc, colour) : pixelOf(colour);
  return GetPixel(handle, x, y);
}
