// The retina adaptation worked with the reciprocal of the adaptivity against the division, bit
// for bit: on single-precision rounding midpoints, where only the fallback can be right, and on
// random triples (10^6 here; KINETISCAN_LONG_CHECK=1 takes 10^8).
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"
#include "analysis_fixture.h"

namespace kinetiscan::testing {
namespace {

using Limits = std::numeric_limits<float>;
constexpr int kCount = kPixels * kComponents;

// The vector paths' tables this processor can run; a path it has that the library does not offer
// fails.
std::vector<const PixelKernels*> vectorKernels() {
  std::vector<const PixelKernels*> tables;
#if defined(__i386__) || defined(__x86_64__)
  for (const PixelKernels* table : {&kSse2Kernels, &kAvx2Kernels, &kAvx512Kernels}) {
    const bool has = processorHas(table->path);
    EXPECT_EQ(pixelPathSupported(table->path), has) << "path " << static_cast<int>(table->path);
    if (has) tables.push_back(table);
  }
#endif
  return tables;
}

// Planes for one pass over given camera and retina components; the camera is used as it is.
class Planes {
 public:
  Planes() : camera(kCount), retina(kCount), difference_(kCount), globs_(kCount) {}

  // The retina after one pass of `run` with the adaptivity, from the retina as it is.
  std::vector<float> adapted(void (*run)(const PixelPass&), float adaptivity, bool byReciprocal) {
    std::vector<float> result = retina;
    run(PixelPass{.frame = nullptr,
                  .camera = camera.data(),
                  .retina = result.data(),
                  .difference = difference_.data(),
                  .globs = globs_.data(),
                  .motion = motion_.data(),
                  .sensitivity = 0.5f,
                  .adaptivity = adaptivity,
                  .adapts = true,
                  .byReciprocal = byReciprocal});
    return result;
  }

  std::vector<float> camera;
  std::vector<float> retina;

