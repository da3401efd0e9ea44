// The pictures kinetiscan-play leaves: the stage as PNG (libpng) and the run as an animated GIF
// (giflib) over a fixed palette.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GifFileType;

namespace kinetiscan::play {

// Top-down rows of red, green, blue bytes.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// The stage surface as GetDIBits gives it (bottom-up rows of blue, green, red, unused) turned
// into a picture.
Picture pictureFromDib(const std::vector<std::uint8_t>& bgrx, int width, int height);

bool writePng(const std::string& path, const Picture& picture, std::string* error);

// A fixed palette keeps every frame on one colour table and the overlays' pure colours exact: a
// 6x6x6 colour cube plus 40 greys, since the panels are mostly grey.
std::uint8_t paletteIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
void paletteColour(std::uint8_t index, std::uint8_t rgb[3]);

// The longest a GIF frame can show, in hundredths of a second: the field has 16 bits.
constexpr int kMaxGifDelay = 65535;

// The delay of each GIF frame for frames `rateMs` apart (at least 50 ms, the capture rate) of
// which every `gifEvery`-th is kept, computed in 64 bits and clamped to 2..kMaxGifDelay (a delay
// under 2 is played slowly by most viewers). `clamped` tells whether the longest delay was cut.
int gifDelay(std::int64_t rateMs, std::int64_t gifEvery, bool* clamped);

class GifAnimation {
 public:
  GifAnimation() = default;
  ~GifAnimation();
  GifAnimation(const GifAnimation&) = delete;
  GifAnimation& operator=(const GifAnimation&) = delete;

  // A looping animation; each frame shows for `delayCentiseconds`.
  bool open(const std::string& path, int width, int height, int delayCentiseconds,
            std::string* error);
  bool add(const Picture& picture, std::string* error);
  bool close(std::string* error);
  int frames() const { return frames_; }

 private:
  GifFileType* file_ = nullptr;
  int width_ = 0, height_ = 0, delay_ = 0, frames_ = 0;
};

}  // namespace kinetiscan::play
