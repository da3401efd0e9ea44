// The stand-in's block transfers against a per-pixel model of what they must do: on random
// rectangles, partly outside source or target, through random clips, between different bitmaps,
// within one bitmap (overlapping), and between 1 bpp and 32 bpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/win32api.h"

namespace kinetiscan::standin {
namespace {

struct Surface {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  int width = 0, height = 0;
};

// 32 bpp when made from the screen; from a fresh memory DC the bitmap is monochrome.
Surface makeSurface(bool colour, int width, int height, std::mt19937& random) {
  Surface s{nullptr, nullptr, nullptr, width, height};
  HDC screen = GetDC(nullptr);
  HDC model = colour ? screen : CreateCompatibleDC(nullptr);
  s.dc = CreateCompatibleDC(screen);
  s.bitmap = CreateCompatibleBitmap(model, width, height);
  if (!colour) DeleteDC(model);
  ReleaseDC(nullptr, screen);
  s.previous = SelectObject(s.dc, s.bitmap);
  std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
  for (std::uint32_t& word : words) word = random() % 3 == 0 ? 0x00FFFFFFu : random();
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  SetDIBits(s.dc, s.bitmap, 0, height, words.data(), &info, DIB_RGB_COLORS);
  return s;
}

// Top-down words as GetDIBits gives them; 1 bpp pixels read 0 or 0x00FFFFFF.
std::vector<std::uint32_t> wordsOf(const Surface& s) {
  std::vector<std::uint32_t> words(static_cast<std::size_t>(s.width) * s.height);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), s.width, -s.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  GetDIBits(s.dc, s.bitmap, 0, s.height, words.data(), &info, DIB_RGB_COLORS);
  return words;
}

void release(const Surface& s) {
  SelectObject(s.dc, s.previous);
  DeleteDC(s.dc);
  DeleteObject(s.bitmap);
}

TEST(StandinBlit, MatchesThePerPixelModel) {
  std::mt19937 random(20240611);
  auto between = [&](int low, int high) {
    return low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
  };
  for (int round = 0; round < 400; ++round) {
    const int kind = round % 4;  // 32 -> 32, same bitmap, 1 -> 32, 32 -> 1
    Surface target = makeSurface(kind != 3, between(1, 24), between(1, 24), random);
    Surface source =
        kind == 1 ? target : makeSurface(kind != 2, between(1, 24), between(1, 24), random);
    RECT clips[2];
    const int clipCount = between(0, 2);
    if (clipCount > 0) {
      HRGN region = CreateRectRgn(0, 0, 0, 0);
      for (int i = 0; i < clipCount; ++i) {
        const int a = between(-4, 28), b = between(-4, 28), c = between(-4, 28),
                  d = between(-4, 28);
        // A rectangle region takes its corners in either order.
        clips[i] = {std::min(a, c), std::min(b, d), std::max(a, c), std::max(b, d)};
        HRGN part = CreateRectRgn(clips[i].left, clips[i].top, clips[i].right, clips[i].bottom);
        CombineRgn(region, region, part, RGN_OR);
        DeleteObject(part);
      }
      SelectClipRgn(target.dc, region);
      DeleteObject(region);
    }
    const int x = between(-8, 24), y = between(-8, 24), w = between(0, 30), h = between(0, 30);
    const int sx = between(-8, 24), sy = between(-8, 24);
    const std::vector<std::uint32_t> from = wordsOf(source);
    std::vector<std::uint32_t> expected = wordsOf(target);
    for (int ty = std::max(y, 0); ty < std::min(y + h, target.height); ++ty) {
      for (int tx = std::max(x, 0); tx < std::min(x + w, target.width); ++tx) {
        bool inClip = clipCount == 0;
        for (int i = 0; i < clipCount; ++i) {
          inClip |= tx >= clips[i].left && tx < clips[i].right && ty >= clips[i].top &&
                    ty < clips[i].bottom;
        }
        const int fx = tx - x + sx, fy = ty - y + sy;
        if (!inClip || fx < 0 || fy < 0 || fx >= source.width || fy >= source.height) continue;
        std::uint32_t word = from[static_cast<std::size_t>(fy) * source.width + fx];
        // Default colours: white background, black text. A white pixel becomes the 1 bit.
        if (kind == 3) word = (word & 0x00FFFFFFu) == 0x00FFFFFFu ? 0x00FFFFFFu : 0;
        expected[static_cast<std::size_t>(ty) * target.width + tx] = word;
      }
    }
    ASSERT_TRUE(BitBlt(target.dc, x, y, w, h, source.dc, sx, sy, SRCCOPY));
    ASSERT_EQ(wordsOf(target), expected)
        << "round " << round << ": blit (" << x << ", " << y << ") " << w << "x" << h << " from ("
        << sx << ", " << sy << "), " << clipCount << " clip boxes";
    SelectClipRgn(target.dc, nullptr);
    if (kind != 1) release(source);
    release(target);
  }
}

TEST(StandinBlit, PatBltFillsOnlyTheClippedPart) {
  std::mt19937 random(7);
  Surface s = makeSurface(true, 8, 8, random);
  HRGN region = CreateRectRgn(2, 2, 5, 6);
  SelectClipRgn(s.dc, region);
  DeleteObject(region);
  std::vector<std::uint32_t> expected = wordsOf(s);
  for (int y = 2; y < 6; ++y) {
    for (int x = 2; x < 5; ++x) expected[static_cast<std::size_t>(y) * 8 + x] = 0xFFFFFFFFu;
  }
  // Negative extents reach back from the corner.
  EXPECT_TRUE(PatBlt(s.dc, 7, 7, -9, -9, WHITENESS));
  EXPECT_EQ(wordsOf(s), expected);
  release(s);
}

}  // namespace
}  // namespace kinetiscan::standin
