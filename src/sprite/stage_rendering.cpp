// Stage rendering: planes into the PanelCache, panels and overlays onto the host's surface.
#include "sprite/stage_rendering.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>

#include "analysis/kernels.h"
#include "analysis/nearest_rounding.h"
#include "platform/dib_header.h"
#include "sprite/panel_cache.h"

namespace kinetiscan {
namespace {

// Beyond this an area is treated like a buffer that could not be allocated: no host draws a
// sprite of 64 million pixels, and the byte count must fit the 32-bit target's size_t.
constexpr std::int64_t kMaxRenderPixels = std::int64_t{1} << 26;

// Host coordinates plus plane offsets, wrapped as 32-bit arithmetic wraps: a rect near the ends
// of the range gives far-away lines, never undefined behaviour.
std::int32_t wrapped(std::int64_t value) { return static_cast<std::int32_t>(value); }

// The surface's device context for kinds that are drawn to, or null.
HDC drawableDc(DrawSurface* surface) {
  if (surface == nullptr) return nullptr;
  SurfaceRecord record{};
  surface->ops->describe(surface, &record);
  if (record.kind < 1 || record.kind > 3) return nullptr;
  return static_cast<HDC>(record.deviceContext);
}

// The clip stays on the surface's DC after we return; the DC keeps its own copy of the region.
void clipTo(HDC dc, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
  HRGN region = CreateRectRgn(left, top, right, bottom);
  SelectClipRgn(dc, region);
  if (region != nullptr) DeleteObject(region);
}

static_assert(sizeof(ImagePlane) == sizeof(float) * kRows * kColumns * kComponents,
              "a plane row is one run of components");
static_assert(kComponents <= 4, "a plane pixel fits a DIB pixel");

// Exactly trunc(d + (s - d) * weight / 100) per byte: the numerator below is never negative. With
// weight 0 to 100 the numerator fits 16 bits, and fixed blocks over unaliased rows let the compiler
// vectorise the mix at -O2; any other weight takes the plain formula in int.
void mixRow(std::uint8_t* __restrict pixels, const std::uint8_t* __restrict source, int count,
            int weight) {
  constexpr int kBlock = 16;
  const int blocks = weight >= 0 && weight <= 100 ? count / kBlock : 0;
  const auto keep16 = static_cast<std::uint16_t>(100 - weight);
  const auto weight16 = static_cast<std::uint16_t>(weight);
  for (int b = 0; b < blocks; ++b) {
    std::uint8_t* __restrict out = pixels + b * kBlock;
    const std::uint8_t* __restrict in = source + b * kBlock;
    for (int k = 0; k < kBlock; ++k) {
      const auto sum = static_cast<std::uint16_t>(out[k] * keep16 + in[k] * weight16);
      out[k] = static_cast<std::uint8_t>(sum / 100);
    }
  }
  for (int i = blocks * kBlock; i < count; ++i) {
    pixels[i] = static_cast<std::uint8_t>((pixels[i] * (100 - weight) + source[i] * weight) / 100);
  }
}

// A row of the plane's 8-bit values into the area's pixels; each pixel keeps its fourth byte.
void spreadRow(const std::uint8_t* __restrict bytes, std::uint8_t* __restrict pixels, int columns) {
  for (int c = 0; c < columns; ++c) {
    for (int k = 0; k < kComponents; ++k) pixels[c * 4 + k] = bytes[c * kComponents + k];
  }
}

// Mixes the plane into an area of 32-bit pixels whose bottom row is at `bottom` and whose rows
// lie `step` bytes apart going up (negative for an area stored top row first). Plane row 0 takes
// the area's bottom row.
void mixPlane(std::uint8_t* bottom, std::ptrdiff_t step, int width, int height,
              const ImagePlane& plane, int weight) {
  const NearestRounding nearest;  // the plane's conversion to bytes
  const int rows = std::min(height, kRows);
  const int columns = std::min(width, kColumns);
  std::uint8_t bytes[kRowValues];
  std::uint8_t source[kColumns * 4];
  for (int r = 0; r < rows; ++r) {
    std::uint8_t* pixels = bottom + r * step;
    // The values componentToByte gives, for any plane; the frame-byte check pays on the camera
    // plane, and the wide paths convert the other planes wider than the baseline can.
    activeKernels().cameraRowToBytes(plane[r][0].data(), bytes);
    if (weight == 100) {
      spreadRow(bytes, pixels, columns);
      continue;
    }
    // Bytes past the components take the area's own value, which the mix gives back unchanged
    // (d * (100 - w) + d * w is d * 100), so the whole row mixes alike.
    for (int c = 0; c < columns; ++c) {
      for (int k = 0; k < 4; ++k) {
        source[c * 4 + k] = k < kComponents ? bytes[c * kComponents + k] : pixels[c * 4 + k];
      }
    }
    mixRow(pixels, source, columns * 4, weight);
  }
}

const ImagePlane& planeOfView(std::int32_t view) {
  AnalysisState& state = analysisState();
  switch (view) {
    case 1:
      return state.cameraPlane;
    case 2:
      return state.retinaPlane;
    case 3:
      return state.differencePlane;
    default:
      return state.globsPlane;
  }
}

// Renders a stale panel into the cache: in place when the cache's pixels are ours, else through
// GDI's transfers.
bool renderPanel(int view, int weight) {
  const PanelCache& cache = panelCache();
  const int x = kPanelWidth * (view - 1);
  if (cache.pixels == nullptr) {
    return renderPlane(cache.memoryDc, x, 0, x + kPanelWidth, kPanelHeight, planeOfView(view),
                       weight);
  }
  // GDI may still be writing to the section (the cache's first fill).
  GdiFlush();
  std::uint8_t* bottom =
      cache.pixels + static_cast<std::ptrdiff_t>(kPanelHeight - 1) * kPanelStride + x * 4;
  mixPlane(bottom, -kPanelStride, kPanelWidth, kPanelHeight, planeOfView(view), weight);
  return true;
}

void drawPanel(HDC dc, std::int32_t view, std::int32_t left, std::int32_t top, int weight) {
  HDC panels = panelCache().memoryDc;
  const int x = kPanelWidth * (view - 1);
  // A failed rendering leaves the panel stale, so the next drawing tries again.
  if (panelStale(view) && renderPanel(view, weight)) markPanelShown(view);
  BitBlt(dc, left, top, kPanelWidth, kPanelHeight, panels, x, 0, SRCCOPY);
}

// The lines of the outlines and crosses, gathered into polylines and handed to the platform a
// batch at a time: a line drawn among others sets exactly the pixels it sets alone, and with one
// pen colour and R2_COPYPEN the order of the lines changes nothing. Per call into GDI that is a
// few dozen lines fewer to dispatch, clip and account for.
class OverlayLines {
 public:
  explicit OverlayLines(HDC dc) : dc_(dc) {}
  OverlayLines(const OverlayLines&) = delete;
  OverlayLines& operator=(const OverlayLines&) = delete;

