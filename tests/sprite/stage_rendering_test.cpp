// Rendering through the sprite actor's table onto a surface, compared as whole pictures with
// pictures built independently from the planes and region records.
#include "sprite/stage_rendering.h"

#include "expected_picture.h"
#include "sprite_fixture.h"
#include "testbed/control.h"

namespace kinetiscan::sprite_test {
namespace {

constexpr int kWidth = 200, kHeight = 150;
constexpr Rect kRect{10, 20, 130, 180};  // exactly one panel: 160 x 120
constexpr std::uint32_t kRed = 0x00FF0000u;
constexpr std::uint64_t kWorkedExampleHash = 1240494167629869821ull;

// The panels' stale flags in drawing order, 1 for stale.
std::array<std::uint8_t, 4> staleFlags() {
  std::array<std::uint8_t, 4> flags{};
  for (int view = 1; view <= 4; ++view) flags[view - 1] = panelStale(view) ? 1 : 0;
  return flags;
}
void setStaleFlags(const std::array<std::uint8_t, 4>& flags) {
  for (int view = 1; view <= 4; ++view) {
    panelCache().shownGeneration[view - 1] =
        flags[view - 1] != 0 ? 0 : analysisState().frameGeneration + 1;
  }
}

class StageRendering : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    // A panel mixes into what its cache held before: that must be black, whatever a new bitmap
    // holds. (Where the GDI cannot be made to give leftovers, its bitmaps come cleared.)
    standin::dirtyNewBitmaps(true);
    movies_->setSpriteColour(kSpriteNumber, 255, 0, 0);
    AnalysisState& state = analysisState();
    fillPlane(state.cameraPlane, 0);
    fillPlane(state.retinaPlane, 40);
    fillPlane(state.differencePlane, 90);
    fillPlane(state.globsPlane, 150);
    actor_ = makeActor();
    ASSERT_NE(actor_, nullptr);
  }

  void TearDown() override {
    standin::dirtyNewBitmaps(false);
    SpriteTest::TearDown();
  }

  host::Surface& backdropSurface(int width = kWidth, int height = kHeight) {
    host::Surface& surface = makeSurface(width, height);
    surface.setBytes(backdropPicture(width, height).bytes());
    return surface;
  }

  Result draw(host::Surface& surface, const Rect& rect, std::int32_t level) {
    DrawRequest request{};
    request.top = rect.top, request.left = rect.left, request.bottom = rect.bottom,
    request.right = rect.right, request.level = level;
    const Result result = actor_->ops->drawSprite(actor_, &request, 0, &surface);
    surface.clearClip();
    return result;
  }

  static Picture actual(const host::Surface& surface) {
    return Picture::fromBytes(surface.width(), surface.height(), surface.bytes());
  }

  // Panel pixels at the rect's top-left, each made by `panel` from the panel's x and y.
  template <class Panel>
  static void paste(Picture& picture, const Rect& rect, Panel panel) {
    for (int y = 0; y < kRows; ++y) {
      for (int x = 0; x < kColumns; ++x)
        picture.set(rect.left + x, rect.top + y, panel(x, y), rect);
    }
  }

  static void expectSame(const Picture& expected, const Picture& got) {
    EXPECT_EQ(got.hash(), expected.hash()) << "first difference " << expected.firstDifference(got);
  }

  SpriteActorInterface* actor_ = nullptr;
};

TEST_F(StageRendering, EachViewAtLevelsZeroHalfAndFull) {
  const ImagePlane* planes[] = {&analysisState().cameraPlane, &analysisState().retinaPlane,
                                &analysisState().differencePlane, &analysisState().globsPlane};
  for (int view = 1; view <= 4; ++view) {
    for (int level : {0, 128, 255}) {
      SCOPED_TRACE("view " + std::to_string(view) + " level " + std::to_string(level));
      resetPanelCacheForTest();
      setProperty(actor_, "view", view);
      host::Surface& surface = backdropSurface();
      ASSERT_EQ(draw(surface, kRect, level), kOk);
      Picture expected = backdropPicture(kWidth, kHeight);
      const int weight = level == 0 ? 100 : level == 128 ? 50 : 0;
      paste(expected, kRect,
            [&](int x, int y) { return mixWord(0, planeWord(*planes[view - 1], x, y), weight); });
      expectSame(expected, actual(surface));
      EXPECT_FALSE(panelStale(view));
    }
  }
}

