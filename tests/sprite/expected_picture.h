// Expected pictures, built from the analysis state without the plug-in's code: a surface's pixels
// as words (B | G << 8 | R << 16 | X << 24, top row first), and their hash in GetDIBits order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"

namespace kinetiscan::sprite_test {

struct Rect {
  int top, left, bottom, right;
};

class Picture {
 public:
  Picture(int w, int h, std::vector<std::uint32_t> pixels)
      : width(w), height(h), words(std::move(pixels)) {}
  // From bottom-up B G R X rows as GetDIBits gives them.
  static Picture fromBytes(int width, int height, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
        words[static_cast<std::size_t>(y) * width + x] =
            bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 |
            static_cast<std::uint32_t>(bytes[i + 3]) << 24;
      }
    }
    return Picture(width, height, std::move(words));
  }
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out(words.size() * 4);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint32_t w = at(x, y);
        const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
        out[i] = w & 0xFF, out[i + 1] = (w >> 8) & 0xFF, out[i + 2] = (w >> 16) & 0xFF,
        out[i + 3] = w >> 24;
      }
    }
    return out;
  }
  // FNV-1a over the bytes in GetDIBits order.
  std::uint64_t hash() const {
    std::uint64_t h = 14695981039346656037ull;
    for (std::uint8_t b : bytes()) h = (h ^ b) * 1099511628211ull;
    return h;
  }
  std::uint32_t at(int x, int y) const { return words[static_cast<std::size_t>(y) * width + x]; }
  void set(int x, int y, std::uint32_t word, const Rect& clip) {
    if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    words[static_cast<std::size_t>(y) * width + x] = word;
  }
  // The first pixel that differs, for a readable failure.
  std::string firstDifference(const Picture& other) const {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (at(x, y) != other.at(x, y)) {
          char text[96];
          std::snprintf(text, sizeof text, "(%d,%d): %08X, expected %08X", x, y,
                        static_cast<unsigned>(other.at(x, y)), static_cast<unsigned>(at(x, y)));
          return text;
        }
      }
    }
    return "none";
  }

  int width, height;
  std::vector<std::uint32_t> words;
};

// A surface pattern that differs from every panel, with a fourth byte of its own.
inline std::uint32_t backdrop(int x, int y) {
  return 0x5A000000u | static_cast<std::uint32_t>((x * 5 + y * 11) & 0xFF) << 8 | 0x30;
}

inline Picture backdropPicture(int width, int height) {
  std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) words[static_cast<std::size_t>(y) * width + x] = backdrop(x, y);
  }
  return Picture(width, height, std::move(words));
}

// Plane bytes: distinct per plane (seed), row and column, all values 0-255 met.
inline void fillPlane(ImagePlane& plane, int seed) {
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      for (int k = 0; k < kComponents; ++k) {
        plane[r][c][k] = byteToComponent(static_cast<std::uint8_t>(r * 7 + c * 3 + k * 85 + seed));
      }
    }
  }
}

// The panel pixel that plane row 119 - y, column x becomes at full weight; the fourth byte is the
// new panel's zero.
inline std::uint32_t planeWord(const ImagePlane& plane, int x, int y) {
  const auto& p = plane[kRows - 1 - y][x];
  return componentToByte(p[0]) | componentToByte(p[1]) << 8 |
         static_cast<std::uint32_t>(componentToByte(p[2])) << 16;
}

// Mixing with weight w, channel by channel, written independently of the plug-in's formula.
inline std::uint32_t mixWord(std::uint32_t old, std::uint32_t fresh, int weight) {
  std::uint32_t out = old & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const double d = (old >> shift) & 0xFF, s = (fresh >> shift) & 0xFF;
    out |= static_cast<std::uint32_t>(static_cast<int>(d + (s - d) * weight / 100.0)) << shift;
  }
  return out;
}

}  // namespace kinetiscan::sprite_test
