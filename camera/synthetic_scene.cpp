// Synthetic scene. Integer arithmetic and a fixed generator keep the frames identical across
// compilers and targets; positions are doubles but only compared, never printed into pixels
// through rounding that could differ.
#include "camera/synthetic_scene.h"

#include <algorithm>
#include <cmath>

namespace kinetiscan::camera {
namespace {

constexpr std::uint8_t kPalette[][3] = {
    {40, 40, 230}, {40, 220, 60}, {230, 70, 40}, {30, 220, 230}, {220, 60, 220}, {240, 240, 240},
};

}  // namespace

SyntheticScene::SyntheticScene(const SceneOptions& options)
    : options_(options), state_(options.seed * 0x9E3779B97F4A7C15ull + 1) {
  const int count = std::clamp(options.discs, 0, 6);
  for (int i = 0; i < count; ++i) {
    Mover mover;
    mover.disc.radius = 8 + random() % 8;
    mover.disc.row = 20 + random() % 80;
    mover.disc.column = 20 + random() % 120;
    mover.disc.blue = kPalette[i][0];
    mover.disc.green = kPalette[i][1];
    mover.disc.red = kPalette[i][2];
    mover.rowStep = ((random() % 5) + 1) * ((random() & 1) ? 1.0 : -1.0) * 0.75;
    mover.columnStep = ((random() % 5) + 1) * ((random() & 1) ? 1.0 : -1.0) * 0.75;
    movers_.push_back(mover);
  }
}

// xorshift64*: small, fast and the same everywhere.
std::uint32_t SyntheticScene::random() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return static_cast<std::uint32_t>((state_ * 0x2545F4914F6CDD1Dull) >> 32);
}

// A texture with edges and gradients, so a background model has something to learn.
std::uint8_t SyntheticScene::background(int row, int column, int channel) const {
  const int tile = ((row / 12) + (column / 16)) & 1;
  const int base = 60 + (row * 50) / kHeight + (column * 40) / kWidth;
  const int stripe = ((column + 3 * row + 7 * channel) % 23 < 3) ? 25 : 0;
  return static_cast<std::uint8_t>(base + tile * 30 + stripe + channel * 10);
}

bool SyntheticScene::next(Frame& frame) {
  if (options_.frames >= 0 && index_ >= options_.frames) return false;
  frame.assign(kFrameBytes, 0);
  const bool bright = options_.lightingChangeAt >= 0 && index_ >= options_.lightingChangeAt;
  truth_.lightingChanged = bright && index_ == options_.lightingChangeAt;
  truth_.discs.clear();
  for (const Mover& mover : movers_) truth_.discs.push_back(mover.disc);

  for (int row = 0; row < kHeight; ++row) {
    for (int column = 0; column < kWidth; ++column) {
      std::uint8_t* pixel = &frame[(row * kWidth + column) * 3];
      for (int channel = 0; channel < 3; ++channel)
        pixel[channel] = background(row, column, channel);
      for (const Disc& disc : truth_.discs) {
        const double dr = row - disc.row;
        const double dc = column - disc.column;
        if (dr * dr + dc * dc <= disc.radius * disc.radius) {
          pixel[0] = disc.blue;
          pixel[1] = disc.green;
          pixel[2] = disc.red;
        }
      }
      for (int channel = 0; channel < 3; ++channel) {
        int value = pixel[channel];
        if (bright) value = value + 90;
        if (options_.noise > 0) {
          value += static_cast<int>(random() % (2 * options_.noise + 1)) - options_.noise;
        }
        pixel[channel] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
      }
    }
  }

  // Move for the next frame, bouncing off the edges.
  for (Mover& mover : movers_) {
    Disc& disc = mover.disc;
    disc.row += mover.rowStep;
    disc.column += mover.columnStep;
    if (disc.row < disc.radius || disc.row > kHeight - 1 - disc.radius)
      mover.rowStep = -mover.rowStep;
    if (disc.column < disc.radius || disc.column > kWidth - 1 - disc.radius) {
      mover.columnStep = -mover.columnStep;
    }
  }
  ++index_;
  return true;
}

}  // namespace kinetiscan::camera
