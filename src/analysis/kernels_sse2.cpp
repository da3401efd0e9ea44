// The SSE2 kernels, which every processor the library runs on has: the pixel pass four pixels a
// step, the check that takes camera plane rows back to their frame bytes, and the colour match
// sixteen values a step. (Other plane rows need no code here: the compiler vectorises the plain
// conversion for SSE2 as well.) Every result is bit for bit the plain kernels'.
#include <bit>
#include <cstdint>
#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace kinetiscan {
namespace {

// The constants of the hot loops: the pass's own, broadcast once a pass, and fixed ones. i686
// reads them from here at every use, as memory operands, rather than holding them in registers the
// loop needs (the compiler would otherwise hoist them and spill them to the stack); the analysis
// runs on one thread.
struct alignas(16) PassConstants {
  float sensitivity[4];
  double sensitivityWide[2];
  double divisor[2];
  double reciprocal[2];
  std::uint32_t magnitude[4] = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
  float one[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float byteScale[4] = {kByteScale, kByteScale, kByteScale, kByteScale};
  double bound[2] = {kAdaptationBound, kAdaptationBound};
};
constinit PassConstants constants{};

template <class T>
[[gnu::always_inline]] inline __m128 floats(const T (&values)[16 / sizeof(T)]) {
  return _mm_load_ps(reinterpret_cast<const float*>(values));
}

void setConstants(const PixelPass& pass) {
  const double adaptivity = static_cast<double>(pass.adaptivity);
  _mm_store_ps(constants.sensitivity, _mm_set1_ps(pass.sensitivity));
  _mm_store_pd(constants.sensitivityWide, _mm_set1_pd(static_cast<double>(pass.sensitivity)));
  _mm_store_pd(constants.divisor, _mm_set1_pd(adaptivity));
  _mm_store_pd(constants.reciprocal, _mm_set1_pd(1.0 / adaptivity));
}

// Makes the compiler read the constants again at their next use.
[[gnu::always_inline]] inline void rereadConstants() {
#if defined(__i386__)
  __asm__("" : "+m"(constants));
#endif
}

// Two floats from memory, widened to double.
[[gnu::always_inline]] inline __m128d widened(const float* at) {
  return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))));
}

// The adaptation as stated, with a true division, of two components.
[[gnu::always_inline]] inline __m128 dividedHalf(const float* retina, const float* camera) {
  const __m128d old = widened(retina);
  return _mm_cvtpd_ps(_mm_add_pd(
      old, _mm_div_pd(_mm_sub_pd(widened(camera), old), _mm_load_pd(constants.divisor))));
}

[[gnu::always_inline]] inline __m128 divided(const float* retina, const float* camera) {
  return _mm_movelh_ps(dividedHalf(retina, camera), dividedHalf(retina + 2, camera + 2));
}

// The floats that the two ends of an interval around the sum, worked with the reciprocal, round
// to, for the low two components: [low, high] of the result. The interval holds the sum the
// division gives (see kAdaptationBound); size is |retina| + |camera| in single.
[[gnu::always_inline]] inline __m128 reciprocalEnds(__m128 retina, __m128 camera, __m128 size) {
  const __m128d old = _mm_cvtps_pd(retina);
  const __m128d sum = _mm_add_pd(
      old, _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(camera), old), _mm_load_pd(constants.reciprocal)));
  const __m128d bound = _mm_mul_pd(_mm_cvtps_pd(size), _mm_load_pd(constants.bound));
  return _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(sum, bound)), _mm_cvtpd_ps(_mm_add_pd(sum, bound)));
}

struct Sse2 {
  using Floats = __m128;
  using Ints = __m128i;
  using Bytes = __m128i;
  static constexpr int kLanes = 4;

  static Floats load(const float* at) { return _mm_loadu_ps(at); }
  static void store(float* at, Floats value) { _mm_storeu_ps(at, value); }
  static Floats splat(float value) { return _mm_set1_ps(value); }
  static Floats add(Floats a, Floats b) { return _mm_add_ps(a, b); }
  static Floats mul(Floats a, Floats b) { return _mm_mul_ps(a, b); }
  static Floats min(Floats a, Floats b) { return _mm_min_ps(a, b); }
  static Floats max(Floats a, Floats b) { return _mm_max_ps(a, b); }
  static Floats bitAnd(Floats a, Floats b) { return _mm_and_ps(a, b); }
  static Floats one() { return floats(constants.one); }
  static Floats absDifference(Floats a, Floats b) {
    return _mm_and_ps(_mm_sub_ps(a, b), floats(constants.magnitude));
  }
  template <int kImm>
  static Floats shuffle(Floats x, Floats y) {
    return _mm_shuffle_ps(x, y, kImm);
  }
  static unsigned equal(Floats a, Floats b) {
    return static_cast<unsigned>(_mm_movemask_ps(_mm_cmpeq_ps(a, b)));
  }
  static Floats greater(Floats a, Floats b) { return _mm_cmpgt_ps(a, b); }
  static std::uint32_t signs(Floats a) { return static_cast<std::uint32_t>(_mm_movemask_ps(a)); }
  // Four bytes to four components.
  static Floats fromBytes(const std::uint8_t* bytes) {
    std::int32_t word;
    std::memcpy(&word, bytes, sizeof word);
    const __m128i zero = _mm_setzero_si128();
    const __m128i wide = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
    return _mm_mul_ps(_mm_cvtepi32_ps(wide), floats(constants.byteScale));
  }
  // Four pixels are one lane already.
  static void group(const Floats* in, Floats* out) {
    for (int i = 0; i < 3; ++i) out[i] = in[i];
  }
  static void ungroup(const Floats* in, Floats* out) { group(in, out); }

