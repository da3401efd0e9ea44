// Every path of the per-pixel pass against the plain one, and the labels of analysed frames
// against the plain reference labelling, on random and adversarial planes, parameters and masks.
#include "analysis/pixel_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "analysis/frame_analysis.h"
#include "analysis/labelling.h"
#include "analysis/pixel_math.h"
#include "analysis_fixture.h"
#include "reference_labelling.h"

namespace kinetiscan::testing {
namespace {

using Limits = std::numeric_limits<float>;
constexpr float kNaN = Limits::quiet_NaN();
constexpr float kInfinity = Limits::infinity();

class PixelPassTest : public AnalysisTest {
 protected:
  void TearDown() override {
    resetPixelPathForTest();
    AnalysisTest::TearDown();
  }

  // The whole state, byte for byte.
  static std::vector<std::uint8_t> snapshot() {
    std::vector<std::uint8_t> bytes(sizeof(AnalysisState));
    std::memcpy(bytes.data(), &state(), bytes.size());
    return bytes;
  }
  static void restore(const std::vector<std::uint8_t>& bytes) {
    std::memcpy(&state(), bytes.data(), bytes.size());
  }

  // Runs analyseFrame on every path the processor has, each vector path with both methods of
  // adaptation, from the same state, and expects every byte of the result to equal the plain
  // path's. Leaves the plain path's result in the state.
  static void expectPathsAgree(const std::string& what) {
    const std::vector<std::uint8_t> before = snapshot();
    std::vector<std::uint8_t> plain;
    for (PixelPath path : kPixelPaths) {
      if (!forcePath(path)) continue;
      for (AdaptationMethod method : {AdaptationMethod::division, AdaptationMethod::reciprocal}) {
        if (path == PixelPath::plain && method == AdaptationMethod::reciprocal) continue;
        setAdaptationMethodForTest(method);
        restore(before);
        analyseFrame(testFrame());
        if (path == PixelPath::plain) {
          plain = snapshot();
        } else {
          expectSameState(plain, snapshot(),
                          what + " path " + std::to_string(int(path)) + " method " +
                              std::to_string(int(method)));
        }
      }
    }
    restore(plain);
  }

  // Names the first member that differs, so a failure says what broke.
  static void expectSameState(const std::vector<std::uint8_t>& want,
                              const std::vector<std::uint8_t>& got, const std::string& what) {
    struct Member {
      const char* name;
      std::size_t offset;
      std::size_t size;
    };
    const Member members[] = {
        {"cameraPlane", offsetof(AnalysisState, cameraPlane), sizeof(ImagePlane)},
        {"retinaPlane", offsetof(AnalysisState, retinaPlane), sizeof(ImagePlane)},
        {"differencePlane", offsetof(AnalysisState, differencePlane), sizeof(ImagePlane)},
        {"globsPlane", offsetof(AnalysisState, globsPlane), sizeof(ImagePlane)},
        {"labelMap", offsetof(AnalysisState, labelMap), sizeof(LabelMap)},
        {"blobBoxes", offsetof(AnalysisState, blobBoxes), sizeof(state().blobBoxes)},
        {"blobCount", offsetof(AnalysisState, blobCount), sizeof(std::int32_t)},
        {"the rest of the state", offsetof(AnalysisState, labelMap),
         sizeof(AnalysisState) - offsetof(AnalysisState, labelMap)},
    };
    for (const Member& member : members) {
      if (std::memcmp(&want[member.offset], &got[member.offset], member.size) == 0) continue;
      if (member.offset < offsetof(AnalysisState, labelMap) &&
          sameUpToNaNPayloads(want, got, member)) {
        continue;
      }
      std::size_t i = member.offset;
      while (want[i] == got[i]) ++i;
      FAIL() << what << ": " << member.name << " byte " << i - member.offset;
    }
  }

  // Which NaN an operation on two NaNs gives depends on the order of its operands, which the
  // language leaves to the compiler (and which differs between optimisation levels). Planes made
  // from frames never hold a NaN; planes seeded with arbitrary bits may, and any NaN is then
  // as good as another. Every other value must match bit for bit.
  template <class Member>
  static bool sameUpToNaNPayloads(const std::vector<std::uint8_t>& want,
                                  const std::vector<std::uint8_t>& got, const Member& member) {
    for (std::size_t i = member.offset; i < member.offset + member.size; i += sizeof(float)) {
      float a, b;
      std::memcpy(&a, &want[i], sizeof a);
      std::memcpy(&b, &got[i], sizeof b);
      if (std::memcmp(&a, &b, sizeof a) != 0 && !(std::isnan(a) && std::isnan(b))) return false;
    }
    return true;
  }

