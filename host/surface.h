// A draw surface over a memory device context holding a 32 bpp bitmap, as the host hands the
// plug-in for sprite and member drawing.
#pragma once

#include <cstdint>
#include <vector>

#include "host/ledger.h"
#include "kinetiscan/host_services.h"
#include "platform/win32api.h"

namespace kinetiscan::host {

class Surface : public DrawSurface {
 public:
  // The bitmap is made compatible with the screen: one made compatible with a fresh memory DC
  // would be monochrome. It starts black (all four bytes zero).
  Surface(Ledger& ledger, int width, int height, std::int32_t kind = 1);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // What position 5 reports: the kind, and the device context unless told to give none.
  std::int32_t kind;
  bool hideDc = false;
  int describeCalls = 0;

  // The whole surface as GetDIBits gives it: bottom-up rows of B G R X.
  std::vector<std::uint8_t> bytes() const;
  void setBytes(const std::vector<std::uint8_t>& bytes);
  // Drops any clip the plug-in left, so the next drawing starts unclipped.
  void clearClip();

  ReferenceCount references;

 private:
  static Result KINETISCAN_CALL describe(DrawSurface* self, SurfaceRecord* out);
  BITMAPINFO header() const;
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace kinetiscan::host