// Level 128 moves the panel halfway toward each new frame; level 255 never changes it.
TEST_F(StageRendering, LowerWeightsLeaveATrailOfEarlierFrames) {
  host::Surface& surface = makeSurface(kWidth, kHeight);
  for (int level : {128, 255}) {
    SCOPED_TRACE(level);
    resetPanelCacheForTest();
    fillPlane(analysisState().cameraPlane, 0);
    draw(surface, kRect, level);
    const ImagePlane first = analysisState().cameraPlane;
    fillPlane(analysisState().cameraPlane, 123);
    ++analysisState().frameGeneration;  // a new frame
    draw(surface, kRect, level);
    Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
    const int weight = level == 128 ? 50 : 0;
    paste(expected, kRect, [&](int x, int y) {
      const std::uint32_t once = mixWord(0, planeWord(first, x, y), weight);
      return mixWord(once, planeWord(analysisState().cameraPlane, x, y), weight);
    });
    expectSame(expected, actual(surface));
  }
}

TEST_F(StageRendering, TwoDrawingsBetweenFramesRenderThePanelOnce) {
  host::Surface& surface = makeSurface(kWidth, kHeight);
  draw(surface, kRect, 0);
  const Picture firstFrame = actual(surface);
  fillPlane(analysisState().cameraPlane, 77);  // changed, but no new frame was announced
  host::Surface& second = makeSurface(kWidth, kHeight);
  draw(second, kRect, 0);
  expectSame(firstFrame, actual(second));
  panelCache().shownGeneration[0] = 0;  // the camera panel stale
  draw(second, kRect, 0);
  Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
  paste(expected, kRect, [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
  expectSame(expected, actual(second));
}

// The panel sits in the top-left quarter; the rest of the rect keeps what the stage showed,
// although the other panels of the cache hold pictures.
TEST_F(StageRendering, ALargeRectShowsOnePanelAtItsTopLeft) {
  host::Surface& scratch = makeSurface(kWidth, kHeight);
  for (int view = 2; view <= 4; ++view) {
    setProperty(actor_, "view", view);
    draw(scratch, kRect, 0);
  }
  setProperty(actor_, "view", 1);
  const Rect large{20, 30, 260, 350};
  host::Surface& surface = backdropSurface(400, 300);
  draw(surface, large, 0);
  Picture expected = backdropPicture(400, 300);
  paste(expected, large, [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
  expectSame(expected, actual(surface));
}

// The outlines of the worked example, and crosses measured from the rect's bottom.
void addBox(Picture& picture, const Rect& rect, const BlobBox& box, std::uint32_t colour) {
  const int x0 = rect.left + box.minCol, x1 = rect.left + box.maxCol;
  const int y0 = rect.top + kRows - box.maxRow, y1 = rect.top + kRows - box.minRow;
  for (int x = x0; x <= x1; ++x) picture.set(x, y0, colour, rect), picture.set(x, y1, colour, rect);
  for (int y = y0; y <= y1; ++y) picture.set(x0, y, colour, rect), picture.set(x1, y, colour, rect);
}
void addCross(Picture& picture, const Rect& rect, const BlobBox& box, std::uint32_t colour) {
  const int cx = rect.left + (box.maxCol + box.minCol) / 2;
  const int cy = rect.bottom - (box.maxRow + box.minRow) / 2;
  for (int k = 0; k < 5; ++k) {
    picture.set(cx - 2 + k, cy - 2 + k, colour, rect);
    picture.set(cx - 2 + k, cy + 2 - k, colour, rect);
  }
}

TEST_F(StageRendering, OutlinesAndCrossesOfTheWorkedExample) {
  AnalysisState& state = analysisState();
  state.blobBoxes[1] = BlobBox{100, 50, 80, 30};
  state.blobBoxes[2] = BlobBox{-1, 90, 10, 60};  // discarded: not drawn
  state.blobBoxes[3] = BlobBox{30, 41, 20, 40};  // column sum 81 halves to 40
  state.blobCount = 4;
  setProperty(actor_, "showboundingboxes", 1);
  setProperty(actor_, "showcenterpoints", 5);
  host::Surface& surface = makeSurface(kWidth, kHeight);
  ASSERT_EQ(draw(surface, kRect, 0), kOk);
  Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
  paste(expected, kRect, [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
  for (int i : {1, 3}) addBox(expected, kRect, state.blobBoxes[i], kRed);
  for (int i : {1, 3}) addCross(expected, kRect, state.blobBoxes[i], kRed);
  expectSame(expected, actual(surface));
  // The example's own numbers: corners of the outline and the ends of the strokes.
  const Picture got = actual(surface);
  for (auto [x, y] : {std::pair{70, 30},
                      {70, 50},
                      {50, 50},
                      {50, 30},
                      {58, 38},
                      {62, 42},
                      {58, 42},
                      {62, 38},
                      {60, 40}}) {
    EXPECT_EQ(got.at(x, y), kRed) << x << "," << y;
  }
  EXPECT_NE(got.at(63, 43), kRed) << "the last pixel of a stroke is left out";
  // Pinned once, so a run on either platform shows it draws the very same bytes.
  EXPECT_EQ(got.hash(), kWorkedExampleHash);
}

// Outlines hang from the rect's top and crosses stand on its bottom, so they part in any rect that
// is not 120 high.
TEST_F(StageRendering, CrossesAreMeasuredFromTheRectsBottom) {
  constexpr int kTall = 250;
  AnalysisState& state = analysisState();
  state.blobBoxes[1] = BlobBox{60, 50, 40, 30};
  state.blobCount = 2;
  setProperty(actor_, "showboundingboxes", 1);
  setProperty(actor_, "showcenterpoints", 1);
  for (const Rect& rect : {Rect{10, 20, 100, 180}, Rect{10, 20, 200, 180}}) {
    SCOPED_TRACE(rect.bottom - rect.top);
    host::Surface& surface = makeSurface(kWidth, kTall);
    ASSERT_EQ(draw(surface, rect, 0), kOk);
    Picture expected(kWidth, kTall, std::vector<std::uint32_t>(kWidth * kTall, 0));
    paste(expected, rect,
          [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
    addBox(expected, rect, state.blobBoxes[1], kRed);
    addCross(expected, rect, state.blobBoxes[1], kRed);
    expectSame(expected, actual(surface));
  }
}

// Each overlay draws with the copy pen whatever mix mode the host's DC had, and leaves it so.
TEST_F(StageRendering, OverlaysDrawWithTheCopyPen) {
  AnalysisState& state = analysisState();
  state.blobBoxes[1] = BlobBox{100, 50, 80, 30};
  state.blobCount = 2;
  for (const bool outlines : {true, false}) {
    SCOPED_TRACE(outlines ? "outlines" : "crosses");
    setProperty(actor_, "showboundingboxes", outlines ? 1 : 0);
    setProperty(actor_, "showcenterpoints", outlines ? 0 : 1);
    host::Surface& surface = makeSurface(kWidth, kHeight);
    SetROP2(surface.dc(), R2_NOP);
    ASSERT_EQ(draw(surface, kRect, 0), kOk);
    EXPECT_EQ(GetROP2(surface.dc()), R2_COPYPEN);
    Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
    paste(expected, kRect,
          [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
    if (outlines) {
      addBox(expected, kRect, state.blobBoxes[1], kRed);
    } else {
      addCross(expected, kRect, state.blobBoxes[1], kRed);
    }
    expectSame(expected, actual(surface));
  }
}

// The host's DC is left at the point where drawing the lines one by one, outlines first, ends.
TEST_F(StageRendering, TheCurrentPositionEndsWhereTheLastLineEnded) {
  AnalysisState& state = analysisState();
  state.blobBoxes[1] = BlobBox{100, 50, 80, 30};
  state.blobBoxes[2] = BlobBox{30, 41, 20, 40};
  state.blobCount = 3;
  struct Case {
    int outlines, crosses;
    POINT end;
  };
  for (const Case& c :
       {Case{0, 0, {7, 9}}, Case{1, 0, {61, 100}}, Case{0, 1, {63, 102}}, Case{1, 1, {63, 102}}}) {
    SCOPED_TRACE(testing::Message() << c.outlines << c.crosses);
    setProperty(actor_, "showboundingboxes", c.outlines);
    setProperty(actor_, "showcenterpoints", c.crosses);
    host::Surface& surface = makeSurface(kWidth, kHeight);
    MoveToEx(surface.dc(), 7, 9, nullptr);
    ASSERT_EQ(draw(surface, kRect, 0), kOk);
    POINT at{};
    ASSERT_TRUE(GetCurrentPositionEx(surface.dc(), &at));
    EXPECT_EQ(at.x, c.end.x);
    EXPECT_EQ(at.y, c.end.y);
  }
}

// Views without a panel, or whose panel cache cannot be made, draw the overlays over whatever the
// stage shows.
TEST_F(StageRendering, ViewsWithoutAPanelDrawOverlaysOverTheStage) {
  AnalysisState& state = analysisState();
  state.blobBoxes[1] = BlobBox{100, 50, 80, 30};
  state.blobCount = 2;
  movies_->setSpriteColour(kSpriteNumber, 0x12, 0x34, 0x56);
  setProperty(actor_, "showboundingboxes", 1);
  setProperty(actor_, "showcenterpoints", 1);
  // First a view with a panel whose cache cannot be made: the overlays alone, and nothing kept.
  setProperty(actor_, "view", 1);
  host::Surface& refused = backdropSurface();
  int before = 0;
  if (standin::liveGdiObjectCount(&before) && standin::failMemoryDcCreations(1)) {
    draw(refused, kRect, 0);
    int after = 0;
    standin::liveGdiObjectCount(&after);
    EXPECT_EQ(after, before) << "the cache's bitmap was made and must be gone again";
    EXPECT_EQ(panelCache().memoryDc, nullptr);
    Picture expected = backdropPicture(kWidth, kHeight);
    addBox(expected, kRect, state.blobBoxes[1], 0x00123456u);
    addCross(expected, kRect, state.blobBoxes[1], 0x00123456u);
    expectSame(expected, actual(refused));
  }
  for (int view : {0, 5}) {
    SCOPED_TRACE(view);
    setProperty(actor_, "view", view);
    host::Surface& surface = backdropSurface();
    draw(surface, kRect, 0);
    Picture expected = backdropPicture(kWidth, kHeight);
    addBox(expected, kRect, state.blobBoxes[1], 0x00123456u);
    addCross(expected, kRect, state.blobBoxes[1], 0x00123456u);
    expectSame(expected, actual(surface));
  }
}

TEST_F(StageRendering, NoOverlaysWithoutRegionsOrWithStaleRecords) {
  AnalysisState& state = analysisState();
  for (int i = 1; i < kMaxBlobRecords; ++i) state.blobBoxes[i] = BlobBox{100, 50, 80, 30};
  setProperty(actor_, "showboundingboxes", 1);
  setProperty(actor_, "showcenterpoints", 1);
  Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
  paste(expected, kRect, [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
  for (std::int32_t count : {1, 1024}) {
    SCOPED_TRACE(count);
    state.blobCount = count;
    host::Surface& surface = makeSurface(kWidth, kHeight);
    draw(surface, kRect, 0);
    expectSame(expected, actual(surface));
  }
}

// The overlays reach GDI a batch of records at a time: the most records a frame keeps, each box
// its own, are all drawn.
TEST_F(StageRendering, EveryRecordOfAFullTableIsDrawn) {
  AnalysisState& state = analysisState();
  for (int i = 1; i < kMaxBlobRecords - 1; ++i) {
    const int minRow = i * 13 % 110, minCol = i * 7 % 150;
    state.blobBoxes[i] = BlobBox{minRow + 1 + i % 5, minCol + 1 + i % 8, minRow, minCol};
  }
  state.blobCount = kMaxBlobRecords - 1;
  setProperty(actor_, "showboundingboxes", 1);
  setProperty(actor_, "showcenterpoints", 1);
  host::Surface& surface = makeSurface(kWidth, kHeight);
  ASSERT_EQ(draw(surface, kRect, 0), kOk);
  Picture expected(kWidth, kHeight, std::vector<std::uint32_t>(kWidth * kHeight, 0));
  paste(expected, kRect, [](int x, int y) { return planeWord(analysisState().cameraPlane, x, y); });
  for (int i = 1; i < kMaxBlobRecords - 1; ++i) addBox(expected, kRect, state.blobBoxes[i], kRed);
  for (int i = 1; i < kMaxBlobRecords - 1; ++i) addCross(expected, kRect, state.blobBoxes[i], kRed);
  expectSame(expected, actual(surface));
}

TEST_F(StageRendering, SurfacesOfOtherKindsGetNothing) {
  setProperty(actor_, "showboundingboxes", 1);
  analysisState().blobBoxes[1] = BlobBox{100, 50, 80, 30};
  analysisState().blobCount = 2;
  setStaleFlags({0, 1, 0, 1});
  for (std::int32_t kind : {0, 4, -1}) {
    host::Surface& surface = makeSurface(kWidth, kHeight, kind);
    surface.setBytes(backdropPicture(kWidth, kHeight).bytes());
    draw(surface, kRect, 0);
    expectSame(backdropPicture(kWidth, kHeight), actual(surface));
    EXPECT_EQ(surface.describeCalls, 1);
  }
  EXPECT_EQ(panelCache().memoryDc, nullptr);
  EXPECT_EQ(staleFlags(), (std::array<std::uint8_t, 4>{0, 1, 0, 1}));
  for (std::int32_t kind : {1, 2, 3}) {
    host::Surface& surface = makeSurface(kWidth, kHeight, kind);
    draw(surface, kRect, 0);
    EXPECT_EQ(actual(surface).at(kRect.left, kRect.top),
              planeWord(analysisState().cameraPlane, 0, 0));
  }
}

// A new cache starts black, with every panel marked for rendering; at level 255 it stays black.
TEST_F(StageRendering, ANewPanelCacheIsBlackAndEveryPanelStale) {
  setStaleFlags({0, 0, 0, 0});
  host::Surface& surface = backdropSurface();
  draw(surface, kRect, 255);
  Picture expected = backdropPicture(kWidth, kHeight);
  paste(expected, kRect, [](int, int) { return 0u; });
  expectSame(expected, actual(surface));
  EXPECT_EQ(staleFlags(), (std::array<std::uint8_t, 4>{0, 1, 1, 1}));
  EXPECT_NE(panelCache().pixels, nullptr) << "a 32-bit cache mixes in place";
}

// A cache made like a monochrome DC keeps GDI's transfers; its panels are black and white.
TEST_F(StageRendering, APanelCacheOfAnotherDepthRendersThroughGdi) {
  HDC mono = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(ensurePanelCache(mono));
  DeleteDC(mono);
  EXPECT_EQ(panelCache().pixels, nullptr);
  for (auto& row : analysisState().globsPlane) {
    for (auto& pixel : row) pixel.fill(byteToComponent(150));  // nearer white than black
  }
  setProperty(actor_, "view", 4);
  host::Surface& surface = backdropSurface();
  draw(surface, kRect, 0);
  Picture expected = backdropPicture(kWidth, kHeight);
  paste(expected, kRect, [](int, int) { return 0x00FFFFFFu; });
  expectSame(expected, actual(surface));
}

TEST_F(StageRendering, TheClipStaysOnTheSurface) {
  host::Surface& surface = makeSurface(kWidth, kHeight);
  DrawRequest request{};
  request.top = 10, request.left = 20, request.bottom = 50, request.right = 90;
  actor_->ops->drawSprite(actor_, &request, 0, &surface);
  RECT box{};
  EXPECT_EQ(GetClipBox(surface.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 20);
  EXPECT_EQ(box.top, 10);
  EXPECT_EQ(box.right, 90);
  EXPECT_EQ(box.bottom, 50);
}

// An area whose rows are not whole blocks of the vectorised mix: the rest of each row mixes by
// the same formula. The area's bottom row takes plane row 0.
TEST_F(StageRendering, RenderPlaneMixesAreasOfAnyWidth) {
  const Rect area{4, 3, 7, 8};  // 5 x 3
  for (int weight : {37, 50}) {
    SCOPED_TRACE(weight);
    host::Surface& surface = backdropSurface();
    ASSERT_TRUE(renderPlane(surface.dc(), area.left, area.top, area.right, area.bottom,
                            analysisState().retinaPlane, weight));
    Picture expected = backdropPicture(kWidth, kHeight);
    const int height = area.bottom - area.top;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < area.right - area.left; ++x) {
        const int px = area.left + x, py = area.top + y;
        const std::uint32_t fresh = planeWord(analysisState().retinaPlane, x, y + kRows - height);
        expected.set(px, py, mixWord(backdrop(px, py), fresh, weight), area);
      }
    }
    expectSame(expected, actual(surface));
  }
}

// An area of 2^27 pixels, wide and flat, is refused before anything is allocated or drawn.
TEST_F(StageRendering, RenderPlaneRefusesAreasBeyondAnyStage) {
  host::Surface& surface = backdropSurface();
  EXPECT_FALSE(renderPlane(surface.dc(), 0, 0, 1 << 14, 1 << 13, analysisState().retinaPlane, 50));
  expectSame(backdropPicture(kWidth, kHeight), actual(surface));
}

TEST(StageRenderingWeights, LevelsBecomePercentages) {
  EXPECT_EQ(weightOfLevel(0), 100);
  EXPECT_EQ(weightOfLevel(3), 99);
  EXPECT_EQ(weightOfLevel(128), 50);
  EXPECT_EQ(weightOfLevel(254), 1);
  EXPECT_EQ(weightOfLevel(255), 0);
  for (int level = 0; level <= 255; ++level) {
    EXPECT_EQ(weightOfLevel(level), 100 - static_cast<int>(level * (1.0 / 255) * 100)) << level;
  }
  EXPECT_EQ(weightOfLevel(-40), 100) << "out-of-range levels are clamped";
  EXPECT_EQ(weightOfLevel(1000), 0);
}

}  // namespace
}  // namespace kinetiscan::sprite_test
