// The cast member's preview: the camera plane unscaled at the rect's bottom-left, whatever the
// rect's size; and renderPlane's refusals.
#include "expected_picture.h"
#include "sprite/stage_rendering.h"
#include "sprite_fixture.h"
#include "testbed/control.h"

namespace kinetiscan::sprite_test {
namespace {

constexpr int kWidth = 260, kHeight = 200;

class MemberPreview : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    fillPlane(analysisState().cameraPlane, 33);
  }

  // The backdrop with plane pixels at the bottom-left of the rect, keeping the fourth byte.
  static Picture expectedFor(const Rect& rect) {
    Picture expected = backdropPicture(kWidth, kHeight);
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kColumns; ++c) {
        const int x = rect.left + c, y = rect.bottom - 1 - r;
        if (x >= rect.right || y < rect.top) continue;
        const std::uint32_t fresh = planeWord(analysisState().cameraPlane, c, kRows - 1 - r);
        expected.set(x, y, (backdrop(x, y) & 0xFF000000u) | fresh, rect);
      }
    }
    return expected;
  }
};

TEST_F(MemberPreview, SmallerAndLargerRectsShowTheBottomLeftOfThePicture) {
  for (const Rect rect : {Rect{30, 40, 110, 140}, Rect{5, 10, 190, 250}}) {
    SCOPED_TRACE(std::to_string(rect.right - rect.left) + "x" +
                 std::to_string(rect.bottom - rect.top));
    host::Surface& surface = makeSurface(kWidth, kHeight);
    surface.setBytes(backdropPicture(kWidth, kHeight).bytes());
    const HostRect hostRect{rect.top, rect.left, rect.bottom, rect.right};
    EXPECT_EQ(drawMemberPreview(&surface, &hostRect), kOk);
    const Picture got = Picture::fromBytes(kWidth, kHeight, surface.bytes());
    const Picture expected = expectedFor(rect);
    EXPECT_EQ(got.hash(), expected.hash()) << expected.firstDifference(got);
  }
  EXPECT_EQ(panelCache().memoryDc, nullptr) << "the preview does not use the panels";
}

TEST_F(MemberPreview, OtherSurfaceKindsAndMissingArgumentsDrawNothing) {
  host::Surface& surface = makeSurface(kWidth, kHeight, 9);
  const HostRect rect{0, 0, 120, 160};
  EXPECT_EQ(drawMemberPreview(&surface, &rect), kOk);
  EXPECT_EQ(drawMemberPreview(nullptr, &rect), kOk);
  host::Surface& drawable = makeSurface(kWidth, kHeight);
  EXPECT_EQ(drawMemberPreview(&drawable, nullptr), kOk);
  drawable.hideDc = true;
  EXPECT_EQ(drawMemberPreview(&drawable, &rect), kOk);
  for (const host::Surface* s : {&surface, &drawable}) {
    for (std::uint8_t b : s->bytes()) ASSERT_EQ(b, 0);
  }
}

// Areas that cannot be buffered, or are empty, or for which GDI gives no memory DC, write nothing;
// only the empty ones count as done.
TEST_F(MemberPreview, RenderPlaneRefusesWhatItCannotBuffer) {
  host::Surface& surface = makeSurface(16, 16);
  if (standin::failMemoryDcCreations(1)) {
    EXPECT_FALSE(renderPlane(surface.dc(), 0, 0, 16, 16, analysisState().cameraPlane, 100));
  }
  EXPECT_FALSE(
      renderPlane(surface.dc(), 0, 0, 2147483647, 2147483647, analysisState().cameraPlane, 100));
  EXPECT_FALSE(renderPlane(surface.dc(), -2147483647 - 1, 0, 2147483647, 16,
                           analysisState().cameraPlane, 100));
  EXPECT_TRUE(renderPlane(surface.dc(), 10, 10, 5, 20, analysisState().cameraPlane, 100));
  for (std::uint8_t b : surface.bytes()) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace kinetiscan::sprite_test