  // Rows count up from the picture's bottom; the outline hangs from the rect's top, the cross
  // stands on its bottom.
  void outline(const BlobBox& box, std::int64_t left, std::int64_t top) {
    const std::int32_t xMax = wrapped(left + box.maxCol), xMin = wrapped(left + box.minCol);
    const std::int32_t yMax = wrapped(top + kRows - box.maxRow);
    const std::int32_t yMin = wrapped(top + kRows - box.minRow);
    polyline({{xMax, yMax}, {xMax, yMin}, {xMin, yMin}, {xMin, yMax}, {xMax, yMax}});
  }
  void cross(const BlobBox& box, std::int64_t left, std::int64_t bottom) {
    const std::int64_t cx = left + (std::int64_t{box.maxCol} + box.minCol) / 2;
    const std::int64_t cy = bottom - (std::int64_t{box.maxRow} + box.minRow) / 2;
    polyline({{wrapped(cx - 2), wrapped(cy - 2)}, {wrapped(cx + 3), wrapped(cy + 3)}});
    polyline({{wrapped(cx - 2), wrapped(cy + 2)}, {wrapped(cx + 3), wrapped(cy - 3)}});
  }
  // Draws what is left and puts the DC's current position where drawing each polyline by moving
  // to its first point and drawing on through the others leaves it: the host's DC keeps the state
  // it had when the lines went one by one.
  void finish() {
    flush();
    if (drewAny_) MoveToEx(dc_, last_.x, last_.y, nullptr);
  }

 private:
  static constexpr int kPolylines = 192;  // 64 records with both overlays
  static constexpr int kPoints = kPolylines * 3;

  void polyline(std::initializer_list<POINT> points) {
    const int size = static_cast<int>(points.size());
    if (pointCount_ + size > kPoints || polylineCount_ == kPolylines) flush();
    for (const POINT& point : points) points_[pointCount_++] = point;
    counts_[polylineCount_++] = static_cast<DWORD>(size);
    last_ = *(points.end() - 1);
    drewAny_ = true;
  }
  void flush() {
    if (polylineCount_ != 0) {
      PolyPolyline(dc_, points_, counts_, static_cast<DWORD>(polylineCount_));
    }
    pointCount_ = 0;
    polylineCount_ = 0;
  }