  // The labels and records in the state against the reference labelling of its mask.
  static void expectReferenceLabels(const std::string& what) {
    const Labelling want = referenceLabelling(state().globsPlane, state().parameters.mindensity);
    ASSERT_EQ(state().blobCount, want.count) << what;
    ASSERT_TRUE(state().labelMap == want.labels) << what;
    for (std::size_t i = 0; i < want.boxes.size(); ++i) {
      const BlobBox& box = state().blobBoxes[i + 1];
      ASSERT_TRUE(std::memcmp(&box, &want.boxes[i], sizeof box) == 0) << what << " label " << i + 1;
    }
  }
};

// Values a plane can hold once a script or a test has spoilt it, besides ordinary ones.
float planeValue(std::mt19937& random, int kind) {
  static constexpr float kSpecial[] = {kNaN,
                                       -kNaN,
                                       kInfinity,
                                       -kInfinity,
                                       0.0f,
                                       -0.0f,
                                       1.0f,
                                       -1.0f,
                                       3.0f,
                                       Limits::max(),
                                       Limits::denorm_min(),
                                       -Limits::denorm_min(),
                                       Limits::min(),
                                       0.5f};
  switch (kind) {
    case 0:  // a plane made from a frame
      return byteToComponent(static_cast<std::uint8_t>(random()));
    case 1:  // any bit pattern: NaNs with payloads, subnormals, huge values
      return std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    case 2:
      return random() % 4 == 0 ? kSpecial[random() % std::size(kSpecial)]
                               : std::uniform_real_distribution<float>(-2.0f, 2.0f)(random);
    default:  // close to a frame value, so sums land near the sensitivity
      return byteToComponent(static_cast<std::uint8_t>(random())) +
             (random() % 2 ? Limits::epsilon() : -Limits::epsilon());
  }
}

TEST_F(PixelPassTest, TheWidestSupportedPathIsTheDefault) {
#if defined(__i386__) || defined(__x86_64__)
  EXPECT_TRUE(pixelPathSupported(PixelPath::sse2));
#endif
  const char* const names[] = {"plain", "sse2", "avx2", "avx512"};
  PixelPath widest = PixelPath::plain;
  std::string compared;
  for (PixelPath path : kPixelPaths) {
    EXPECT_EQ(pixelPathSupported(path), processorHas(path)) << "path " << static_cast<int>(path);
    if (!pixelPathSupported(path)) continue;
    widest = path;
    compared += std::string(" ") + names[static_cast<int>(path)];
  }
  EXPECT_EQ(activePixelPath(), widest);
  for (PixelPath path : kPixelPaths) EXPECT_EQ(setPixelPathForTest(path), pixelPathSupported(path));
  resetPixelPathForTest();
  EXPECT_EQ(activePixelPath(), widest);
  const AdaptationCalibration& calibration = adaptationCalibration();
  EXPECT_EQ(calibration.path, widest);
  EXPECT_EQ(activeAdaptationMethod(), calibration.chosen);
  std::printf(
      "pixel paths compared:%s; adaptation by %s (least ticks: division %llu, reciprocal "
      "%llu)\n",
      compared.c_str(),
      calibration.chosen == AdaptationMethod::reciprocal ? "reciprocal" : "division",
      static_cast<unsigned long long>(calibration.divisionTicks),
      static_cast<unsigned long long>(calibration.reciprocalTicks));
}

// Adaptation steps where a plain multiplication by the reciprocal of the adaptivity would store
// a different float than the division: every path and method must store the division's.
TEST_F(PixelPassTest, AdaptationStoresTheDivisionsFloatWhereTheReciprocalWouldNot) {
  struct Step {
    std::uint32_t adaptivity, camera, retina;
  };
  for (const Step& step :
       {Step{0x447a0009, 0x3e4e0d74, 0x308d0d8a}, Step{0x3f800064, 0x3eb7aea4, 0x302467a4},
        Step{0x447a0003, 0x3ef91709, 0x32976026}, Step{0x447a000b, 0x3e7e64d0, 0x320e8bc9}}) {
    resetAnalysisStateForTest();
    frameMissing() = true;
    const float adaptivity = std::bit_cast<float>(step.adaptivity);
    const double camera = std::bit_cast<float>(step.camera);
    const double retina = std::bit_cast<float>(step.retina);
    const auto divided = static_cast<float>(retina + (camera - retina) / adaptivity);
    ASSERT_NE(divided, static_cast<float>(retina + (camera - retina) * (1.0 / adaptivity)));
    for (auto& row : state().cameraPlane)
      for (auto& pixel : row) pixel.fill(static_cast<float>(camera));
    for (auto& row : state().retinaPlane)
      for (auto& pixel : row) pixel.fill(static_cast<float>(retina));
    state().parameters.adaptivity = adaptivity;
    expectPathsAgree("adaptivity " + std::to_string(adaptivity));
    EXPECT_EQ(state().retinaPlane[119][159][2], divided);
  }
}

#if defined(__i386__) || defined(__x86_64__)
// A host may run with another rounding and with subnormals flushed. Every path and method still
// works the stated arithmetic, which rounds to nearest and keeps subnormals, and the host gets its
// own state back, flags included.
TEST_F(PixelPassTest, EveryPathRoundsToNearestWhateverTheHostSet) {
  std::mt19937 random(5);
  for (auto& row : state().retinaPlane)
    for (auto& pixel : row)
      for (float& value : pixel)
        value = random() % 2 ? planeValue(random, 0)
                             : Limits::denorm_min() * static_cast<float>(random() % 4096);
  for (std::uint8_t& byte : frameBytes()) byte = static_cast<std::uint8_t>(random());
  state().parameters.adaptivity = 7.3890562f;
  const std::vector<std::uint8_t> before = snapshot();
  setPixelPathForTest(PixelPath::plain);
  analyseFrame(testFrame());  // under the default state
  const std::vector<std::uint8_t> want = snapshot();
  const unsigned normal = _mm_getcsr();
  // Rounding down, then toward zero, both with flush-to-zero, denormals-are-zero and a flag up.
  for (unsigned host : {(normal & ~0x6000u) | 0x2000u | 0x8040u | 0x20u, normal | 0xE060u}) {
    for (PixelPath path : kPixelPaths) {
      if (!forcePath(path)) continue;
      for (AdaptationMethod method : {AdaptationMethod::division, AdaptationMethod::reciprocal}) {
        setAdaptationMethodForTest(method);
        restore(before);
        _mm_setcsr(host);
        analyseFrame(testFrame());
        const unsigned after = _mm_getcsr();
        _mm_setcsr(normal);
        const std::string what =
            "path " + std::to_string(int(path)) + " method " + std::to_string(int(method));
        EXPECT_EQ(after, host) << what;
        expectSameState(want, snapshot(), what);
      }
    }
  }
}
#endif

TEST_F(PixelPassTest, EveryPathMatchesThePlainPassOnRandomPlanesAndParameters) {
  const float adaptivities[] = {1000.0f,
                                1.0f,
                                3.0f,
                                std::nextafter(1.0f, 2.0f),
                                std::nextafter(1.0f, 0.0f),
                                0.5f,
                                0.0f,
                                -0.0f,
                                -1.0f,
                                kNaN,
                                kInfinity,
                                -kInfinity,
                                1e30f,
                                Limits::max(),
                                Limits::denorm_min(),
                                7.5f,
                                2.0f};
  const float sensitivities[] = {0.5f,       0.0f,          -0.0f,         -1e-30f, 1e-7f,
                                 0.05f,      3.0f,          2.9999998f,    kNaN,    kInfinity,
                                 -kInfinity, Limits::max(), -Limits::max()};
  const std::int32_t mindensities[] = {100,
                                       1,
                                       0,
                                       -1,
                                       std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max(),
                                       19200,
                                       3};
  std::mt19937 random(99);
  for (int round = 0; round < 68; ++round) {
    resetAnalysisStateForTest();
    const int kind = round % 4;
    for (ImagePlane* plane : {&state().cameraPlane, &state().retinaPlane})
      for (auto& row : *plane)
        for (auto& pixel : row)
          for (float& component : pixel) component = planeValue(random, kind);
    state().parameters = {adaptivities[round % std::size(adaptivities)],
                          sensitivities[round % std::size(sensitivities)],
                          mindensities[round % std::size(mindensities)]};
    // Whole and long frames are converted inside the pass; short and missing ones reach it
    // through the camera plane.
    switch (round % 5) {
      case 0:
      case 1:
        frameBytes().resize(kFrameBytes);
        break;
      case 2:
        frameBytes().resize(kFrameBytes + 7);
        break;
      case 3:
        frameBytes().resize(kFrameBytes - 1 - random() % kFrameBytes);
        break;
      case 4:
        frameMissing() = true;
        break;
    }
    for (std::uint8_t& byte : frameBytes()) byte = static_cast<std::uint8_t>(random());
    // Every third round puts the sensitivity exactly on the single-precision sum of a pixel's
    // differences, where the vector paths must work the sum out the stated way.
    if (round % 3 == 0) {
      const std::size_t p = random() % kPixels;
      float sum = 0.0f;
      for (int k = 2; k >= 0; --k) {
        const std::size_t index = p * kComponents + k;
        float camera = (&state().cameraPlane[0][0][0])[index];
        if (round % 5 != 4) {
          camera = index < frameBytes().size() ? byteToComponent(frameBytes()[index]) : 0.0f;
        }
        sum += std::fabs((&state().retinaPlane[0][0][0])[index] - camera);
      }
      state().parameters.sensitivity = sum;
    }

    const std::string what = "round " + std::to_string(round);
    expectPathsAgree(what);
    expectReferenceLabels(what);
    frameMissing() = false;
  }
}

// Masks chosen to stress the labelling, produced through the pass: lit pixels against a black
// retina move, dark ones do not.
using Mask = bool (*)(int row, int column);

bool spiral(int row, int column) {
  static const std::vector<bool> lit = [] {
    std::vector<bool> cells(kPixels, false);
    const auto inside = [](int r, int c) { return r >= 0 && r < kRows && c >= 0 && c < kColumns; };
    const auto at = [&](int r, int c) { return inside(r, c) && cells[r * kColumns + c]; };
    int r = 0, c = 0, dr = 0, dc = 1;
    cells[0] = true;
    for (bool moved = true; moved;) {
      moved = false;
      for (int turn = 0; turn < 2 && !moved; ++turn) {
        // Leave one still pixel between the arms so they stay apart.
        if (inside(r + dr, c + dc) && !at(r + dr, c + dc) && !at(r + 2 * dr, c + 2 * dc)) {
          r += dr, c += dc;
          cells[r * kColumns + c] = moved = true;
        } else {
          const int oldRow = dr;
          dr = dc, dc = -oldRow;
        }
      }
    }
    return cells;
  }();
  return lit[row * kColumns + column];
}

bool dot(int row, int column) { return row % 2 == 0 && column % 2 == 0; }

const struct {
  const char* name;
  Mask lit;
} kMasks[] = {
    {"empty", [](int, int) { return false; }},
    {"full", [](int, int) { return true; }},
    {"chessboard", [](int r, int c) { return (r + c) % 2 == 0; }},
    {"rows", [](int r, int) { return r % 2 == 1; }},
    {"columns", [](int, int c) { return c % 2 == 0; }},
    {"diagonals", [](int r, int c) { return (r + c) % 4 == 0; }},
    {"antidiagonals", [](int r, int c) { return (r - c + 400) % 3 == 0; }},
    {"comb", [](int r, int c) { return c % 2 == 0 || r == kRows - 1; }},
    {"rings",
     [](int r, int c) {
       return std::min(std::min(r, kRows - 1 - r), std::min(c, kColumns - 1 - c)) % 2 == 0;
     }},
    {"spiral", &spiral},
    {"corners",
     [](int r, int c) { return (r == 0 || r == kRows - 1) && (c == 0 || c == kColumns - 1); }},
    {"regions1022", [](int r, int c) { return dot(r, c) && (r / 2) * 80 + c / 2 < 1022; }},
    {"regions1023", [](int r, int c) { return dot(r, c) && (r / 2) * 80 + c / 2 < 1023; }},
    {"regions4800", &dot},
};

TEST_F(PixelPassTest, AdversarialMasksLabelAsTheReferenceOnEveryPath) {
  for (const auto& mask : kMasks) {
    for (std::int32_t mindensity : {100, 1, 2, 160}) {
      resetAnalysisStateForTest();
      for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column)
          if (mask.lit(row, column)) setFramePixel(row, column, 255, 255, 255);
      state().parameters.mindensity = mindensity;
      state().blobBoxes.fill({5, 6, 7, 8});  // records beyond the labels must stay as they were
      const std::string what = std::string(mask.name) + " " + std::to_string(mindensity);
      expectPathsAgree(what);
      expectReferenceLabels(what);
    }
  }
}

}  // namespace
}  // namespace kinetiscan::testing
