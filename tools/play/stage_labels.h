// What the pictures say about themselves: each view's name and the frame number in a band above
// the four views, a legend of the overlays in a band below, and each region's id beside its box.
// The stage PNGs, the GIF and the live window all draw them with this code and one 5x7 font with
// descenders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture_writers.h"
#include "region_tracker.h"

namespace kinetiscan::play {

constexpr int kBandHeight = 10;

struct StageLabels {
  int frame = 0;
  std::vector<PictureBox> boxes;  // in picture pixels of one view
  std::vector<std::int32_t> ids;  // parallel to boxes
  std::string rate;               // e.g. "24.8 fps" at the band's right end; empty in files
};

// The stage (four views side by side) between its two bands: kBandHeight more rows above and
// below it.
Picture labelledStage(const Picture& stage, const StageLabels& labels);

// Every pixel as a factor x factor block.
Picture scaledUp(const Picture& picture, int factor);

// Text in the 5x7 font with descenders at 6 pixels a character, its top-left corner at x, y,
// clipped to the picture. Letters are drawn in lower case; a character the font lacks as '?'.
void drawText(Picture& picture, int x, int y, const std::string& text, const std::uint8_t rgb[3]);
int textWidth(const std::string& text);

}  // namespace kinetiscan::play
