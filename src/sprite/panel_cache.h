// The PanelCache: one offscreen 640x120 bitmap holding the four panels side by side, kept from
// the first sprite drawing until a cast member is destroyed.
#pragma once

#include "platform/win32api.h"

namespace kinetiscan {

constexpr int kPanelWidth = 160;
constexpr int kPanelHeight = 120;
constexpr int kPanelViews = 4;

struct PanelCache {
  HDC memoryDc = nullptr;  // null while the cache is absent
  HBITMAP bitmap = nullptr;
  HGDIOBJ replacedBitmap = nullptr;  // what the memory DC held before the panels
};

PanelCache& panelCache();

// Makes the cache compatible with `like` if it is absent. A new cache starts black and marks every
// panel stale, so no panel is shown before it was rendered. False if the platform refused.
bool ensurePanelCache(HDC like);

// Deletes the cache's DC and bitmap and marks it absent; the stale flags are left alone.
void releasePanelCache();

// Releases whatever a test left and restores the load-time state. Tests only.
void resetPanelCacheForTest();

}  // namespace kinetiscan
