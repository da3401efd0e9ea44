// What only the stand-in's GDI can show: its object count, and that handles it never made or has
// already freed fail instead of crashing.
#include <gtest/gtest.h>

#include "platform/win32api.h"
#include "standin/gdi_control.h"

namespace kinetiscan::standin {
namespace {

TEST(StandinGdi, CountsObjectsUntilTheyAreGone) {
  const int before = liveGdiObjects();
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  HRGN region = CreateRectRgn(0, 0, 2, 2);
  EXPECT_EQ(liveGdiObjects(), before + 5);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  SelectClipRgn(dc, region);
  EXPECT_TRUE(DeleteObject(region));
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_EQ(liveGdiObjects(), before + 4) << "a selected pen stays until deselected";
  SelectObject(dc, oldPen);
  EXPECT_EQ(liveGdiObjects(), before + 3);
  SelectObject(dc, oldBitmap);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(liveGdiObjects(), before);
}

TEST(StandinGdi, DeletingADcFreesWhatWasDeletedWhileSelected) {
  const int before = liveGdiObjects();
  HDC dc = CreateCompatibleDC(nullptr);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  ReleaseDC(nullptr, screen);
  SelectObject(dc, bitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EXPECT_EQ(liveGdiObjects(), before);
}

TEST(StandinGdi, ForeignAndStaleHandlesFail) {
  int notAnObject = 0;
  HDC bogus = reinterpret_cast<HDC>(&notAnObject);
  EXPECT_FALSE(DeleteDC(bogus));
  EXPECT_FALSE(LineTo(bogus, 1, 1));
  EXPECT_EQ(GetPixel(bogus, 0, 0), CLR_INVALID);
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  DeleteObject(pen);
  EXPECT_FALSE(DeleteObject(pen));
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(dc, pen), nullptr);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
  HDC other = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(SelectObject(other, bitmap), nullptr) << "a bitmap lives in one DC at a time";
  SelectObject(dc, old);
  DeleteDC(other);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

TEST(StandinGdi, LinesBetweenExtremeCoordinatesOnlyVisitTheSurface) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ oldPen = SelectObject(dc, pen);
  MoveToEx(dc, -2147483647 - 1, -2147483647 - 1, nullptr);
  EXPECT_TRUE(LineTo(dc, 2147483647, 2147483647));
  EXPECT_EQ(GetPixel(dc, 5, 5), 0x00FFFFFFu) << "the diagonal crosses the surface";
  EXPECT_EQ(GetPixel(dc, 5, 6), 0u);
  SelectObject(dc, oldPen);
  SelectObject(dc, old);
  DeleteObject(pen);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

}  // namespace
}  // namespace kinetiscan::standin
