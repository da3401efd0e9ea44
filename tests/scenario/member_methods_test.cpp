// Cast member methods: each success path on frames of known content, and every failure code.
#include <array>

#include "member_fixture.h"

namespace kinetiscan::scenario {
namespace {

class MemberMethods : public MemberWithSquare {
 protected:
  HostValue white() { return world_->values.colour(255, 255, 255); }
  HostValue number(std::int32_t n) { return world_->values.integer(n); }
};

TEST_F(MemberMethods, ColourTrackingFindsTheSquare) {
  HostValue result{};
  ASSERT_EQ(call("TrackColorBounds", {white(), number(10)}, &result), kOk);
  const HostRect rect = valueOf(result).rect;
  EXPECT_EQ(rect.top, 120 - 10) << "top is the larger vertical value";
  EXPECT_EQ(rect.left, 30);
  EXPECT_EQ(rect.bottom, 120 - 29);
  EXPECT_EQ(rect.right, 49);
  release(result);

  ASSERT_EQ(call("TRACKCOLOR", {white(), number(10)}, &result), kOk);
  EXPECT_EQ(valueOf(result).point.vertical, (110 + 91) / 2);
  EXPECT_EQ(valueOf(result).point.horizontal, (30 + 49) / 2);
  release(result);

  // Nothing matches: the empty answer.
  ASSERT_EQ(call("trackcolor", {world_->values.colour(0, 0, 255), number(5)}, &result), kOk);
  EXPECT_EQ(valueOf(result).point.vertical, 120);
  EXPECT_EQ(valueOf(result).point.horizontal, 0);
  release(result);

  // Everything but the square is "not white"; tolerance 0 inverted matches every pixel.
  ASSERT_EQ(call("tracknotcolorbounds", {white(), number(0)}, &result), kOk);
  EXPECT_EQ(valueOf(result).rect.top, 120);
  EXPECT_EQ(valueOf(result).rect.bottom, 1);
  EXPECT_EQ(valueOf(result).rect.right, 159);
  release(result);
  ASSERT_EQ(call("tracknotcolor", {white(), number(10)}, &result), kOk);
  EXPECT_EQ(valueOf(result).kind, host::kValuePoint);
  release(result);
}

TEST_F(MemberMethods, BlockAveragesOfEachSource) {
  HostValue result{};
  ASSERT_EQ(call("block", {world_->values.rect({90, 30, 110, 50})}, &result), kOk);
  EXPECT_EQ(valueOf(result).colour.red, 255);
  EXPECT_EQ(valueOf(result).colour.blue, 255);
  release(result);
  ASSERT_EQ(call("camerablock", {world_->values.rect({0, 0, 120, 160})}, &result), kOk);
  EXPECT_EQ(valueOf(result).colour.green, (400 * 255 + 18800 * 100) / 19200);
  release(result);
  ASSERT_EQ(call("retinablock", {world_->values.rect({0, 0, 120, 160})}, &result), kOk);
  EXPECT_EQ(valueOf(result).colour.red, 100);
  release(result);
  ASSERT_EQ(call("differenceblock", {world_->values.rect({60, 100, 70, 110})}, &result), kOk);
  EXPECT_EQ(valueOf(result).colour.red, 0);
  release(result);
  // A rect of no area, and one far outside the frame, answer black rather than fail.
  ASSERT_EQ(call("block", {world_->values.rect({50, 50, 50, 60})}, &result), kOk);
  EXPECT_EQ(valueOf(result).colour.red, 0);
  release(result);
  ASSERT_EQ(
      call("block", {world_->values.rect({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX})}, &result),
      kOk);
  EXPECT_EQ(valueOf(result).colour.red, 0);
  release(result);
}

TEST_F(MemberMethods, AdaptMakesTheCurrentFrameTheBackground) {
  HostValue result{1, 2};
  const auto retinaOverTheSquare = [&] {
    HostValue average{};
    EXPECT_EQ(call("retinablock", {world_->values.rect({90, 30, 110, 50})}, &average), kOk);
    const int red = valueOf(average).colour.red;
    release(average);
    return red;
  };
  // One argument too many: refused before the planes are touched.
  ASSERT_EQ(call("adapt", {number(1)}, &result), kWrongActionCount);
  EXPECT_EQ(retinaOverTheSquare(), 100) << "the background is still the grey frame";
  ASSERT_EQ(call("adapt", {}, &result), kOk);
  EXPECT_EQ(result.words[0], 1u) << "no answer written";
  EXPECT_EQ(retinaOverTheSquare(), 255);
  HostValue average{};
  ASSERT_EQ(call("differenceblock", {world_->values.rect({90, 30, 110, 50})}, &average), kOk);
  EXPECT_GT(valueOf(average).colour.red, 150) << "the reset leaves the difference plane alone";
  release(average);
  // After one more identical frame nothing differs any more.
  ASSERT_EQ(deliver({squareFrame()}), 1);
  ASSERT_EQ(call("differenceblock", {world_->values.rect({90, 30, 110, 50})}, &average), kOk);
  EXPECT_EQ(valueOf(average).colour.red, 0);
  release(average);
}

TEST_F(MemberMethods, EditSourceShowsTheDriverDialog) {
  HostValue result{};
  EXPECT_EQ(call("EditSource", {}, &result), kOk);
  EXPECT_EQ(standin::captureRecord().dialogsShown, 1);
}

TEST_F(MemberMethods, EveryFailureCodeBeforeAnyWork) {
  HostValue result{7, 7};
  EXPECT_EQ(call("adapt", {number(1)}, &result), kWrongActionCount);
  EXPECT_EQ(call("editsource", {number(1)}, &result), kWrongActionCount);
  EXPECT_EQ(call("trackcolor", {}, &result), kWrongTrackCount);
  EXPECT_EQ(call("trackcolor", {white(), world_->values.rect({0, 0, 1, 1})}, &result),
            kWrongTrackArgument);
  EXPECT_EQ(call("trackcolorbounds", {number(3), number(3)}, &result), kWrongTrackArgument);
  EXPECT_EQ(call("trackcolor", {white(), world_->values.real(10.0)}, &result), kWrongTrackArgument)
      << "a tolerance must be an integer, not a float";
  EXPECT_EQ(call("block", {white()}, &result), kWrongBlockArgument);
  EXPECT_EQ(call("block", {world_->values.rect({0, 0, 1, 1}), number(1)}, &result),
            kWrongBlockCount);
  EXPECT_EQ(call("retinablock", {}, &result), kWrongBlockCount);
  EXPECT_EQ(call("dance", {}, &result), kUnknownMethod);
  EXPECT_EQ(result.words[0], 7u) << "the result is never touched by a failure";
  EXPECT_EQ(member_->ops->callMethod(member_, world_->values.symbol("block"), 2, nullptr, &result),
            kWrongBlockCount)
      << "no argument array";
  // Kind 0 arguments pass the checks; what the host converts them to is used.
  EXPECT_EQ(call("trackcolor", {world_->values.ofKind(0), world_->values.ofKind(0)}, &result), kOk);
  release(result);
}

// Red and blue are not interchangeable, and the "not" methods answer for the other pixels.
TEST_F(MemberMethods, TrackingTellsTheColoursApartAndInverts) {
  camera::Frame frame = uniformFrame(100);
  fillRect(frame, 60, 70, 100, 110, 0, 0, 255);  // red: blue, green, red bytes
  fillRect(frame, 80, 90, 10, 20, 255, 0, 0);    // blue
  ASSERT_EQ(deliver({frame}), 1);
  const struct {
    const char* method;
    HostValue colour;
    std::array<std::int32_t, 4> answer;  // top, left, bottom, right; or vertical, horizontal
  } table[] = {
      {"trackcolorbounds", world_->values.colour(255, 0, 0), {120 - 60, 100, 120 - 69, 109}},
      {"trackcolorbounds", world_->values.colour(0, 0, 255), {120 - 80, 10, 120 - 89, 19}},
      {"trackcolor", world_->values.colour(100, 100, 100), {(120 + 1) / 2, (0 + 159) / 2}},
      // Everything not grey: both squares.
      {"tracknotcolor", world_->values.colour(100, 100, 100), {(60 + 31) / 2, (10 + 109) / 2}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.method);
    HostValue result{};
    ASSERT_EQ(call(row.method, {row.colour, number(10)}, &result), kOk);
    const host::Value& answer = valueOf(result);
    if (answer.kind == host::kValueRect) {
      EXPECT_EQ(
          (std::array{answer.rect.top, answer.rect.left, answer.rect.bottom, answer.rect.right}),
          row.answer);
    } else {
      EXPECT_EQ(answer.kind, host::kValuePoint);
      EXPECT_EQ((std::array{answer.point.vertical, answer.point.horizontal, 0, 0}), row.answer);
    }
    release(result);
  }
}

// Kind 0 passes the rect check; what the host makes of it here is no rect, so no area: black.
TEST_F(MemberMethods, BlockMethodsTakeKindZero) {
  for (const char* name : {"block", "camerablock", "retinablock", "differenceblock"}) {
    HostValue result{};
    ASSERT_EQ(call(name, {world_->values.ofKind(0)}, &result), kOk) << name;
    const host::Value& colour = valueOf(result);
    EXPECT_EQ(colour.kind, host::kValueColour) << name;
    EXPECT_EQ((std::array{colour.colour.red, colour.colour.green, colour.colour.blue}),
              (std::array<std::uint8_t, 3>{0, 0, 0}))
        << name;
    release(result);
  }
}

}  // namespace
}  // namespace kinetiscan::scenario
