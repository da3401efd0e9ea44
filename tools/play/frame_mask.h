// --mask: parts of the picture the plug-in never sees move. Masked pixels of every frame are set
// to one grey before the plug-in gets the frame, so they never differ from the background it
// learns; the plug-in itself is not told. The pictures show the masked parts darkened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/frame_source.h"
#include "picture_writers.h"

namespace kinetiscan::play {

// A mask pixel is black when its red, green and blue, after scaling to 160x120, are all below
// this.
constexpr int kMaskBlackBelow = 64;
// What a masked pixel holds in every frame.
constexpr std::uint8_t kMaskedGrey = 128;

struct FrameMask {
  std::vector<bool> ignored;  // per frame pixel, in frame order (row 0 the bottom row)
  int count = 0;              // pixels ignored
};

// Reads a PNG of any size up to the image reader's limits; false with the reason otherwise.
bool loadFrameMask(const std::string& path, FrameMask* mask, std::string* error);

// `source` with the masked pixels of each frame set to kMaskedGrey.
std::unique_ptr<camera::FrameSource> maskSource(std::unique_ptr<camera::FrameSource> source,
                                                std::shared_ptr<const FrameMask> mask,
                                                const std::string& path);

// Darkens the masked pixels of each of the stage's views (160x120 each, side by side).
void darkenMasked(const FrameMask& mask, Picture* stage);

}  // namespace kinetiscan::play
