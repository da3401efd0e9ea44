// Every recorded line case of the shared measurements, drawn as recorded and read back pixel for
// pixel; under Wine the same source checks the measurements against the platform itself.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "gdi_test_support.h"

namespace kinetiscan::gdi_test {
namespace {

using Pixel = std::pair<int, int>;

struct LineCase {
  std::string name;
  std::vector<RECT> clip;  // empty: no clip
  std::vector<std::vector<POINT>> paths;
  std::size_t count = 0;
  std::set<Pixel> pixels;
  std::set<Pixel> overdrawn;
};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

std::set<Pixel> pixelSet(const std::string& text) {
  std::set<Pixel> pixels;
  for (const std::string& item : split(text, ' ')) {
    if (item.empty()) continue;
    int x = 0, y = 0;
    if (std::sscanf(item.c_str(), "%d,%d", &x, &y) == 2) pixels.insert({x, y});
  }
  return pixels;
}

std::vector<LineCase> readCases() {
  std::vector<LineCase> cases;
  std::ifstream file(testdataPath("gdi-lines.txt"));
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> fields = split(line, '|');
    if (fields.size() < 5) {
      ADD_FAILURE() << "malformed case: " << line;
      continue;
    }
    LineCase c;
    c.name = fields[0];
    if (fields[1] != "none") {
      for (const std::string& rect : split(fields[1], '+')) {
        int l = 0, t = 0, r = 0, b = 0;
        std::sscanf(rect.c_str(), "%d,%d,%d,%d", &l, &t, &r, &b);
        c.clip.push_back(RECT{l, t, r, b});
      }
    }
    for (const std::string& path : split(fields[2], ';')) {
      std::vector<POINT> points;
      for (const std::string& item : split(path, ' ')) {
        int x = 0, y = 0;
        if (std::sscanf(item.c_str(), "%d,%d", &x, &y) == 2) points.push_back(POINT{x, y});
      }
      c.paths.push_back(points);
    }
    c.count = std::stoul(fields[3]);
    c.pixels = pixelSet(fields[4]);
    if (fields.size() > 5) c.overdrawn = pixelSet(fields[5]);
    cases.push_back(std::move(c));
  }
  return cases;
}

// How the paths reach GDI: a move and lines one by one, as recorded, or all of them as polylines
// of one call, which the sprite overlays rely on setting the same pixels.
enum class Calls { OneByOne, OnePolyPolyline };

void drawPaths(HDC dc, const std::vector<std::vector<POINT>>& paths, Calls calls) {
  std::vector<POINT> points;
  std::vector<DWORD> counts;
  for (const std::vector<POINT>& path : paths) {
    if (path.empty()) continue;
    if (calls == Calls::OneByOne) {
      MoveToEx(dc, path[0].x, path[0].y, nullptr);
      for (std::size_t i = 1; i < path.size(); ++i) LineTo(dc, path[i].x, path[i].y);
    } else if (path.size() >= 2) {  // a lone move draws nothing
      points.insert(points.end(), path.begin(), path.end());
      counts.push_back(static_cast<DWORD>(path.size()));
    }
  }
  if (!counts.empty()) {
    EXPECT_TRUE(PolyPolyline(dc, points.data(), counts.data(), static_cast<DWORD>(counts.size())));
  }
}

// Draws the case into a fresh 96x80 canvas with the recorded pen and mix mode.
std::set<Pixel> draw(const LineCase& c, int mixMode, std::vector<std::string>* wrongBytes,
                     Calls calls = Calls::OneByOne) {
  Canvas canvas(96, 80);
  if (!c.clip.empty()) {
    HRGN region = CreateRectRgn(c.clip[0].left, c.clip[0].top, c.clip[0].right, c.clip[0].bottom);
    for (std::size_t i = 1; i < c.clip.size(); ++i) {
      HRGN more = CreateRectRgn(c.clip[i].left, c.clip[i].top, c.clip[i].right, c.clip[i].bottom);
      CombineRgn(region, region, more, RGN_OR);
      DeleteObject(more);
    }
    SelectClipRgn(canvas.dc(), region);
    DeleteObject(region);
  }
  HPEN pen = CreatePen(PS_SOLID, 1, 0x020000FF);
  HGDIOBJ previous = SelectObject(canvas.dc(), pen);
  SetROP2(canvas.dc(), mixMode);
  drawPaths(canvas.dc(), c.paths, calls);
  SelectObject(canvas.dc(), previous);
  DeleteObject(pen);
  const std::vector<std::uint8_t> bytes = canvas.bytes();
  std::set<Pixel> set;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 96; ++x) {
      const std::uint32_t word = Canvas::at(bytes, 96, 80, x, y);
      if (word == 0) continue;
      set.insert({x, y});
      if (word != 0x00FF0000u && wrongBytes != nullptr) {
        wrongBytes->push_back(std::to_string(x) + "," + std::to_string(y) + ": " + byteText(word));
      }
    }
  }
  return set;
}

TEST(GdiLines, EveryRecordedCaseSetsExactlyItsPixels) {
  const std::vector<LineCase> cases = readCases();
  ASSERT_EQ(cases.size(), 447u) << "the measurements file changed";
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.pixels.size(), c.count) << "the case lists as many pixels as it counts";
    for (Calls calls : {Calls::OneByOne, Calls::OnePolyPolyline}) {
      SCOPED_TRACE(calls == Calls::OneByOne ? "one by one" : "one PolyPolyline");
      std::vector<std::string> wrongBytes;
      EXPECT_EQ(draw(c, R2_COPYPEN, &wrongBytes, calls), c.pixels);
      EXPECT_TRUE(wrongBytes.empty()) << ::testing::PrintToString(wrongBytes);
    }
  }
}

// Drawn again with XOR, a pixel written twice vanishes: this pins that corners and crossings are
// written exactly as often as recorded.
TEST(GdiLines, PixelsWrittenTwiceAreTheRecordedOnes) {
  for (const LineCase& c : readCases()) {
    SCOPED_TRACE(c.name);
    std::set<Pixel> expected;
    for (const Pixel& p : c.pixels) {
      if (c.overdrawn.count(p) == 0) expected.insert(p);
    }
    EXPECT_EQ(draw(c, R2_XORPEN, nullptr), expected);
  }
}

}  // namespace
}  // namespace kinetiscan::gdi_test
