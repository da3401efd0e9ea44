// The measured GDI facts the plug-in and our hosts rely on, produced again and compared line by
// line with the shared measurements file (its first section: no display, 32 bpp screen).
#include <gtest/gtest.h>

#include <cstdarg>
#include <fstream>
#include <set>

#include "gdi_test_support.h"

namespace kinetiscan::gdi_test {
namespace {

std::set<std::string> firstSection() {
  std::set<std::string> lines;
  std::ifstream file(testdataPath("gdi-facts.txt"));
  std::string line;
  int sections = 0;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("## ", 0) == 0) {
      if (++sections > 1) break;
      continue;
    }
    if (sections == 1) lines.insert(line);
  }
  return lines;
}

std::string format(const char* pattern, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

int bitsPerPixel(HBITMAP bitmap) {
  BITMAP record{};
  GetObjectA(bitmap, sizeof record, &record);
  return record.bmBitsPixel;
}

// A memory DC with a bitmap made compatible with `like`, selected; cleans up after itself.
struct Held {
  Held(HDC like, int width, int height) {
    dc = CreateCompatibleDC(like);
    bitmap = CreateCompatibleBitmap(like, width, height);
    previous = SelectObject(dc, bitmap);
  }
  ~Held() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
};

std::uint32_t pixelBytes(HDC dc, HBITMAP bitmap, int width, int height, int x, int y) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
  BITMAPINFO info = Canvas::header(width, height);
  GetDIBits(dc, bitmap, 0, height, bytes.data(), &info, DIB_RGB_COLORS);
  return Canvas::at(bytes, width, height, x, y);
}

std::vector<std::string> screenAndMonochromeFacts() {
  std::vector<std::string> facts;
  HDC screen = GetDC(nullptr);
  facts.push_back(format("screen BITSPIXEL: %d PLANES: %d RASTERCAPS&RC_PALETTE: %d",
                         GetDeviceCaps(screen, BITSPIXEL), GetDeviceCaps(screen, PLANES),
                         GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE));
  HDC fresh = CreateCompatibleDC(screen);
  facts.push_back(format("fresh DC ROP2 default: %d", GetROP2(fresh)));
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 8, 8);
  facts.push_back(format("CreateCompatibleBitmap(screen DC) bpp: %d", bitsPerPixel(bitmap)));
  HBITMAP mono = CreateCompatibleBitmap(fresh, 8, 8);
  facts.push_back(format("CreateCompatibleBitmap(fresh CreateCompatibleDC(screen)) bpp: %d",
                         bitsPerPixel(mono)));
  HDC fromNull = CreateCompatibleDC(nullptr);
  HBITMAP monoToo = CreateCompatibleBitmap(fromNull, 8, 8);
  facts.push_back(format("CreateCompatibleBitmap(fresh CreateCompatibleDC(NULL)) bpp: %d",
                         bitsPerPixel(monoToo)));
  BITMAP record{};
  GetObjectA(GetCurrentObject(fresh, OBJ_BITMAP), sizeof record, &record);
  facts.push_back(format("default bitmap of a fresh memory DC: %dx%d bpp %d",
                         static_cast<int>(record.bmWidth), static_cast<int>(record.bmHeight),
                         record.bmBitsPixel));
  HGDIOBJ previous = SelectObject(fresh, bitmap);
  HBITMAP colour = CreateCompatibleBitmap(fresh, 8, 8);
  facts.push_back(
      format("CreateCompatibleBitmap(memory DC holding a screen-compatible bitmap) bpp: %d",
             bitsPerPixel(colour)));
  facts.push_back("content of a new screen-compatible bitmap (pixel 0,0): " +
                  byteText(pixelBytes(fresh, colour, 8, 8, 0, 0)));
  SelectObject(fresh, previous);
  for (HBITMAP made : {bitmap, mono, monoToo, colour}) DeleteObject(made);
  DeleteDC(fromNull);
  DeleteDC(fresh);
  ReleaseDC(nullptr, screen);
  return facts;
}