  HDC dc_;
  POINT points_[kPoints];
  DWORD counts_[kPolylines];
  int pointCount_ = 0;
  int polylineCount_ = 0;
  POINT last_{0, 0};
  bool drewAny_ = false;
};

// Both overlays with one pen: outlines and crosses share the sprite's colour.
void drawOverlays(HDC dc, const DrawRequest& request, COLORREF colour, bool outlines,
                  bool crosses) {
  if (!outlines && !crosses) return;
  HPEN pen = CreatePen(PS_SOLID, 1, colour);
  if (pen == nullptr) return;
  HGDIOBJ kept = SelectObject(dc, pen);
  SetROP2(dc, R2_COPYPEN);
  const AnalysisState& state = analysisState();
  const std::int32_t count = state.blobCount;
  OverlayLines lines(dc);
  for (std::int32_t i = 1; i < count && count < kMaxBlobRecords; ++i) {
    const BlobBox& box = state.blobBoxes[i];
    if (box.maxRow == -1) continue;
    if (outlines) lines.outline(box, request.left, request.top);
    if (crosses) lines.cross(box, request.left, request.bottom);
  }
  lines.finish();
  if (kept != nullptr) SelectObject(dc, kept);
  DeleteObject(pen);
}

}  // namespace

int weightOfLevel(std::int32_t level) {
  // Levels outside 0-255 are the host's error; clamping keeps every weight a percentage.
  const std::int32_t clamped = std::clamp<std::int32_t>(level, 0, 255);
  return 100 - clamped * 100 / 255;
}

bool renderPlane(HDC dc, std::int32_t left, std::int32_t top, std::int32_t right,
                 std::int32_t bottom, const ImagePlane& plane, int weight) {
  const std::int64_t width = std::int64_t{right} - left;
  const std::int64_t height = std::int64_t{bottom} - top;
  if (width <= 0 || height <= 0) return true;
  if (width * height > kMaxRenderPixels) return false;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  const std::size_t size = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4;
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(size));
  if (buffer == nullptr) return false;
  BITMAPINFO info = dibHeader(w, h, 32);
  info.bmiHeader.biSizeImage = static_cast<DWORD>(size);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
  HDC memory = CreateCompatibleDC(dc);
  bool written = false;
  if (bitmap != nullptr && memory != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, dc, left, top, SRCCOPY);
    // Only pixels actually read are mixed and written back.
    if (GetDIBits(memory, bitmap, 0, h, buffer, &info, DIB_RGB_COLORS) == h) {
      mixPlane(buffer, std::ptrdiff_t{w} * 4, w, h, plane, weight);
      SetDIBits(memory, bitmap, 0, h, buffer, &info, DIB_RGB_COLORS);
      BitBlt(dc, left, top, w, h, memory, 0, 0, SRCCOPY);
      written = true;
    }
    if (previous != nullptr) SelectObject(memory, previous);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (bitmap != nullptr) DeleteObject(bitmap);
  std::free(buffer);
  return written;
}

void drawSpriteView(const DrawRequest* request, DrawSurface* surface, std::int32_t view,
                    std::int32_t showBoundingBoxes, std::int32_t showCenterPoints, std::int32_t red,
                    std::int32_t green, std::int32_t blue) {
  if (request == nullptr) return;
  const int weight = weightOfLevel(request->level);
  HDC dc = drawableDc(surface);
  if (dc == nullptr) return;
  const bool cached = ensurePanelCache(dc);
  clipTo(dc, request->left, request->top, request->right, request->bottom);
  if (cached && view >= 1 && view <= kPanelViews) {
    drawPanel(dc, view, request->left, request->top, weight);
  }
  // The palette-relative form of the colour.
  const COLORREF colour = 0x02000000u | static_cast<COLORREF>(red & 0xFF) |
                          static_cast<COLORREF>(green & 0xFF) << 8 |
                          static_cast<COLORREF>(blue & 0xFF) << 16;
  drawOverlays(dc, *request, colour, showBoundingBoxes != 0, showCenterPoints != 0);
}

Result drawMemberPreview(DrawSurface* surface, const HostRect* rect) {
  HDC dc = drawableDc(surface);
  if (dc == nullptr || rect == nullptr) return kOk;
  clipTo(dc, rect->left, rect->top, rect->right, rect->bottom);
  // Only the part of the rect that has source pixels is rendered: the bottom-left 160 x 120.
  const std::int64_t right =
      std::min<std::int64_t>(rect->right, std::int64_t{rect->left} + kColumns);
  const std::int64_t top = std::max<std::int64_t>(rect->top, std::int64_t{rect->bottom} - kRows);
  renderPlane(dc, rect->left, static_cast<std::int32_t>(top), static_cast<std::int32_t>(right),
              rect->bottom, analysisState().cameraPlane, 100);
  return kOk;
}

}  // namespace kinetiscan
