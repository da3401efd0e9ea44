// Regions, clipping, pens and lines of the stand-in's GDI. Lines set exactly the pixels Wine's
// DIB engine sets: major-axis stepping from the start pixel, the end pixel left out, the minor
// coordinate rounded to nearest with exact halves going to the smaller one; clipping only removes.
#include <algorithm>
#include <new>

#include "standin/gdi_objects.h"

namespace kinetiscan::standin::gdi {

std::vector<Box> normalised(std::vector<Box> boxes) {
  boxes.erase(std::remove_if(boxes.begin(), boxes.end(), [](const Box& b) { return b.empty(); }),
              boxes.end());
  return boxes;
}

int regionType(const std::vector<Box>& boxes) {
  if (boxes.empty()) return NULLREGION;
  return boxes.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

Box boundsOf(const std::vector<Box>& boxes) {
  if (boxes.empty()) return Box{0, 0, 0, 0};
  Box bounds = boxes.front();
  for (const Box& box : boxes) {
    bounds.left = std::min(bounds.left, box.left);
    bounds.top = std::min(bounds.top, box.top);
    bounds.right = std::max(bounds.right, box.right);
    bounds.bottom = std::max(bounds.bottom, box.bottom);
  }
  return bounds;
}

}  // namespace kinetiscan::standin::gdi

using namespace kinetiscan::standin::gdi;

namespace {

void writeBox(const Box& box, LPRECT out) {
  if (out != nullptr) *out = RECT{box.left, box.top, box.right, box.bottom};
}

Box intersection(const Box& a, const Box& b) {
  Box both{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
  return both.empty() ? Box{0, 0, 0, 0} : both;
}

// Products of two line lengths exceed 64 bits for lines between far-apart 32-bit points.
__extension__ using Wide = __int128;

// Rounds num / den (den > 0) up.
long long ceilDivide(Wide num, Wide den) {
  Wide quotient = num / den;
  if (num % den != 0 && num > 0) ++quotient;
  return static_cast<long long>(quotient);
}

void plot(Dc& dc, long long x, long long y) {
  if (!writable(dc, x, y)) return;
  Bitmap& bitmap = *dc.bitmap;
  std::uint32_t& word =
      bitmap.pixels[static_cast<std::size_t>(y) * bitmap.width + static_cast<std::size_t>(x)];
  if (bitmap.bitsPerPixel == 1) {
    word = mix(dc.rop2, monoBitOf(dc, dc.pen->colour) != 0 ? ~0u : 0u, word != 0 ? ~0u : 0u) & 1u;
  } else {
    word = mix(dc.rop2, pixelOf(dc.pen->colour), word);
  }
}

// Pixels i = 0 .. steps - 1 along the major axis; only those whose major coordinate lies on the
// surface are visited, so lines with far-away ends cost no more than the surface is wide.
void drawLine(Dc& dc, long long x0, long long y0, long long x1, long long y1) {
  const long long dx = x1 - x0, dy = y1 - y0;
  const bool alongX = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy);
  const long long major = alongX ? dx : dy;
  const long long minor = alongX ? dy : dx;
  const long long steps = major < 0 ? -major : major;
  if (steps == 0) return;
  const long long step = major < 0 ? -1 : 1;
  const long long start = alongX ? x0 : y0;
  const long long minorStart = alongX ? y0 : x0;
  const Box area = surfaceBox(dc);
  const long long low = alongX ? area.left : area.top;
  const long long high = alongX ? area.right : area.bottom;  // exclusive
  // i such that low <= start + step * i < high
  long long first = 0, last = steps - 1;
  if (step > 0) {
    first = std::max(first, low - start);
    last = std::min(last, high - 1 - start);
  } else {
    first = std::max(first, start - (high - 1));
    last = std::min(last, start - low);
  }
  for (long long i = first; i <= last; ++i) {
    const long long offset =
        ceilDivide(static_cast<Wide>(2) * i * minor - steps, static_cast<Wide>(2) * steps);
    const long long along = start + step * i;
    const long long across = minorStart + offset;
    if (alongX) {
      plot(dc, along, across);
    } else {
      plot(dc, across, along);
    }
  }
}

}  // namespace

extern "C" HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto* region = new (std::nothrow) Region;
  if (region == nullptr) return nullptr;
  region->boxes = normalised({Box{std::min(left, right), std::min(top, bottom),
                                  std::max(left, right), std::max(top, bottom)}});
  addObject(region);
  return reinterpret_cast<HRGN>(region);
}

