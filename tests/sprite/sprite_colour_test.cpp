// drawSprite's road to the sprite's colour: each step through the host, what a refused step
// changes, and what is released.
#include "expected_picture.h"
#include "sprite_fixture.h"

namespace kinetiscan::sprite_test {
namespace {

constexpr Rect kRect{0, 0, 120, 160};

class SpriteColour : public SpriteTest {
 protected:
  void SetUp() override {
    SpriteTest::SetUp();
    movies_->setSpriteColour(kSpriteNumber, 0x20, 0x40, 0x80);
    analysisState().blobBoxes[1] = BlobBox{100, 50, 80, 30};
    analysisState().blobCount = 2;
    actor_ = makeActor();
    ASSERT_NE(actor_, nullptr);
    setProperty(actor_, "view", 0);
    setProperty(actor_, "showboundingboxes", 1);
  }

  // Draws on a white surface and returns the result and the colour of an outline pixel.
  Result draw(std::uint32_t* outline) {
    host::Surface& surface = makeSurface(160, 120);
    surface.setBytes(std::vector<std::uint8_t>(160 * 120 * 4, 0xFF));
    DrawRequest request{};
    request.bottom = kRect.bottom, request.right = kRect.right;
    const Result result = actor_->ops->drawSprite(actor_, &request, 0xDEADBEEF, &surface);
    *outline = Picture::fromBytes(160, 120, surface.bytes()).at(50, 20);
    return result;
  }

  SpriteActorInterface* actor_ = nullptr;
};

TEST_F(SpriteColour, ReadsTheColourOfItsOwnSpriteAndReleasesEverything) {
  std::uint32_t outline = 0;
  EXPECT_EQ(draw(&outline), kOk);
  EXPECT_EQ(outline, 0x00204080u) << "red, green and blue of the sprite's colour";
  EXPECT_EQ(movies_->lastSpriteNumber, kSpriteNumber);
  EXPECT_EQ(movies_->colourReads, 1);
  EXPECT_EQ(values_->colorLog.calls[3], 1);
  EXPECT_EQ(values_->valueLog.calls[7], 1) << "the colour value is released";
  EXPECT_EQ(values_->liveValues(), 0u);
}

// A colour that cannot be read draws black; its value is neither converted nor released, and the
// failure is the operation's result after drawing.
TEST_F(SpriteColour, AnUnreadableColourDrawsBlackAndIsReported) {
  movies_->colourAnswer = code(0x80040777u);
  std::uint32_t outline = 0;
  EXPECT_EQ(draw(&outline), code(0x80040777u));
  EXPECT_EQ(outline, 0u);
  EXPECT_EQ(values_->colorLog.calls[3], 0);
  EXPECT_EQ(values_->valueLog.calls[7], 0);
}

TEST_F(SpriteColour, RefusedStepsAreNotCalledThrough) {
  struct Step {
    const char* name;
    Result* answer;
  };
  for (Step step : {Step{"stage", &movies_->stageAnswer}, Step{"score", &movies_->scoreAnswer},
                    Step{"sprite", &movies_->spriteAnswer}}) {
    SCOPED_TRACE(step.name);
    *step.answer = code(0x80040666u);
    std::uint32_t outline = 1;
    EXPECT_EQ(draw(&outline), kNoInterface) << "the colour was never read";
    EXPECT_EQ(outline, 0u) << "the overlays are still drawn, in black";
    EXPECT_EQ(movies_->colourReads, 0);
    *step.answer = kOk;
  }
}

// Without the callback's service the actor asks for sprite 0, and a failed conversion of the
// colour leaves black.
TEST_F(SpriteColour, MissingCallbackServiceAndFailedConversion) {
  callback_->serviceAnswer = kNoInterface;
  actor_->ops->setSpriteCallback(actor_, callback_.get());
  movies_->setSpriteColour(0, 1, 2, 3);
  std::uint32_t outline = 0;
  EXPECT_EQ(draw(&outline), kOk);
  EXPECT_EQ(movies_->lastSpriteNumber, 0);
  EXPECT_EQ(outline, 0x00010203u);
  EXPECT_EQ(callback_->numberRequests, 0);
  values_->colorLog.failures[3] = code(0x80040555u);
  EXPECT_EQ(draw(&outline), kOk);
  EXPECT_EQ(outline, 0u);
  EXPECT_EQ(values_->liveValues(), 0u) << "the value is released all the same";
}

TEST_F(SpriteColour, ActorWithoutServicesStillDrawsAndLeaksNothing) {
  for (const Guid* id : {&kValueServicesId, &kListServicesId, &kColorServicesId, &kMovieServicesId,
                         &kSpareService1Id}) {
    host_->refuseService(*id);
  }
  actor_ = makeActor();
  ASSERT_NE(actor_, nullptr);
  host::Surface& surface = makeSurface(160, 120);
  DrawRequest request{};
  request.bottom = 120, request.right = 160;
  EXPECT_EQ(actor_->ops->drawSprite(actor_, &request, 0, &surface), kNoInterface);
  const Picture got = Picture::fromBytes(160, 120, surface.bytes());
  EXPECT_EQ(got.at(0, 0), planeWord(analysisState().cameraPlane, 0, 0)) << "view 1 is drawn";
  HostValue out{};
  EXPECT_EQ(actor_->ops->getProperty(actor_, values_->symbol("view"), &out), kNoInterface);
  EXPECT_EQ(actor_->ops->setProperty(actor_, values_->symbol("view"), &out), kNoInterface);
  EXPECT_EQ(values_->liveValues(), 0u);
}

TEST_F(SpriteColour, NullRequestOrSurfaceDrawsNothing) {
  EXPECT_EQ(actor_->ops->drawSprite(actor_, nullptr, 0, nullptr), kOk);
  DrawRequest request{};
  EXPECT_EQ(actor_->ops->drawSprite(actor_, &request, 0, nullptr), kOk);
  EXPECT_EQ(panelCache().memoryDc, nullptr);
}

}  // namespace
}  // namespace kinetiscan::sprite_test
