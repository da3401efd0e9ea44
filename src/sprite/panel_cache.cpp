// Lifetime of the PanelCache.
#include "sprite/panel_cache.h"

#include "analysis/analysis_state.h"

namespace kinetiscan {
namespace {

constinit PanelCache cache{};

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
  cache.replacedBitmap = SelectObject(memoryDc, bitmap);
  cache.memoryDc = memoryDc;
  cache.bitmap = bitmap;
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
