// Conversion, difference, threshold and adaptation, and the order of the steps of one frame.
#include "analysis/frame_analysis.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "analysis/pixel_math.h"
#include "analysis_fixture.h"

namespace kinetiscan::testing {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

using FrameAnalysisTest = AnalysisTest;

TEST_F(FrameAnalysisTest, EveryByteSurvivesTheRoundTripThroughAPlane) {
  for (std::size_t i = 0; i < frameBytes().size(); ++i) frameBytes()[i] = i % 256;
  loadPlaneFromFrame(state().cameraPlane, testFrame());
  for (int b = 0; b < 256; ++b) {
    const float component = state().cameraPlane[0][b / 3][b % 3];
    EXPECT_EQ(component, static_cast<float>(b) * kByteScale);
    EXPECT_EQ(componentToByte(component), b);
  }
  EXPECT_EQ(byteToComponent(255), 1.0f);
  EXPECT_EQ(byteToComponent(128), 0.501960813999176f);
}

TEST_F(FrameAnalysisTest, ByteOfAnyComponentIsDefined) {
  EXPECT_EQ(componentToByte(kNaN), 0);
  EXPECT_EQ(componentToByte(kInfinity), 0);
  EXPECT_EQ(componentToByte(-kInfinity), 0);
  EXPECT_EQ(componentToByte(-kByteScale), 255);  // -1.00000006 truncates to -1
  EXPECT_EQ(componentToByte(2.0f), 254);         // 510 keeps its low byte
  EXPECT_EQ(componentToByte(0.999f), 254);
  // Beyond 32 bits the low byte is still exact: 8421505 * 255 = 2^31 + 127.
  EXPECT_EQ(componentToByte(8421505.0f), 127);
  EXPECT_EQ(componentToByte(-8421505.0f), 129);
  EXPECT_EQ(componentToByte(std::numeric_limits<float>::max()), 0);
}

TEST_F(FrameAnalysisTest, ShortLongAndMissingFrames) {
  for (auto& row : state().cameraPlane)
    for (auto& pixel : row) pixel = {0.25f, 0.25f, 0.25f};

  // Missing: no frame, zero count, null bytes. The plane keeps its contents.
  static std::uint8_t oneByte = 7;
  for (FrameView frame : {FrameView{}, FrameView{&oneByte, 0}, FrameView{nullptr, 5}}) {
    resetBackground(frame);
    EXPECT_EQ(state().cameraPlane[119][159][2], 0.25f);
    EXPECT_EQ(state().retinaPlane[0][0][0], 0.0f);
  }

  // Short: components without bytes become 0.0.
  frameBytes().assign(4, 255);
  loadPlaneFromFrame(state().cameraPlane, testFrame());
  EXPECT_EQ(state().cameraPlane[0][0][2], 1.0f);
  EXPECT_EQ(state().cameraPlane[0][1][0], 1.0f);
  EXPECT_EQ(state().cameraPlane[0][1][1], 0.0f);
  EXPECT_EQ(state().cameraPlane[119][159][2], 0.0f);

  // Long: only the first kFrameBytes bytes count.
  frameBytes().assign(kFrameBytes + 3, 51);
  frameBytes()[kFrameBytes - 1] = 255;
  loadPlaneFromFrame(state().cameraPlane, testFrame());
  EXPECT_EQ(state().cameraPlane[119][159][2], 1.0f);
  EXPECT_EQ(state().cameraPlane[60][80][0], byteToComponent(51));
}

TEST_F(FrameAnalysisTest, ThresholdIsStrictAndWorkedInTheStatedPrecisions) {
  state().parameters.adaptivity = 0.0f;
  const auto moving = [&](std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, float sensitivity) {
    state().parameters.sensitivity = sensitivity;
    setFramePixel(0, 0, b0, b1, b2);
    analyseFrame(testFrame());
    const auto& mask = state().globsPlane[0][0];
    EXPECT_EQ(mask[0], mask[1]);
    EXPECT_EQ(mask[0], mask[2]);
    return mask[0] == 1.0f;
  };

  // Without a blue difference the sum is a float: equal to the sensitivity does not move.
  const float sum = byteToComponent(90) + byteToComponent(40);
  EXPECT_FALSE(moving(0, 40, 90, sum));
  EXPECT_TRUE(moving(0, 40, 90, std::nextafter(sum, 0.0f)));
  // The final addition is in double: a sum in single would round to the sensitivity here.
  EXPECT_TRUE(moving(1, 1, 2, std::bit_cast<float>(0x3C808081u)));
  // The first addition is in single: a sum in double would exceed the sensitivity here.
  EXPECT_FALSE(moving(1, 96, 159, std::bit_cast<float>(0x3F808081u)));

  EXPECT_TRUE(moving(0, 0, 0, -0.001f));      // no difference at all still moves
  EXPECT_FALSE(moving(255, 255, 255, 3.0f));  // the largest sum is exactly 3
  EXPECT_FALSE(moving(255, 255, 255, kNaN));
}

TEST_F(FrameAnalysisTest, AdaptivityOneFollowsTheCameraAndBelowOneFreezes) {
  for (std::size_t i = 0; i < frameBytes().size(); ++i) frameBytes()[i] = (i * 7) % 256;

  state().parameters.adaptivity = 1.0f;
  analyseFrame(testFrame());
  EXPECT_EQ(std::memcmp(&state().retinaPlane, &state().cameraPlane, sizeof(ImagePlane)), 0);

  for (float adaptivity : {0.999f, 0.5f, 0.0f, -1.0f, -kInfinity, kNaN, kInfinity}) {
    resetAnalysisStateForTest();
    state().parameters.adaptivity = adaptivity;
    analyseFrame(testFrame());
    EXPECT_EQ(state().retinaPlane[0][1][0], 0.0f) << adaptivity;
    EXPECT_EQ(state().retinaPlane[119][159][2], 0.0f) << adaptivity;
  }

  // The step is worked in double and stored in single.
  resetAnalysisStateForTest();
  frameBytes().assign(kFrameBytes, 255);
  state().parameters.adaptivity = 3.0f;
  analyseFrame(testFrame());
  EXPECT_EQ(state().retinaPlane[5][5][1], static_cast<float>(1.0 / 3.0));
  analyseFrame(testFrame());
  const double first = static_cast<float>(1.0 / 3.0);
  EXPECT_EQ(state().retinaPlane[5][5][1], static_cast<float>(first + (1.0 - first) / 3.0));
}

TEST_F(FrameAnalysisTest, FrameAfterResetIsComparedWithTheResetFrame) {
  setFramePixel(10, 20, 200, 100, 50);
  state().blobCount = 9;
  const std::uint64_t generation = state().frameGeneration;
  state().differencePlane[3][3][1] = 0.5f;
  resetBackground(testFrame());
  EXPECT_EQ(state().retinaPlane[10][20][0], byteToComponent(200));
  EXPECT_EQ(state().cameraPlane[10][20][2], byteToComponent(50));
  // A reset touches only the camera and the retina.
  EXPECT_EQ(state().blobCount, 9);
  EXPECT_EQ(state().differencePlane[3][3][1], 0.5f);
  EXPECT_EQ(state().frameGeneration, generation);

  setFramePixel(10, 20, 60, 100, 120);
  analyseFrame(testFrame());
  const auto& difference = state().differencePlane[10][20];
  EXPECT_EQ(difference[0], byteToComponent(200) - byteToComponent(60));
  EXPECT_EQ(difference[1], 0.0f);
  EXPECT_EQ(difference[2], byteToComponent(120) - byteToComponent(50));
  EXPECT_EQ(state().globsPlane[10][20][0], 1.0f);
  EXPECT_EQ(state().differencePlane[3][3][1], 0.0f);
  EXPECT_EQ(state().frameGeneration, generation + 1) << "every view of the planes is out of date";
}

TEST_F(FrameAnalysisTest, WithoutAFrameTheAnalysisRunsOnThePlanesAsTheyStand) {
  state().cameraPlane[7][8] = {1.0f, 1.0f, 1.0f};
  state().parameters.adaptivity = 1.0f;
  state().parameters.mindensity = 1;
  state().labelMap[5] = 42;
  const std::uint64_t generation = state().frameGeneration;
  analyseFrame(FrameView{});
  EXPECT_EQ(state().cameraPlane[7][8][0], 1.0f);
  EXPECT_EQ(state().differencePlane[7][8][0], 1.0f);
  EXPECT_EQ(state().globsPlane[7][8][0], 1.0f);
  EXPECT_EQ(state().retinaPlane[7][8][0], 1.0f);
  EXPECT_EQ(state().labelMap[5], 0);
  EXPECT_EQ(state().labelMap[7 * kColumns + 8], 1);
  EXPECT_EQ(state().blobCount, 2);
  EXPECT_EQ(state().frameGeneration, generation + 1);
}

// The analysis reads the frame it is given and nothing else: what the cast member passes after its
// scan closed capture (no frame) or reset the background (the frame just taken as background).
TEST_F(FrameAnalysisTest, TheFrameGivenIsTheFrameAnalysed) {
  frameBytes().assign(kFrameBytes, 255);
  analyseFrame(FrameView{});
  EXPECT_EQ(state().cameraPlane[0][0][0], 0.0f);

  resetBackground(testFrame());
  analyseFrame(testFrame());
  EXPECT_EQ(state().cameraPlane[0][0][0], 1.0f);
  EXPECT_EQ(state().differencePlane[0][0][0], 0.0f);
  EXPECT_EQ(state().globsPlane[0][0][0], 0.0f);
  EXPECT_EQ(state().blobCount, 1);
}

std::uint64_t fnv1a(std::uint64_t hash, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
  return hash;
}

// Pins every plane bit for bit after a sequence of frames; the same value is expected from the
// native and the i686 build.
TEST_F(FrameAnalysisTest, FrameSequenceGivesTheSameBitsOnEveryTarget) {
  std::uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(seed >> 24);
  };
  for (std::uint8_t& byte : frameBytes()) byte = next();
  resetBackground(testFrame());
  const float adaptivities[] = {1000.0f, 3.0f, 1.0f, 7.5f, 0.5f, 1000.0f};
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (float adaptivity : adaptivities) {
    // A drifting scene with noise and a few bright moving squares.
    for (int row = 0; row < kRows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        for (int k = 0; k < kComponents; ++k) {
          std::uint8_t& byte = frameBytes()[(row * kColumns + column) * kComponents + k];
          byte = static_cast<std::uint8_t>(byte + (next() % 9) - 4);
        }
      }
    }
    for (int square = 0; square < 3; ++square) {
      const int top = next() % 100;
      const int left = next() % 140;
      for (int row = top; row < top + 12; ++row)
        for (int column = left; column < left + 15; ++column)
          setFramePixel(row, column, 250, 240, 230);
    }
    state().parameters.adaptivity = adaptivity;
    state().parameters.sensitivity = 0.05f;
    state().parameters.mindensity = 20;
    analyseFrame(testFrame());
    hash = fnv1a(hash, &state().cameraPlane, sizeof(ImagePlane));
    hash = fnv1a(hash, &state().retinaPlane, sizeof(ImagePlane));
    hash = fnv1a(hash, &state().differencePlane, sizeof(ImagePlane));
    hash = fnv1a(hash, &state().globsPlane, sizeof(ImagePlane));
    hash = fnv1a(hash, &state().labelMap, sizeof(LabelMap));
    hash = fnv1a(hash, &state().blobCount, sizeof state().blobCount);
  }
  EXPECT_EQ(hash, 3407989282349401568u);
}

}  // namespace
}  // namespace kinetiscan::testing