std::vector<std::string> penFacts(bool monochrome) {
  std::vector<std::string> facts;
  const COLORREF pens[] = {0x020000FF, 0x02808080, 0x0200FF00, 0x02FF0000, 0x02123456,
                           0x02FFFFFF, 0x000000FF, 0x00123456, 0x01000003};
  HDC screen = GetDC(nullptr);
  HDC fresh = CreateCompatibleDC(screen);
  for (COLORREF colour : pens) {
    Held held(monochrome ? fresh : screen, 8, 8);
    PatBlt(held.dc, 0, 0, 8, 8, BLACKNESS);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ old = SelectObject(held.dc, pen);
    MoveToEx(held.dc, 1, 1, nullptr);
    LineTo(held.dc, 3, 1);
    SelectObject(held.dc, old);
    DeleteObject(pen);
    facts.push_back(format("%s: pen %08X -> GetDIBits bytes B G R X (GetPixel %08X): ",
                           monochrome ? "1bpp bitmap" : "screen-compatible bitmap",
                           static_cast<unsigned>(colour),
                           static_cast<unsigned>(GetPixel(held.dc, 1, 1))) +
                    byteText(pixelBytes(held.dc, held.bitmap, 8, 8, 1, 1)));
  }
  DeleteDC(fresh);
  ReleaseDC(nullptr, screen);
  return facts;
}

std::vector<std::string> transferFacts() {
  std::vector<std::string> facts;
  Canvas canvas(8, 8);
  std::vector<std::uint8_t> bytes = canvas.bytes();
  bytes[0] = 0x11, bytes[1] = 0x22, bytes[2] = 0x33, bytes[3] = 0xAB;
  canvas.setBytes(bytes);
  facts.push_back("SetDIBits(11 22 33 AB) then GetDIBits: " + byteText(canvas.at(0, 7)));
  Canvas other(8, 8);
  BitBlt(other.dc(), 0, 0, 8, 8, canvas.dc(), 0, 0, SRCCOPY);
  facts.push_back("  after BitBlt SRCCOPY into another screen-compatible bitmap: " +
                  byteText(other.at(0, 7)));
  PatBlt(other.dc(), 0, 0, 8, 8, WHITENESS);
  facts.push_back("  after PatBlt WHITENESS: " + byteText(other.at(0, 7)));
  SetPixel(other.dc(), 0, 7, 0x00405060);
  facts.push_back("  after SetPixel 0x00405060: " + byteText(other.at(0, 7)));

  BITMAPINFO info = Canvas::header(8, 8);
  std::vector<std::uint8_t> buffer(256);
  const int lines =
      GetDIBits(canvas.dc(), canvas.bitmap(), 0, 8, buffer.data(), &info, DIB_RGB_COLORS);
  const BITMAPINFOHEADER& h = info.bmiHeader;
  facts.push_back(format(
      "GetDIBits with biSizeImage 0: returns %d, header after: size %u w %d h %d bpp %d comp %u "
      "sizeimage %u",
      lines, static_cast<unsigned>(h.biSize), static_cast<int>(h.biWidth),
      static_cast<int>(h.biHeight), h.biBitCount, static_cast<unsigned>(h.biCompression),
      static_cast<unsigned>(h.biSizeImage)));
  PatBlt(canvas.dc(), 0, 0, 8, 8, BLACKNESS);
  SetPixel(canvas.dc(), 0, 0, RGB(255, 0, 0));
  const int read =
      GetDIBits(canvas.dc(), canvas.bitmap(), 0, 8, buffer.data(), &info, DIB_RGB_COLORS);
  int row = -1;
  for (int r = 0; r < 8; ++r) {
    if (buffer[static_cast<std::size_t>(r) * 32 + 2] == 0xFF) row = r;
  }
  facts.push_back(format(
      "GetDIBits on a bitmap selected into a DC: returns %d; device (0,0) set red -> buffer row %d "
      "(last; bottom-up)",
      read, row));

  HDC screen = GetDC(nullptr);
  HDC fresh = CreateCompatibleDC(screen);
  const int samples[][3] = {{0, 0, 0},       {0, 0, 255},     {255, 0, 0},
                            {0, 255, 0},     {128, 128, 128}, {127, 127, 127},
                            {200, 200, 200}, {255, 255, 255}, {10, 200, 10}};
  for (const auto& bgr : samples) {
    Held mono(fresh, 8, 8);
    std::vector<std::uint8_t> in(256, 0);
    in[0] = static_cast<std::uint8_t>(bgr[0]);
    in[1] = static_cast<std::uint8_t>(bgr[1]);
    in[2] = static_cast<std::uint8_t>(bgr[2]);
    SetDIBits(mono.dc, mono.bitmap, 0, 8, in.data(), &info, DIB_RGB_COLORS);
    facts.push_back(format("1bpp bitmap: SetDIBits B G R = %3d %3d %3d -> GetDIBits: ", bgr[0],
                           bgr[1], bgr[2]) +
                    byteText(pixelBytes(mono.dc, mono.bitmap, 8, 8, 0, 7)));
  }
  for (bool white : {false, true}) {
    Held mono(fresh, 8, 8);
    PatBlt(mono.dc, 0, 0, 8, 8, white ? WHITENESS : BLACKNESS);
    Canvas target(8, 8);
    SetTextColor(target.dc(), 0x80);
    SetBkColor(target.dc(), 0x8000);
    BitBlt(target.dc(), 0, 0, 8, 8, mono.dc, 0, 0, SRCCOPY);
    facts.push_back(std::string("BitBlt 1bpp -> 32bpp, ") +
                    (white ? "white source pixel: "
                           : "black source pixel (text colour 0x80 red, bk 0x8000 green): ") +
                    byteText(target.at(0, 0)));
  }
  DeleteDC(fresh);
  ReleaseDC(nullptr, screen);
  return facts;
}

