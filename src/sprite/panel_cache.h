// The PanelCache: one offscreen 640x120 bitmap holding the four panels side by side, kept from
// the first sprite drawing until a cast member is destroyed.
#pragma once

#include <array>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "platform/win32api.h"

namespace kinetiscan {

constexpr int kPanelWidth = kColumns;
constexpr int kPanelHeight = kRows;
constexpr int kPanelViews = 4;
constexpr int kPanelStride = kPanelWidth * kPanelViews * 4;

struct PanelCache {
  HDC memoryDc = nullptr;  // null while the cache is absent
  HBITMAP bitmap = nullptr;
  HGDIOBJ replacedBitmap = nullptr;  // what the memory DC held before the panels
  // When the panels are 32 bits a pixel the bitmap is a DIB section and these are its pixels, top
  // row first, kPanelStride bytes a row: the mix works on them where they lie and reads nothing
  // back through GDI. Null for a cache of any other depth, which takes GDI's transfers.
  std::uint8_t* pixels = nullptr;
  // Per panel (camera, retina, difference, globs): the analysis's frame generation it shows, plus
  // one; 0 while it shows nothing yet.
  std::array<std::uint64_t, kPanelViews> shownGeneration{};
};

PanelCache& panelCache();

// Makes the cache compatible with `like` if it is absent. A new cache starts black with every
// panel stale, so no panel is shown before it was rendered. False if the platform refused.
bool ensurePanelCache(HDC like);

// Whether panel `view` (1-4) must be rendered before it is shown: it does not show the frame the
// analysis last analysed. markPanelShown records that it now does.
bool panelStale(int view);
void markPanelShown(int view);

// Deletes the cache's DC and bitmap and marks it absent, every panel stale.
void releasePanelCache();

// Releases whatever a test left and restores the load-time state. Tests only.
void resetPanelCacheForTest();

}  // namespace kinetiscan