  static Floats sensitivity() {
    rereadConstants();
    return floats(constants.sensitivity);
  }
  // The stated threshold, (d2 + d1) in single, then + d0 in double. Ordered comparisons: an
  // unordered sum does not move.
  static Floats exactMoving(Floats redGreen, Floats blue) {
    const __m128d limit = _mm_load_pd(constants.sensitivityWide);
    const __m128d sumLow = _mm_add_pd(_mm_cvtps_pd(redGreen), _mm_cvtps_pd(blue));
    const __m128d sumHigh = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(redGreen, redGreen)),
                                       _mm_cvtps_pd(_mm_movehl_ps(blue, blue)));
    const __m128 low = _mm_castpd_ps(_mm_cmpgt_pd(sumLow, limit));
    const __m128 high = _mm_castpd_ps(_mm_cmpgt_pd(sumHigh, limit));
    return _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
  }
  // Divided, or with the reciprocal checked: where both ends of the interval round to the same
  // float (bit for bit, and not NaN), so does the division's sum; elsewhere, rarely, the four
  // components are worked again with the division.
  template <bool kByReciprocal>
  static Floats adapted(const float* retina, const float* camera) {
    rereadConstants();
    if constexpr (!kByReciprocal) return divided(retina, camera);
    const __m128 r = _mm_loadu_ps(retina);
    const __m128 c = _mm_loadu_ps(camera);
    const __m128 magnitude = floats(constants.magnitude);
    const __m128 size = _mm_add_ps(_mm_and_ps(r, magnitude), _mm_and_ps(c, magnitude));
    const __m128 ends01 = reciprocalEnds(r, c, size);
    const __m128 ends23 =
        reciprocalEnds(_mm_movehl_ps(r, r), _mm_movehl_ps(c, c), _mm_movehl_ps(size, size));
    const __m128 low = _mm_movelh_ps(ends01, ends23);
    const __m128 high = _mm_movehl_ps(ends23, ends01);
    const __m128 same = _mm_and_ps(
        _mm_cmpeq_ps(low, high),
        _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high))));
    if (_mm_movemask_ps(same) != 0xF) [[unlikely]]
      return divided(retina, camera);
    return low;
  }

  static Ints nearestInts(Floats x) { return _mm_cvtps_epi32(x); }
  static Floats toFloats(Ints x) { return _mm_cvtepi32_ps(x); }
  // Rounds as MXCSR says: the caller holds a NearestRounding.
  static Floats timesByteScale(Floats x) { return _mm_mul_ps(x, _mm_set1_ps(kByteScale)); }
  static void storeBytes(const Ints* values, std::uint8_t* out) {
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(values[0], values[1]),
                                           _mm_packs_epi32(values[2], values[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  }

  static Bytes loadBytes(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  }
  static Bytes splat8(std::uint8_t value) { return _mm_set1_epi8(static_cast<char>(value)); }
  static Bytes splat16(std::int16_t value) { return _mm_set1_epi16(value); }
  static Bytes distance8(Bytes a, Bytes b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
  }
  static Bytes addSaturated8(Bytes a, Bytes b) { return _mm_adds_epu8(a, b); }
  static Bytes min8(Bytes a, Bytes b) { return _mm_min_epu8(a, b); }
  static Bytes equal8(Bytes a, Bytes b) { return _mm_cmpeq_epi8(a, b); }
  static Bytes widenLow(Bytes a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
  static Bytes widenHigh(Bytes a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
  static Bytes add16(Bytes a, Bytes b) { return _mm_add_epi16(a, b); }
  static Bytes less16(Bytes a, Bytes b) { return _mm_cmplt_epi16(a, b); }
  static Bytes packs16(Bytes a, Bytes b) { return _mm_packs_epi16(a, b); }
  static std::uint32_t byteSigns(Bytes a) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(a));
  }
};

#include "analysis/vector_kernels.h"  // NOLINT(build/include)

void pixelPass(const PixelPass& pass) {
  setConstants(pass);
  const int adapts = !pass.adapts ? 0 : pass.byReciprocal ? 2 : 1;
  if (pass.frame != nullptr) {
    adapts == 0   ? passLoop<Sse2, true, 0>(pass)
    : adapts == 1 ? passLoop<Sse2, true, 1>(pass)
                  : passLoop<Sse2, true, 2>(pass);
  } else {
    adapts == 0   ? passLoop<Sse2, false, 0>(pass)
    : adapts == 1 ? passLoop<Sse2, false, 1>(pass)
                  : passLoop<Sse2, false, 2>(pass);
  }
}

void cameraRowToBytes(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % 16 == 0);
  for (int i = 0; i < kRowValues; i += 16) {
    if (!sixteenFrameBytes<Sse2>(components + i, bytes + i))
      componentsToBytes(components + i, bytes + i, 16);
  }
}

ColumnSpan matchingColumns(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<Sse2, false>(bytes, test) : matching<Sse2, true>(bytes, test);
}

}  // namespace

constinit const PixelKernels kSse2Kernels{
    .path = PixelPath::sse2,
    .pixelPass = &pixelPass,
    .cameraRowToBytes = &cameraRowToBytes,
    .addRow = &addRowPlain,  // the compiler's vectorisation of the plain loop is as fast
    .matchingColumns = &matchingColumns,
};

}  // namespace kinetiscan

#endif
