// The per-pixel pass four pixels (twelve components) at a time with SSE2, which every processor
// the library runs on has. Every result is bit for bit the plain pass's: the same operations in
// the same precision and operand order, an adaptation that divides or checks its reciprocal's
// float, and a threshold shortcut that falls back to the stated sum wherever the two could differ.
#include <cstdint>
#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace kinetiscan {
namespace {

// Pixels per step of the main loop: their motion bits make one 16-bit store.
constexpr int kGroup = 16;
constexpr int kGroupComponents = kGroup * kComponents;

// [x[a], x[b], y[c], y[d]]
template <int a, int b, int c, int d>
[[gnu::always_inline]] inline __m128 pick(__m128 x, __m128 y) {
  return _mm_shuffle_ps(x, y, _MM_SHUFFLE(d, c, b, a));
}

// Sixteen bytes to sixteen components.
[[gnu::always_inline]] inline void convert(const std::uint8_t* bytes, __m128 scale, __m128* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i low = _mm_unpacklo_epi8(raw, zero);
  const __m128i high = _mm_unpackhi_epi8(raw, zero);
  out[0] = _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)), scale);
  out[1] = _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)), scale);
  out[2] = _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)), scale);
  out[3] = _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)), scale);
}

struct Threshold {
  __m128 single;
  __m128d wide;
};

// The stated threshold, (d2 + d1) in single, then + d0 in double, for four pixels: one all-ones
// or all-zero lane per pixel.
[[gnu::always_inline]] inline __m128 exactLanes(__m128 redGreen, __m128 blue, __m128d sensitivity) {
  const __m128d sumLow = _mm_add_pd(_mm_cvtps_pd(redGreen), _mm_cvtps_pd(blue));
  const __m128d sumHigh = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(redGreen, redGreen)),
                                     _mm_cvtps_pd(_mm_movehl_ps(blue, blue)));
  // Ordered comparisons: an unordered sum does not move.
  const __m128 low = _mm_castpd_ps(_mm_cmpgt_pd(sumLow, sensitivity));
  const __m128 high = _mm_castpd_ps(_mm_cmpgt_pd(sumHigh, sensitivity));
  return pick<0, 2, 0, 2>(low, high);
}

// The differences of four pixels, interleaved as in the plane, to one all-ones or all-zero lane
// per pixel. The whole sum is first taken in single: it and the stated sum round the same real
// number, so they lie on the same side of the sensitivity unless the single sum equals it; only
// then is the stated sum needed.
[[gnu::always_inline]] inline __m128 movingLanes(const __m128* d, const Threshold& limit) {
  const __m128 blue = pick<0, 3, 0, 2>(d[0], pick<2, 0, 1, 0>(d[1], d[2]));
  const __m128 green = pick<0, 2, 0, 2>(pick<1, 1, 0, 0>(d[0], d[1]), pick<3, 3, 2, 2>(d[1], d[2]));
  const __m128 red = pick<0, 2, 0, 2>(pick<2, 2, 1, 1>(d[0], d[1]), pick<0, 0, 3, 3>(d[2], d[2]));
  const __m128 redGreen = _mm_add_ps(red, green);
  const __m128 sum = _mm_add_ps(redGreen, blue);
  if (_mm_movemask_ps(_mm_cmpeq_ps(sum, limit.single)) != 0) [[unlikely]] {
    return exactLanes(redGreen, blue, limit.wide);
  }
  return _mm_cmpgt_ps(sum, limit.single);
}

// The adaptation as stated, with a true division.
[[gnu::always_inline]] inline __m128d dividedHalf(__m128 retina, __m128 camera, __m128d divisor) {
  const __m128d old = _mm_cvtps_pd(retina);
  return _mm_add_pd(old, _mm_div_pd(_mm_sub_pd(_mm_cvtps_pd(camera), old), divisor));
}

[[gnu::always_inline]] inline __m128 divided(__m128 retina, __m128 camera, __m128d divisor) {
  const __m128 low = _mm_cvtpd_ps(dividedHalf(retina, camera, divisor));
  const __m128 high = _mm_cvtpd_ps(
      dividedHalf(_mm_movehl_ps(retina, retina), _mm_movehl_ps(camera, camera), divisor));
  return _mm_movelh_ps(low, high);
}

struct Adaptation {
  __m128d divisor;
  __m128d reciprocal;
};

// The floats that the two ends of an interval around the sum, worked with the reciprocal, round
// to. The interval holds the sum the division gives (see AdaptationBound).
[[gnu::always_inline]] inline void reciprocalEnds(__m128 retina, __m128 camera, __m128 size,
                                                  __m128d reciprocal, __m128* low, __m128* high) {
  const __m128d old = _mm_cvtps_pd(retina);
  const __m128d sum =
      _mm_add_pd(old, _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(camera), old), reciprocal));
  const __m128d bound = _mm_mul_pd(_mm_cvtps_pd(size), _mm_set1_pd(kAdaptationBound));
  *low = _mm_cvtpd_ps(_mm_sub_pd(sum, bound));
  *high = _mm_cvtpd_ps(_mm_add_pd(sum, bound));
}

