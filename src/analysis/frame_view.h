// The analysis's two links to its neighbours: the latest frame, which the capture session owns,
// and the cast scan that runs at the start of every frame analysis. Both are installed from
// outside, so the analysis stays free of platform and host code.
#pragma once

#include <cstdint>

namespace kinetiscan {

// The bytes of the latest frame as delivered: blue, green, red per pixel, bottom row first.
// `count` may be below or above kFrameBytes. {nullptr, 0} means there is no frame.
struct FrameView {
  const std::uint8_t* bytes;
  std::uint32_t count;
};

using FrameSource = FrameView (*)();
using CastScanHook = void (*)();

// nullptr uninstalls: no frame, or no cast scan.
void setFrameSource(FrameSource source);
void setCastScanHook(CastScanHook hook);

// The frame as it is now. The view is only good until the next call that can dispatch messages
// (a frame can arrive and capture can close inside one): ask again afterwards.
// A view with null bytes or zero count is returned as {nullptr, 0}.
FrameView currentFrame();

void runCastScan();

// Uninstalls both links. Tests only.
void resetAnalysisLinksForTest();

}  // namespace kinetiscan
