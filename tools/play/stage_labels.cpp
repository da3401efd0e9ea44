// The labels of the stage pictures and the tiny font they are drawn in.
#include "stage_labels.h"

#include <algorithm>
#include <cstdio>

#include "plugin_session.h"

namespace kinetiscan::play {
namespace {

// Letters stand on row 6; g, j, p, q and y reach into row 7.
constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kGlyphRows = 8, kAdvance = 6;

struct Glyph {
  char character;
  std::uint8_t rows[kGlyphRows];  // top row first; bit 4 is the leftmost column
};

// The shapes of a classic 5x7 character LCD (with descenders), for what the labels need.
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E, 0x00}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E, 0x00}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F, 0x00}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E, 0x00}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02, 0x00}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E, 0x00}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E, 0x00}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08, 0x00}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E, 0x00}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C, 0x00}},
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F, 0x00}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E, 0x00}},
    {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E, 0x00}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F, 0x00}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E, 0x00}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08, 0x00}},
    {'g', {0x00, 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11, 0x00}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E, 0x00}},
    {'j', {0x02, 0x00, 0x06, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12, 0x00}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E, 0x00}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11, 0x00}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11, 0x00}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E, 0x00}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10}},
    {'q', {0x00, 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x01}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10, 0x00}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E, 0x00}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06, 0x00}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D, 0x00}},
    {'v', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04, 0x00}},
    {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A, 0x00}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x00}},
    {'y', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F, 0x00}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {';', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00, 0x00}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x00}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02, 0x00}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08, 0x00}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A, 0x00}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04, 0x00}},
};

const Glyph& glyphOf(char c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const Glyph* unknown = nullptr;
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.character == c) return glyph;
    if (glyph.character == '?') unknown = &glyph;
  }
  return *unknown;
}

constexpr std::uint8_t kWhite[3] = {255, 255, 255};
constexpr std::uint8_t kGrey[3] = {160, 160, 160};

void setPixel(Picture& picture, int x, int y, const std::uint8_t rgb[3]) {
  if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
  std::copy(rgb, rgb + 3, &picture.rgb[(std::size_t(y) * picture.width + x) * 3]);
}

void fillRect(Picture& picture, int x, int y, int width, int height, const std::uint8_t rgb[3]) {
  for (int row = y; row < y + height; ++row) {
    for (int column = x; column < x + width; ++column) setPixel(picture, column, row, rgb);
  }
}

// A small outlined box with a centre cross, as the sprites draw a region.
void drawRegionIcon(Picture& picture, int x, int y, const ColourRecord& colour) {
  const std::uint8_t rgb[3] = {colour.red, colour.green, colour.blue};
  for (int i = 0; i < kGlyphHeight; ++i) {
    setPixel(picture, x + i, y, rgb);
    setPixel(picture, x + i, y + kGlyphHeight - 1, rgb);
    setPixel(picture, x, y + i, rgb);
    setPixel(picture, x + kGlyphHeight - 1, y + i, rgb);
  }
  for (int i = 2; i <= 4; ++i) {
    setPixel(picture, x + i, y + 3, rgb);
    setPixel(picture, x + 3, y + i, rgb);
  }
}

// White text on a black plate one pixel wider all round, its top-left corner at x, y.
void drawPlate(Picture& picture, int x, int y, const std::string& text) {
  static constexpr std::uint8_t kBlack[3] = {0, 0, 0};
  fillRect(picture, x, y, textWidth(text) + 2, kGlyphHeight + 2, kBlack);
  drawText(picture, x + 1, y + 1, text, kWhite);
}

// The id above the box's top-left corner, or inside the box when it touches the top of the
// view; kept within the view.
void drawId(Picture& picture, int viewLeft, int top, const PictureBox& box, std::int32_t id) {
  const std::string text = std::to_string(id);
  const int width = textWidth(text) + 2, height = kGlyphHeight + 2;
  const int x = std::clamp(viewLeft + box.x, viewLeft, viewLeft + camera::kWidth - width);
  const int y = top + (box.y >= height ? box.y - height : box.y);
  drawPlate(picture, x, y, text);
}

}  // namespace

int textWidth(const std::string& text) { return static_cast<int>(text.size()) * kAdvance - 1; }

void drawText(Picture& picture, int x, int y, const std::string& text, const std::uint8_t rgb[3]) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Glyph& glyph = glyphOf(text[i]);
    const int left = x + static_cast<int>(i) * kAdvance;
    for (int row = 0; row < kGlyphRows; ++row) {
      for (int column = 0; column < kGlyphWidth; ++column) {
        if ((glyph.rows[row] >> (kGlyphWidth - 1 - column) & 1) != 0) {
          setPixel(picture, left + column, y + row, rgb);
        }
      }
    }
  }
}

Picture labelledStage(const Picture& stage, const StageLabels& labels) {
  Picture out{
      stage.width, stage.height + 2 * kBandHeight,
      std::vector<std::uint8_t>(std::size_t(stage.width) * (stage.height + 2 * kBandHeight) * 3)};
  std::copy(stage.rgb.begin(), stage.rgb.end(),
            out.rgb.begin() + std::ptrdiff_t(stage.width) * kBandHeight * 3);
  const int textTop = (kBandHeight - kGlyphHeight + 1) / 2;
  for (int view = 0; view < 4; ++view) {
    drawText(out, view * camera::kWidth + 2, textTop, kViewNames[view], kWhite);
  }
  std::string frame = "frame " + std::to_string(labels.frame);
  if (!labels.rate.empty()) frame += "  " + labels.rate;
  drawText(out, stage.width - 2 - textWidth(frame), textTop, frame, kWhite);
  // The ids on the camera and globs views, where a region is easiest to see.
  for (const int view : {0, 3}) {
    for (std::size_t i = 0; i < labels.boxes.size() && i < labels.ids.size(); ++i) {
      drawId(out, view * camera::kWidth, kBandHeight, labels.boxes[i], labels.ids[i]);
    }
  }
  const int legendTop = kBandHeight + stage.height + textTop;
  int x = 2;
  for (const int view : {0, 2, 3}) {
    drawRegionIcon(out, x, legendTop, kViewColours[view]);
    x += kGlyphHeight + 2;
  }
  const std::string colours =
      "region box and centre (camera, retina: yellow; difference: green; globs: red)";
  drawText(out, x, legendTop, colours, kGrey);
  x += textWidth(colours) + 12;
  drawPlate(out, x, legendTop - 1, "7");
  drawText(out, x + textWidth("7") + 4, legendTop, "region id", kGrey);
  return out;
}

Picture scaledUp(const Picture& picture, int factor) {
  factor = std::max(factor, 1);
  Picture out{picture.width * factor, picture.height * factor,
              std::vector<std::uint8_t>(picture.rgb.size() * factor * factor)};
  const std::size_t rowBytes = std::size_t(out.width) * 3;
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* source = &picture.rgb[std::size_t(y) * picture.width * 3];
    std::uint8_t* target = &out.rgb[std::size_t(y) * factor * rowBytes];
    for (int x = 0; x < picture.width; ++x) {
      for (int k = 0; k < factor; ++k)
        std::copy(source + x * 3, source + x * 3 + 3, target + (x * factor + k) * 3);
    }
    for (int k = 1; k < factor; ++k) std::copy(target, target + rowBytes, target + k * rowBytes);
  }
  return out;
}

}  // namespace kinetiscan::play