std::string boxText(const RECT& r) {
  return format("%d,%d,%d,%d", static_cast<int>(r.left), static_cast<int>(r.top),
                static_cast<int>(r.right), static_cast<int>(r.bottom));
}

std::vector<std::string> clipFacts() {
  std::vector<std::string> facts;
  Canvas target(40, 30);
  Canvas source(40, 30);
  std::vector<std::uint8_t> blue(40 * 30 * 4), red(40 * 30 * 4);
  for (std::size_t i = 0; i < blue.size(); i += 4) {
    blue[i] = 0xFF, blue[i + 3] = 0x33;
    red[i + 2] = 0xFF, red[i + 3] = 0x55;
  }
  target.setBytes(blue);
  source.setBytes(red);
  HRGN region = CreateRectRgn(10, 5, 20, 15);
  const int selected = SelectClipRgn(target.dc(), region);
  facts.push_back(
      format("SelectClipRgn returns %d (SIMPLEREGION=2); DeleteObject(region) right "
             "after: %d",
             selected, DeleteObject(region)));
  RECT box{};
  const int type = GetClipBox(target.dc(), &box);
  HRGN copy = CreateRectRgn(0, 0, 0, 0);
  const int has = GetClipRgn(target.dc(), copy);
  RECT copied{};
  GetRgnBox(copy, &copied);
  facts.push_back(format("  after DeleteObject: GetClipBox type %d box ", type) + boxText(box) +
                  format("; GetClipRgn %d box ", has) + boxText(copied));
  BitBlt(target.dc(), 0, 0, 40, 30, source.dc(), 0, 0, SRCCOPY);
  const std::vector<std::uint8_t> after = target.bytes();
  int inside = 0, outsideChanged = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const std::uint32_t word = Canvas::at(after, 40, 30, x, y);
      if (x >= 10 && x < 20 && y >= 5 && y < 15) {
        inside += word == 0x55FF0000u ? 1 : 0;
      } else {
        outsideChanged += word != 0x330000FFu ? 1 : 0;
      }
    }
  }
  facts.push_back(
      format("BitBlt SRCCOPY full 40x30 under clip (10,5)-(20,15): red inside %d of "
             "100, outside changed %d of 1100",
             inside, outsideChanged));
  facts.push_back("  a copied pixel inside the clip (fourth byte comes from the source): " +
                  byteText(Canvas::at(after, 40, 30, 12, 7)));
  facts.push_back("  a pixel outside the clip: " + byteText(Canvas::at(after, 40, 30, 2, 2)));
  HRGN second = CreateRectRgn(25, 20, 30, 25);
  SelectClipRgn(target.dc(), second);
  DeleteObject(second);
  GetClipBox(target.dc(), &box);
  facts.push_back("second SelectClipRgn (25,20)-(30,25): clip box now " + boxText(box));

  HRGN small = CreateRectRgn(0, 0, 2, 2);
  SelectClipRgn(source.dc(), small);
  DeleteObject(small);
  SelectClipRgn(target.dc(), nullptr);
  PatBlt(target.dc(), 0, 0, 40, 30, BLACKNESS);
  BitBlt(target.dc(), 0, 0, 40, 30, source.dc(), 0, 0, SRCCOPY);
  facts.push_back(format("BitBlt from a source DC clipped to (0,0)-(2,2): pixel (30,20) copied %d",
                         target.at(30, 20) == 0x55FF0000u ? 1 : 0));
  const int noneType = GetClipBox(target.dc(), &box);
  facts.push_back(format("after SelectClipRgn(dc, NULL): GetClipBox type %d box ", noneType) +
                  boxText(box) + format("; GetClipRgn %d", GetClipRgn(target.dc(), copy)));
  HRGN large = CreateRectRgn(-50, -50, 500, 500);
  SelectClipRgn(target.dc(), large);
  DeleteObject(large);
  GetClipBox(target.dc(), &box);
  facts.push_back("clip (-50,-50)-(500,500) on a 40x30 bitmap: GetClipBox " + boxText(box));
  DeleteObject(copy);
  return facts;
}

