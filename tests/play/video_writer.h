// Test videos made with FFmpeg's libraries, so the tests need no ffmpeg program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kinetiscan::play {

struct VideoFormat {
  std::string encoder = "mpeg4";  // an FFmpeg encoder name: mpeg4, mjpeg, ffv1, ...
  std::string pixelFormat = "";   // empty: the encoder's first
  int width = 64, height = 48;
  int frames = 12;
  int keyEvery = 12;
};

// Paints frame `index` as top-down RGB, width * height * 3 bytes.
using Painter = std::function<void(int index, std::vector<std::uint8_t>& rgb)>;

// Writes the video into `path`, its container chosen by the extension (.avi, .mkv, .mp4, ...);
// the error text, or empty when it was written.
std::string writeVideo(const std::string& path, const VideoFormat& format, const Painter& paint);

// A white square of `side` pixels on grey, moving right by 2 pixels a frame.
Painter movingSquare(int width, int height, int side);

}  // namespace kinetiscan::play
