// Lifetime of the PanelCache.
#include "sprite/panel_cache.h"

#include "analysis/analysis_state.h"
#include "platform/dib_header.h"

namespace kinetiscan {
namespace {

constinit PanelCache cache{};

// A 32 bpp section in place of a compatible bitmap of that depth: the same pixels, in the same
// format, but in memory the mix can reach. Null when the compatible bitmap has another depth or
// the section cannot be made, and the cache keeps the compatible bitmap.
HBITMAP sectionLike(HDC like, HBITMAP compatible, std::uint8_t** pixels) {
  BITMAP facts{};
  if (GetObjectA(compatible, sizeof facts, &facts) != sizeof facts || facts.bmBitsPixel != 32) {
    return nullptr;
  }
  const BITMAPINFO info = dibHeader(kPanelWidth * kPanelViews, -kPanelHeight, 32);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(like, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr || bits == nullptr) {
    if (section != nullptr) DeleteObject(section);
    return nullptr;
  }
  *pixels = static_cast<std::uint8_t*>(bits);
  return section;
}

}  // namespace

PanelCache& panelCache() { return cache; }

bool ensurePanelCache(HDC like) {
  if (cache.memoryDc != nullptr) return true;
  HDC memoryDc = CreateCompatibleDC(like);
  HBITMAP bitmap = CreateCompatibleBitmap(like, kPanelWidth * kPanelViews, kPanelHeight);
  if (memoryDc == nullptr || bitmap == nullptr) {
    if (memoryDc != nullptr) DeleteDC(memoryDc);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return false;
  }
  std::uint8_t* pixels = nullptr;
  if (HBITMAP section = sectionLike(like, bitmap, &pixels)) {
    DeleteObject(bitmap);
    bitmap = section;
  }
  cache.replacedBitmap = SelectObject(memoryDc, bitmap);
  cache.memoryDc = memoryDc;
  cache.bitmap = bitmap;
  cache.pixels = pixels;
  // The platform does not promise what a new bitmap holds.
  PatBlt(memoryDc, 0, 0, kPanelWidth * kPanelViews, kPanelHeight, BLACKNESS);
  cache.shownGeneration.fill(0);
  return true;
}

bool panelStale(int view) {
  return cache.shownGeneration[view - 1] != analysisState().frameGeneration + 1;
}

void markPanelShown(int view) {
  cache.shownGeneration[view - 1] = analysisState().frameGeneration + 1;
}

void releasePanelCache() {
  if (cache.memoryDc == nullptr) return;
  SelectObject(cache.memoryDc, cache.replacedBitmap);
  DeleteDC(cache.memoryDc);
  DeleteObject(cache.bitmap);
  cache = PanelCache{};
}

void resetPanelCacheForTest() { releasePanelCache(); }

}  // namespace kinetiscan