// Where both ends round to the same float (bit for bit, and not NaN), so does the division's
// sum; elsewhere, rarely, the four components are worked again with the division.
template <bool kByReciprocal>
[[gnu::always_inline]] inline __m128 adapt(__m128 retina, __m128 camera, const Adaptation& with) {
  if constexpr (!kByReciprocal) return divided(retina, camera, with.divisor);
  const __m128 signBit = _mm_set1_ps(-0.0f);
  const __m128 size = _mm_add_ps(_mm_andnot_ps(signBit, retina), _mm_andnot_ps(signBit, camera));
  __m128 lowEnds[2];
  __m128 highEnds[2];
  reciprocalEnds(retina, camera, size, with.reciprocal, &lowEnds[0], &highEnds[0]);
  reciprocalEnds(_mm_movehl_ps(retina, retina), _mm_movehl_ps(camera, camera),
                 _mm_movehl_ps(size, size), with.reciprocal, &lowEnds[1], &highEnds[1]);
  const __m128 low = _mm_movelh_ps(lowEnds[0], lowEnds[1]);
  const __m128 high = _mm_movelh_ps(highEnds[0], highEnds[1]);
  const __m128 same =
      _mm_and_ps(_mm_cmpeq_ps(low, high),
                 _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high))));
  if (_mm_movemask_ps(same) != 0xF) [[unlikely]] {
    return divided(retina, camera, with.divisor);
  }
  return low;
}

// kAdapts: 0 the retina stays, 1 divided, 2 by the checked reciprocal.
template <bool kFromBytes, int kAdapts>
void run(const PixelPass pass) {  // by value: see PixelPass
  const __m128 scale = _mm_set1_ps(kByteScale);
  const __m128 signBit = _mm_set1_ps(-0.0f);
  const __m128 one = _mm_set1_ps(1.0f);
  const Threshold limit{_mm_set1_ps(pass.sensitivity),
                        _mm_set1_pd(static_cast<double>(pass.sensitivity))};
  const Adaptation adaptation{_mm_set1_pd(static_cast<double>(pass.adaptivity)),
                              _mm_set1_pd(1.0 / static_cast<double>(pass.adaptivity))};

  for (int group = 0; group < kPixels / kGroup; ++group) {
    const int first = group * kGroupComponents;
    __m128 camera[kGroupComponents / 4];
    if constexpr (kFromBytes) {
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) convert(pass.frame + first + 16 * i, scale, camera + 4 * i);
      for (int i = 0; i < kGroupComponents / 4; ++i) {
        _mm_storeu_ps(pass.camera + first + 4 * i, camera[i]);
      }
    } else {
      for (int i = 0; i < kGroupComponents / 4; ++i) {
        camera[i] = _mm_loadu_ps(pass.camera + first + 4 * i);
      }
    }

    unsigned bits = 0;
#pragma GCC unroll 4
    for (int quad = 0; quad < kGroup / 4; ++quad) {
      const int at = first + quad * 12;
      const __m128* c = camera + quad * 3;
      __m128 retina[3];
      __m128 difference[3];
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) {
        retina[i] = _mm_loadu_ps(pass.retina + at + 4 * i);
        difference[i] = _mm_andnot_ps(signBit, _mm_sub_ps(retina[i], c[i]));
        _mm_storeu_ps(pass.difference + at + 4 * i, difference[i]);
      }

      const __m128 moving = movingLanes(difference, limit);
      bits |= static_cast<unsigned>(_mm_movemask_ps(moving)) << (quad * 4);
      const __m128 mask = _mm_and_ps(moving, one);
      _mm_storeu_ps(pass.globs + at, pick<0, 0, 0, 1>(mask, mask));
      _mm_storeu_ps(pass.globs + at + 4, pick<1, 1, 2, 2>(mask, mask));
      _mm_storeu_ps(pass.globs + at + 8, pick<2, 3, 3, 3>(mask, mask));

      if constexpr (kAdapts != 0) {
#pragma GCC unroll 3
        for (int i = 0; i < 3; ++i) {
          _mm_storeu_ps(pass.retina + at + 4 * i, adapt<kAdapts == 2>(retina[i], c[i], adaptation));
        }
      }
    }
    const auto half = static_cast<std::uint16_t>(bits);
    std::memcpy(reinterpret_cast<std::uint8_t*>(pass.motion) + group * 2, &half, sizeof half);
  }
}

}  // namespace

void pixelPassSse2(const PixelPass& pass) {
  if (pass.frame != nullptr) {
    !pass.adapts ? run<true, 0>(pass) : pass.byReciprocal ? run<true, 2>(pass) : run<true, 1>(pass);
  } else {
    !pass.adapts        ? run<false, 0>(pass)
    : pass.byReciprocal ? run<false, 2>(pass)
                        : run<false, 1>(pass);
  }
}

}  // namespace kinetiscan

#else

namespace kinetiscan {
void pixelPassSse2(const PixelPass& pass) { pixelPassPlain(pass); }
}  // namespace kinetiscan

#endif