std::vector<std::string> penLifetimeFacts() {
  std::vector<std::string> facts;
  HDC dc = CreateCompatibleDC(nullptr);
  HPEN pen = CreatePen(PS_SOLID, 1, 0x000000FF);
  HGDIOBJ old = SelectObject(dc, pen);
  facts.push_back(format("SelectObject(pen) on a fresh memory DC returns the stock BLACK_PEN: %d",
                         old == GetStockObject(BLACK_PEN) ? 1 : 0));
  const BOOL deleted = DeleteObject(pen);
  facts.push_back(format(
      "DeleteObject of the pen while selected returns %d; GetCurrentObject still that pen: %d",
      deleted, GetCurrentObject(dc, OBJ_PEN) == pen ? 1 : 0));
  SelectObject(dc, old);
  facts.push_back(format("  after selecting the old pen back, GetObjectType(pen) = %u (0 = gone)",
                         static_cast<unsigned>(GetObjectType(pen))));
  SetROP2(dc, R2_COPYPEN);
  facts.push_back(format("SetROP2 returns the previous mode: %d", SetROP2(dc, R2_XORPEN)));
  DeleteDC(dc);
  return facts;
}

void expectRecorded(const std::vector<std::string>& facts) {
  static const std::set<std::string> recorded = firstSection();
  ASSERT_FALSE(recorded.empty()) << "cannot read " << testdataPath("gdi-facts.txt");
  for (const std::string& fact : facts) {
    EXPECT_EQ(recorded.count(fact), 1u) << "not as measured: " << fact;
  }
}

TEST(GdiFacts, ScreenDepthAndTheMonochromeTrap) { expectRecorded(screenAndMonochromeFacts()); }
TEST(GdiFacts, PenColoursOnColourBitmaps) { expectRecorded(penFacts(false)); }
TEST(GdiFacts, PenColoursOnMonochromeBitmaps) { expectRecorded(penFacts(true)); }
TEST(GdiFacts, DibTransferAndBlockCopies) { expectRecorded(transferFacts()); }
TEST(GdiFacts, ClipRegionsAreCopiedAndLimitOnlyTheTarget) { expectRecorded(clipFacts()); }
TEST(GdiFacts, PensDeletedWhileSelectedGoWhenDeselected) { expectRecorded(penLifetimeFacts()); }

}  // namespace
}  // namespace kinetiscan::gdi_test
