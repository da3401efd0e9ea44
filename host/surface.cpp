// The simulated host's draw surface.
#include "host/surface.h"

#include <cstring>

#include "host/host_object.h"
#include "platform/dib_header.h"

namespace kinetiscan::host {

Surface::Surface(Ledger& ledger, int width, int height, std::int32_t surfaceKind)
    : kind(surfaceKind), references(ledger, "DrawSurface"), width_(width), height_(height) {
  static constexpr DrawSurfaceOps kOps = {
      .queryInterface = noOtherInterface<Surface, DrawSurface>,
      .addRef = countedAddRef<Surface, DrawSurface>,
      .release = countedRelease<Surface, DrawSurface>,
      .reserved3 = {unexpectedPosition, unexpectedPosition},
      .describe = describe,
  };
  ops = &kOps;
  HDC screen = GetDC(nullptr);
  dc_ = CreateCompatibleDC(screen);
  bitmap_ = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  previous_ = SelectObject(dc_, bitmap_);
  PatBlt(dc_, 0, 0, width, height, BLACKNESS);
}

Surface::~Surface() {
  SelectObject(dc_, previous_);
  DeleteDC(dc_);
  DeleteObject(bitmap_);
}

Result KINETISCAN_CALL Surface::describe(DrawSurface* self, SurfaceRecord* out) {
  auto* surface = static_cast<Surface*>(self);
  ++surface->describeCalls;
  if (out == nullptr) return kNoInterface;
  std::memset(out, 0, sizeof *out);
  out->kind = surface->kind;
  out->deviceContext = surface->hideDc ? nullptr : surface->dc_;
  return kOk;
}

BITMAPINFO Surface::header() const { return dibHeader(width_, height_, 32); }

std::vector<std::uint8_t> Surface::bytes() const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width_) * height_ * 4);
  BITMAPINFO info = header();
  GetDIBits(dc_, bitmap_, 0, height_, out.data(), &info, DIB_RGB_COLORS);
  return out;
}

void Surface::setBytes(const std::vector<std::uint8_t>& bytes) {
  BITMAPINFO info = header();
  SetDIBits(dc_, bitmap_, 0, height_, bytes.data(), &info, DIB_RGB_COLORS);
}

void Surface::clearClip() { SelectClipRgn(dc_, nullptr); }

}  // namespace kinetiscan::host