 private:
  std::vector<float> difference_;
  std::vector<float> globs_;
  std::array<std::uint32_t, kPixels / 32> motion_{};
};

// Every vector path the processor has, adapting with the reciprocal, against the plain division;
// returns the number of components compared.
std::int64_t expectReciprocalMatchesDivision(Planes& planes, float adaptivity,
                                             const std::string& what) {
  const std::vector<float> want = planes.adapted(kPlainKernels.pixelPass, adaptivity, false);
  std::int64_t compared = 0;
  static const std::vector<const PixelKernels*> tables = vectorKernels();
  for (const PixelKernels* path : tables) {
    const std::vector<float> got = planes.adapted(path->pixelPass, adaptivity, true);
    for (int i = 0; i < kCount; ++i) {
      if (std::bit_cast<std::uint32_t>(got[i]) == std::bit_cast<std::uint32_t>(want[i])) continue;
      ADD_FAILURE() << what << " path " << int(path->path) << ": retina " << std::hexfloat
                    << planes.retina[i] << " camera " << planes.camera[i] << " adaptivity "
                    << adaptivity << " gives " << got[i] << ", not " << want[i];
      return compared;
    }
    compared += kCount;
  }
  return compared;
}

// Where the stated sum is exactly halfway between two floats, a sum worked with the reciprocal
// may land a unit beside it, and then rounds to the wrong neighbour; only the fallback to the
// division stores the right float. For a midpoint M and an adaptivity a, the camera c is the
// float below a * M, and the retina r, (a * M - c) / (a - 1) rounded to a float, is kept when
// it is small enough for its units to reach M's last unit and r + (c - r) / a is exactly M
// (about one draw in 150).
TEST(AdaptationTest, SingleRoundingMidpointsTakeTheDivisionsFloat) {
  std::mt19937 random(16);
  int naiveWrong = 0;
  // Full mantissas, so that a * M falls anywhere between two floats.
  for (const float adaptivity : {2.7182817f, 7.3890562f, 999.8765f, 1.4142135f, 1.0625001f}) {
    Planes planes;
    const double a = adaptivity;
    const double reciprocal = 1.0 / a;
    constexpr int kMade = kCount / 32;  // the rest of the planes repeat them
    for (int i = 0; i < kMade; ++i) {
      double retina = 0.0;
      double camera = 0.0;
      double midpoint = 0.0;
      do {
        const int exponent = -1 - static_cast<int>(random() % 8);
        const float below =
            std::ldexp(1.0f + static_cast<float>(random() % (1u << 23)) * 0x1p-23f, exponent);
        midpoint = below + std::ldexp(1.0, exponent - 24);
        const double scaled = a * midpoint;  // exact: 24 bits times 25 bits
        auto nearest = static_cast<float>(scaled);
        if (nearest > scaled) nearest = std::nextafter(nearest, 0.0f);
        camera = nearest;
        retina = static_cast<float>((scaled - camera) / (a - 1.0));
      } while (retina > midpoint * 0x1p-30 || retina + (camera - retina) / a != midpoint);
      planes.retina[i] = static_cast<float>(retina);
      planes.camera[i] = static_cast<float>(camera);
      naiveWrong += static_cast<float>(midpoint) !=
                    static_cast<float>(retina + (camera - retina) * reciprocal);
    }
    for (int i = kMade; i < kCount; ++i) {
      planes.retina[i] = planes.retina[i % kMade];
      planes.camera[i] = planes.camera[i % kMade];
    }
    expectReciprocalMatchesDivision(planes, adaptivity, "midpoints");
  }
  // The inputs do catch a reciprocal without the check out.
  EXPECT_GT(naiveWrong, 100);
}

// An adaptivity of at least 1, from every range where the bound matters.
float randomAdaptivity(std::mt19937& random) {
  switch (random() % 8) {
    case 0:  // just above 1: the update nearly cancels the retina
      return std::bit_cast<float>(static_cast<std::uint32_t>(0x3f800000u + random() % 64));
    case 1:
      return 1000.0f + static_cast<float>(random() % 64) * 0x1p-13f;
    case 2:
      return random() % 2 ? Limits::infinity() : Limits::max();
    case 3:  // any float of at least 1
      return std::bit_cast<float>(
          static_cast<std::uint32_t>(0x3f800000u + random() % (0x7f800000u - 0x3f800000u)));
    case 4:
      return std::ldexp(1.0f, static_cast<int>(random() % 127));
    default:
      return std::uniform_real_distribution<float>(1.0f, 4096.0f)(random);
  }
}

// A retina or camera component: frame values, any float of 0 .. 1 (subnormals after long decays
// included), and values near those.
float randomComponent(std::mt19937& random) {
  switch (random() % 4) {
    case 0:
      return byteToComponent(static_cast<std::uint8_t>(random()));
    case 1:
      return std::bit_cast<float>(static_cast<std::uint32_t>(random() % 0x3f800001u));
    case 2:
      return std::bit_cast<float>(static_cast<std::uint32_t>(random() % 0x00800000u));
    default:
      return std::nextafter(byteToComponent(static_cast<std::uint8_t>(random())),
                            random() % 2 ? 2.0f : -1.0f);
  }
}

TEST(AdaptationTest, RandomTriplesMatchTheDivisionBitForBit) {
  const char* const longCheck = std::getenv("KINETISCAN_LONG_CHECK");
  const bool thorough = longCheck != nullptr && std::strcmp(longCheck, "1") == 0;
  const std::int64_t wanted = thorough ? 100'000'000 : 1'000'000;
  std::mt19937 random(1616);
  Planes planes;
  std::int64_t triples = 0;
  for (int round = 0; triples < wanted; ++round) {
    for (int i = 0; i < kCount; ++i) {
      planes.retina[i] = randomComponent(random);
      planes.camera[i] = randomComponent(random);
    }
    const float adaptivity = randomAdaptivity(random);
    const std::int64_t compared =
        expectReciprocalMatchesDivision(planes, adaptivity, "round " + std::to_string(round));
    if (compared == 0) {
#if defined(__i386__) || defined(__x86_64__)
      FAIL() << "no vector path compared";
#else
      GTEST_SKIP() << "no vector path off x86";
#endif
    }
    triples += kCount;
  }
  std::printf("%lld triples compared on every vector path\n", static_cast<long long>(triples));
}

}  // namespace
}  // namespace kinetiscan::testing
