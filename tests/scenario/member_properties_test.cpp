// Cast member properties read after frames of known content, and their set paths.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "member_fixture.h"

namespace kinetiscan::scenario {
namespace {

// The byte a plane component of the difference between two frame bytes becomes.
std::uint8_t differenceByte(std::uint8_t a, std::uint8_t b) {
  const float scale = std::bit_cast<float>(0x3B808081u);
  const float d = std::fabs(static_cast<float>(a) * scale - static_cast<float>(b) * scale);
  return static_cast<std::uint8_t>(static_cast<int>(static_cast<double>(d) * 255.0));
}

class MemberProperties : public MemberWithSquare {
 protected:
  double number(const char* name) {
    HostValue out{};
    EXPECT_EQ(get(name, &out), kOk);
    EXPECT_EQ(valueOf(out).kind, host::kValueFloat) << name;
    const double value = valueOf(out).real;
    release(out);
    return value;
  }
  const camera::Frame square_ = squareFrame();
};

TEST_F(MemberProperties, RegionListsUseScriptCoordinates) {
  HostValue points{};
  ASSERT_EQ(get("LocList", &points), kOk);
  ASSERT_EQ(valueOf(points).items.size(), 1u);
  const host::Value& point = valueOf(points).items[0];
  EXPECT_EQ(point.kind, host::kValuePoint);
  EXPECT_EQ(point.point.vertical, 120 - ((29 + 10) >> 1));
  EXPECT_EQ(point.point.horizontal, (49 + 30) >> 1);
  release(points);

  HostValue rects{};
  ASSERT_EQ(get("boundingboxlist", &rects), kOk);
  ASSERT_EQ(valueOf(rects).items.size(), 1u);
  const HostRect& rect = valueOf(rects).items[0].rect;
  EXPECT_EQ(rect.top, 120 - 29);
  EXPECT_EQ(rect.left, 49) << "left holds the largest column";
  EXPECT_EQ(rect.bottom, 120 - 10);
  EXPECT_EQ(rect.right, 30);
  release(rects);

  // A region below mindensity drops out of both lists.
  EXPECT_EQ(set("mindensity", world_->values.integer(401)), kOk);
  ASSERT_EQ(deliver({square_}), 1);
  ASSERT_EQ(get("loclist", &points), kOk);
  EXPECT_TRUE(valueOf(points).items.empty());
  release(points);
}

TEST_F(MemberProperties, TooManyRegionsGiveEmptyListsNotAnEarlierFramesRegions) {
  // Isolated moving pixels on every other row and column: 4800 regions, more than the records
  // can hold, so the frame has none and the lists must not show the square of the frame before.
  camera::Frame dots = uniformFrame(100);
  for (int row = 0; row < 120; row += 2) {
    for (int column = 0; column < 160; column += 2)
      fillRect(dots, row, row + 1, column, column + 1, 0, 0, 0);
  }
  ASSERT_EQ(deliver({dots}), 1);
  for (const char* name : {"loclist", "boundingboxlist"}) {
    HostValue list{};
    ASSERT_EQ(get(name, &list), kOk);
    EXPECT_EQ(valueOf(list).kind, host::kValueList);
    EXPECT_TRUE(valueOf(list).items.empty()) << name;
    release(list);
  }
}

TEST_F(MemberProperties, ImagesAreFilledByteForByte) {
  world_->values.newImageFill = 0xA5;
  HostValue image{};
  for (const char* name : {"image", "cameraimage"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(get(name, &image), kOk);
    const auto& camera = *valueOf(image).image;
    EXPECT_EQ(camera.width, 160);
    EXPECT_EQ(camera.height, 120);
    EXPECT_EQ(camera.depth, 24);
    ASSERT_EQ(camera.pixels.size(), 76800u);
    for (int p = 0; p < 19200; ++p) {
      ASSERT_EQ(0, std::memcmp(&camera.pixels[4 * p], &square_[3 * p], 3)) << "pixel " << p;
      ASSERT_EQ(camera.pixels[4 * p + 3], 0xA5) << "byte 3 stays as the host made it, pixel " << p;
    }
    release(image);
  }

  ASSERT_EQ(get("globsimage", &image), kOk);
  const auto& globs = *valueOf(image).image;
  const std::uint8_t* inside = &globs.pixels[4 * (20 * 160 + 40)];
  const std::uint8_t* outside = &globs.pixels[4 * (60 * 160 + 100)];
  EXPECT_EQ(inside[0], 255);
  EXPECT_EQ(inside[2], 255);
  EXPECT_EQ(outside[1], 0);
  release(image);

  ASSERT_EQ(get("differenceimage", &image), kOk);
  const auto& difference = *valueOf(image).image;
  EXPECT_EQ(difference.pixels[4 * (20 * 160 + 40)], differenceByte(100, 255));
  EXPECT_EQ(difference.pixels[4 * (60 * 160 + 100)], 0);
  release(image);

  ASSERT_EQ(get("retinaimage", &image), kOk);
  EXPECT_EQ(valueOf(image).image->pixels[4 * (60 * 160 + 100) + 1], 100);
  release(image);

  // The planes' images are written a row at a time; byte 3 stays as the host made it there too.
  for (const char* name : {"retinaimage", "differenceimage", "globsimage"}) {
    ASSERT_EQ(get(name, &image), kOk);
    const auto& pixels = valueOf(image).image->pixels;
    int kept = 0;
    for (int p = 0; p < 19200; ++p) kept += pixels[4 * p + 3] == 0xA5;
    EXPECT_EQ(kept, 19200) << name;
    release(image);
  }
}

TEST_F(MemberProperties, ParametersReadAsFloatsAndSetFromNumbers) {
  EXPECT_EQ(number("adaptivity"), 1000.0);
  EXPECT_EQ(number("SENSITIVITY"), 0.5);
  EXPECT_EQ(number("minDensity"), 100.0) << "an integer read as a float";

  EXPECT_EQ(set("sensitivity", world_->values.integer(1)), kOk);
  EXPECT_EQ(number("sensitivity"), 1.0);
  EXPECT_EQ(set("adaptivity", world_->values.real(0.1)), kOk);
  EXPECT_EQ(number("adaptivity"), static_cast<double>(0.1f)) << "stored in single precision";
  EXPECT_EQ(set("mindensity", world_->values.real(2.7)), kOk);
  EXPECT_EQ(number("mindensity"), 2.0) << "the host's integer conversion";
  EXPECT_EQ(set("adaptivity", world_->values.real(1e300)), kOk);
  EXPECT_TRUE(std::isinf(number("adaptivity")));

  EXPECT_EQ(set("adaptivity", world_->values.string("fast")), kWrongValueKind);
  EXPECT_EQ(set("sensitivity", world_->values.ofKind(9)), kWrongValueKind);
  EXPECT_TRUE(std::isinf(number("adaptivity"))) << "unchanged by a refused set";
}

TEST_F(MemberProperties, ReadOnlyAndUnknownNames) {
  for (const char* name : {"loclist", "image", "cameraimage", "retinaimage", "differenceimage",
                           "boundingboxlist", "version"}) {
    EXPECT_EQ(set(name, world_->values.integer(1)), kPropertyReadOnly) << name;
  }
  EXPECT_EQ(set("globsimage", world_->values.integer(1)), kUnknownProperty);
  EXPECT_EQ(set("speed", world_->values.integer(1)), kUnknownProperty);
  HostValue out{99, 99};
  EXPECT_EQ(get("speed", &out), kUnknownProperty);
  EXPECT_EQ(out.words[0], 99u) << "nothing written";

  ASSERT_EQ(get("Version", &out), kOk);
  EXPECT_EQ(valueOf(out).text, "BETA 1.0");
  release(out);
}

// Record order, not position or size, orders the lists; a region below mindensity between two
// kept ones leaves a gap in neither.
TEST_F(MemberProperties, SeveralRegionsListedInRecordOrder) {
  camera::Frame frame = uniformFrame(100);
  fillRect(frame, 10, 30, 100, 120, 255, 255, 255);  // record 1: lowest rows, right-hand side
  fillRect(frame, 40, 45, 60, 65, 255, 255, 255);    // record 2: 25 pixels, dropped
  fillRect(frame, 60, 80, 5, 25, 255, 255, 255);     // record 3: left-hand side
  ASSERT_EQ(deliver({frame}), 1);

  HostValue points{};
  ASSERT_EQ(get("loclist", &points), kOk);
  ASSERT_EQ(valueOf(points).items.size(), 2u);
  EXPECT_EQ(valueOf(points).items[0].point.vertical, 120 - ((29 + 10) >> 1));
  EXPECT_EQ(valueOf(points).items[0].point.horizontal, (119 + 100) >> 1);
  EXPECT_EQ(valueOf(points).items[1].point.vertical, 120 - ((79 + 60) >> 1));
  EXPECT_EQ(valueOf(points).items[1].point.horizontal, (24 + 5) >> 1);
  release(points);

  HostValue rects{};
  ASSERT_EQ(get("boundingboxlist", &rects), kOk);
  ASSERT_EQ(valueOf(rects).items.size(), 2u);
  const HostRect first = valueOf(rects).items[0].rect;
  const HostRect second = valueOf(rects).items[1].rect;
  EXPECT_EQ((std::array{first.top, first.left, first.bottom, first.right}),
            (std::array{120 - 29, 119, 120 - 10, 100}));
  EXPECT_EQ((std::array{second.top, second.left, second.bottom, second.right}),
            (std::array{120 - 79, 24, 120 - 60, 5}));
  release(rects);
}

// The lock is ended for every image, also when it gave nothing to write into; then the image is
// handed back as the host made it.
TEST_F(MemberProperties, EveryImageIsUnlockedWithOrWithoutPixels) {
  world_->values.newImageFill = 0x3C;
  for (const bool lockFails : {false, true}) {
    world_->values.imageLog.failures[18] = lockFails ? host::kHostFailure : kOk;
    for (const char* name :
         {"image", "cameraimage", "retinaimage", "differenceimage", "globsimage"}) {
      SCOPED_TRACE(std::string(name) + (lockFails ? ", lock refused" : ""));
      const int unlocks = world_->values.imageLog.calls[19];
      HostValue image{};
      ASSERT_EQ(get(name, &image), kOk);
      EXPECT_EQ(world_->values.imageLog.calls[19], unlocks + 1);
      const host::Image& pixels = *valueOf(image).image;
      EXPECT_EQ(pixels.locks, 0);
      if (lockFails) {
        EXPECT_EQ(std::count(pixels.pixels.begin(), pixels.pixels.end(), 0x3C), 76800);
      }
      release(image);
    }
  }
}

// Kind 0, accepted wherever a number is expected, is converted by the host like any number.
TEST_F(MemberProperties, ParametersTakeValuesOfKindZero) {
  for (const char* name : {"adaptivity", "sensitivity", "mindensity"}) {
    host::Value seven;
    seven.kind = host::kValueVoid;
    seven.integer = 7;
    EXPECT_EQ(set(name, world_->values.make(seven)), kOk) << name;
    EXPECT_EQ(number(name), 7.0) << name;
  }
}

// Single precision as the hardware rounds to nearest: just above the largest float, up to half a
// unit of it (2^103), is still the largest float; the tie and beyond are infinity.
TEST_F(MemberProperties, ParametersRoundBeyondTheLargestFloatAsTheHardwareDoes) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  constexpr double kTie = kLargest + 0x1p103;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const struct {
    double given;
    float stored;
  } table[] = {
      {kLargest, std::numeric_limits<float>::max()},
      {std::nextafter(kLargest, 1e300), std::numeric_limits<float>::max()},
      {std::nextafter(kTie, 0.0), std::numeric_limits<float>::max()},
      {kTie, kInfinity},
      {0x1p128, kInfinity},
      {1e300, kInfinity},
      {std::numeric_limits<double>::infinity(), kInfinity},
      {0.1, 0.1f},
  };
  for (const char* name : {"adaptivity", "sensitivity"}) {
    for (const auto& row : table) {
      for (const double sign : {1.0, -1.0}) {
        SCOPED_TRACE(::testing::Message() << name << " " << sign * row.given);
        EXPECT_EQ(set(name, world_->values.real(sign * row.given)), kOk);
        EXPECT_EQ(number(name), static_cast<double>(static_cast<float>(sign) * row.stored));
      }
    }
    EXPECT_EQ(set(name, world_->values.real(std::nan(""))), kOk);
    EXPECT_TRUE(std::isnan(number(name))) << name;
  }
}

// Before the first frame there is nothing to copy: the images come back as the host made them.
using MemberBeforeFrames = MemberScenario;
TEST_F(MemberBeforeFrames, FrameImagesKeepTheHostsPixels) {
  member_ = createMember();
  ASSERT_NE(member_, nullptr);
  world_->values.newImageFill = 0x5A;
  for (const char* name : {"image", "cameraimage"}) {
    HostValue image{};
    ASSERT_EQ(get(name, &image), kOk) << name;
    const auto& pixels = valueOf(image).image->pixels;
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x5A), 76800) << name;
    release(image);
  }
}

}  // namespace
}  // namespace kinetiscan::scenario