extern "C" int CombineRgn(HRGN targetHandle, HRGN firstHandle, HRGN secondHandle, int mode) {
  Region* target = findRegion(targetHandle);
  Region* first = findRegion(firstHandle);
  if (target == nullptr || first == nullptr) return ERROR;
  if (mode == RGN_COPY) {
    target->boxes = first->boxes;
    return regionType(target->boxes);
  }
  Region* second = findRegion(secondHandle);
  if (second == nullptr) return ERROR;
  std::vector<Box> result;
  if (mode == RGN_OR) {
    result = first->boxes;
    result.insert(result.end(), second->boxes.begin(), second->boxes.end());
  } else if (mode == RGN_AND) {
    for (const Box& a : first->boxes) {
      for (const Box& b : second->boxes) result.push_back(intersection(a, b));
    }
  } else {
    return ERROR;
  }
  target->boxes = normalised(std::move(result));
  return regionType(target->boxes);
}

extern "C" int GetRgnBox(HRGN handle, LPRECT box) {
  Region* region = findRegion(handle);
  if (region == nullptr) return ERROR;
  writeBox(boundsOf(region->boxes), box);
  return regionType(region->boxes);
}

// The DC keeps its own copy: the caller may delete the region at once.
extern "C" int SelectClipRgn(HDC handle, HRGN regionHandle) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return ERROR;
  if (regionHandle == nullptr) {
    dc->clipped = false;
    dc->clip.clear();
    return SIMPLEREGION;
  }
  Region* region = findRegion(regionHandle);
  if (region == nullptr) return ERROR;
  dc->clipped = true;
  dc->clip = region->boxes;
  return regionType(dc->clip);
}

extern "C" int GetClipBox(HDC handle, LPRECT box) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return ERROR;
  const Box surface = surfaceBox(*dc);
  if (!dc->clipped) {
    writeBox(surface, box);
    return surface.empty() ? NULLREGION : SIMPLEREGION;
  }
  std::vector<Box> visible;
  for (const Box& clip : dc->clip) visible.push_back(intersection(clip, surface));
  visible = normalised(std::move(visible));
  writeBox(boundsOf(visible), box);
  return regionType(visible);
}

extern "C" int GetClipRgn(HDC handle, HRGN regionHandle) {
  Dc* dc = findDc(handle);
  Region* region = findRegion(regionHandle);
  if (dc == nullptr || region == nullptr) return -1;
  if (!dc->clipped) return 0;
  region->boxes = dc->clip;
  return 1;
}

extern "C" HPEN CreatePen(int style, int width, COLORREF colour) {
  auto* pen = new (std::nothrow) Pen;
  if (pen == nullptr) return nullptr;
  pen->style = style;
  pen->width = width;
  pen->colour = colour;
  addObject(pen);
  return reinterpret_cast<HPEN>(pen);
}

extern "C" int SetROP2(HDC handle, int mode) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || mode < R2_BLACK || mode > R2_WHITE) return 0;
  const int previous = dc->rop2;
  dc->rop2 = mode;
  return previous;
}

extern "C" int GetROP2(HDC handle) {
  Dc* dc = findDc(handle);
  return dc == nullptr ? 0 : dc->rop2;
}

extern "C" BOOL MoveToEx(HDC handle, int x, int y, LPPOINT previous) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return FALSE;
  if (previous != nullptr) *previous = POINT{dc->x, dc->y};
  dc->x = x;
  dc->y = y;
  return TRUE;
}

extern "C" BOOL GetCurrentPositionEx(HDC handle, LPPOINT position) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || position == nullptr) return FALSE;
  *position = POINT{dc->x, dc->y};
  return TRUE;
}

// Wide pens are drawn one pixel wide: nothing here draws with them.
extern "C" BOOL LineTo(HDC handle, int x, int y) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return FALSE;
  if (dc->pen->style != PS_NULL) drawLine(*dc, dc->x, dc->y, x, y);
  dc->x = x;
  dc->y = y;
  return TRUE;
}

// Each polyline sets the pixels that moving to its first point and drawing on through the others
// sets; the current position stays. A polyline of fewer than two points fails the call before
// anything is drawn.
extern "C" BOOL PolyPolyline(HDC handle, const POINT* points, const DWORD* counts,
                             DWORD polylines) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || points == nullptr || counts == nullptr) return FALSE;
  for (DWORD i = 0; i < polylines; ++i) {
    if (counts[i] < 2) return FALSE;
  }
  if (dc->pen->style == PS_NULL) return TRUE;
  for (DWORD i = 0; i < polylines; ++i) {
    for (DWORD k = 1; k < counts[i]; ++k) {
      drawLine(*dc, points[k - 1].x, points[k - 1].y, points[k].x, points[k].y);
    }
    points += counts[i];
  }
  return TRUE;
}
