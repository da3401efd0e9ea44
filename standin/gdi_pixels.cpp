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
  for (int row = dib.first; row < dib.last; ++row) {
    const int y = bitmapRow(dib, row);
    if (y < 0 || y >= bitmap->height) continue;
    for (int x = 0; x < std::min(dib.width, bitmap->width); ++x) {
      std::uint32_t word = bitmap->pixels[static_cast<std::size_t>(y) * bitmap->width + x];
      if (bitmap->bitsPerPixel == 1) word = word != 0 ? 0x00FFFFFFu : 0;
      std::memcpy(out + (static_cast<std::size_t>(row - dib.first) * dib.width + x) * 4, &word, 4);
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
  for (int row = dib.first; row < dib.last; ++row) {
    const int y = bitmapRow(dib, row);
    if (y < 0 || y >= bitmap->height) continue;
    for (int x = 0; x < std::min(dib.width, bitmap->width); ++x) {
      std::uint32_t word;
      std::memcpy(&word, in + (static_cast<std::size_t>(row - dib.first) * dib.width + x) * 4, 4);
      bitmap->pixels[static_cast<std::size_t>(y) * bitmap->width + x] =
          bitmap->bitsPerPixel == 1 ? nearestMono(word) : word;
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
  const Box area = surfaceBox(*target);
  const long long fromX = std::max<long long>(0, static_cast<long long>(area.left) - x);
  const long long toX = std::min<long long>(width, static_cast<long long>(area.right) - x);
  const long long fromY = std::max<long long>(0, static_cast<long long>(area.top) - y);
  const long long toY = std::min<long long>(height, static_cast<long long>(area.bottom) - y);
  if (fromX >= toX || fromY >= toY) return TRUE;
  const Bitmap& from = *source->bitmap;
  Bitmap& to = *target->bitmap;
  // Read everything first: source and target may be the same bitmap.
  const std::size_t columns = static_cast<std::size_t>(toX - fromX);
  std::vector<long long> read(columns * static_cast<std::size_t>(toY - fromY), -1);
  for (long long j = fromY; j < toY; ++j) {
    const long long sy = static_cast<long long>(sourceY) + j;
    if (sy < 0 || sy >= from.height) continue;
    for (long long i = fromX; i < toX; ++i) {
      const long long sx = static_cast<long long>(sourceX) + i;
      if (sx < 0 || sx >= from.width) continue;
      read[static_cast<std::size_t>(j - fromY) * columns + static_cast<std::size_t>(i - fromX)] =
          from.pixels[static_cast<std::size_t>(sy) * from.width + static_cast<std::size_t>(sx)];
    }
  }
  for (long long j = fromY; j < toY; ++j) {
    for (long long i = fromX; i < toX; ++i) {
      const long long value =
          read[static_cast<std::size_t>(j - fromY) * columns + static_cast<std::size_t>(i - fromX)];
      if (value < 0 || !writable(*target, x + i, y + j)) continue;
      auto word = static_cast<std::uint32_t>(value);
      if (from.bitsPerPixel == 1 && to.bitsPerPixel == 32) {
        word = pixelOf(word != 0 ? target->backgroundColour : target->textColour);
      } else if (from.bitsPerPixel == 32 && to.bitsPerPixel == 1) {
        word = (word & 0x00FFFFFFu) == pixelOf(source->backgroundColour) ? 1u : 0u;
      }
      to.pixels[static_cast<std::size_t>(y + j) * to.width + static_cast<std::size_t>(x + i)] =
          word;
    }
  }
  return TRUE;
}

extern "C" BOOL PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || (rop != BLACKNESS && rop != WHITENESS)) return FALSE;
  if (dc->bitmap == nullptr) return TRUE;
  long long left = x, top = y, right = left + width, bottom = top + height;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const Box area = surfaceBox(*dc);
  const std::uint32_t word =
      rop == BLACKNESS ? 0u : (dc->bitmap->bitsPerPixel == 1 ? 1u : 0xFFFFFFFFu);
  for (long long py = std::max<long long>(top, area.top);
       py < std::min<long long>(bottom, area.bottom); ++py) {
    for (long long px = std::max<long long>(left, area.left);
         px < std::min<long long>(right, area.right); ++px) {
      if (writable(*dc, px, py)) {
        dc->bitmap->pixels[static_cast<std::size_t>(py) * dc->bitmap->width +
                           static_cast<std::size_t>(px)] = word;
      }
    }
  }
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
