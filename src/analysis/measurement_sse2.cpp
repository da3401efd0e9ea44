// The row work of colour bounds and block averages with SSE2: each component converted through
// double as componentToByte does, and sixteen 8-bit values matched against a colour at a time.
#include <bit>
#include <cstdint>

#include "analysis/measurement_rows.h"
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace kinetiscan {
namespace {

constexpr int kLanes = 16;

// Sixteen components to their 8-bit values; false, with nothing written, unless every one of them
// fits 32 bits once scaled (NaN fails the comparison). The product in double is exact and the
// conversion truncates, so each lane gives what componentToByte gives.
[[gnu::always_inline]] inline bool sixteenToBytes(const float* in, std::uint8_t* out) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 fits = _mm_set1_ps(kFitsInt32);
  __m128 x[4];
  __m128 fitting = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (int k = 0; k < 4; ++k) {
    x[k] = _mm_loadu_ps(in + 4 * k);
    fitting = _mm_and_ps(fitting, _mm_cmplt_ps(_mm_and_ps(x[k], magnitude), fits));
  }
  if (_mm_movemask_ps(fitting) != 0xF) return false;
  const __m128d scale = _mm_set1_pd(255.0);
  const __m128i lowByte = _mm_set1_epi32(0xFF);
  __m128i words[4];
  for (int k = 0; k < 4; ++k) {
    const __m128i low = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(x[k]), scale));
    const __m128i high =
        _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x[k], x[k])), scale));
    // The low 8 bits, as the cast to a byte keeps them; the packs below then cannot saturate.
    words[k] = _mm_and_si128(_mm_unpacklo_epi64(low, high), lowByte);
  }
  const __m128i bytes =
      _mm_packus_epi16(_mm_packs_epi32(words[0], words[1]), _mm_packs_epi32(words[2], words[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return true;
}

[[gnu::always_inline]] inline __m128i absoluteDifference(const std::uint8_t* at, __m128i target) {
  const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  return _mm_or_si128(_mm_subs_epu8(value, target), _mm_subs_epu8(target, value));
}

// Bit l set where lane l of a step starting at a value index of residue r modulo 3 starts a pixel.
constexpr std::uint32_t pixelStarts(int r) {
  std::uint32_t bits = 0;
  for (int lane = 0; lane < kLanes; ++lane) {
    if ((r + lane) % 3 == 0) bits |= 1u << lane;
  }
  return bits;
}

// Lane l of a step holds, at the offsets 0, 1 and 2, the three values of the pixel starting at
// value i + l; only the lanes that start a pixel are kept. A limit up to 255 works on saturated
// bytes: a sum of 255 or more saturates to 255, which is below no such limit.
template <bool kSixteenBit>
ColumnSpan matching(const std::uint8_t* bytes, const ColourTest& test) {
  constexpr std::uint32_t kStarts[3] = {pixelStarts(0), pixelStarts(1), pixelStarts(2)};
  const __m128i blue = _mm_set1_epi8(static_cast<char>(test.target[0]));
  const __m128i green = _mm_set1_epi8(static_cast<char>(test.target[1]));
  const __m128i red = _mm_set1_epi8(static_cast<char>(test.target[2]));
  const __m128i highest = _mm_set1_epi8(static_cast<char>(test.limit - 1));
  const __m128i limit = _mm_set1_epi16(test.limit);
  const __m128i zero = _mm_setzero_si128();
  const std::uint32_t flip = test.invert ? 0xFFFFu : 0u;
  ColumnSpan span{-1, -1};
  for (int i = 0, residue = 0; i < kRowValues; i += kLanes, residue = (residue + 1) % 3) {
    const __m128i d0 = absoluteDifference(bytes + i, blue);
    const __m128i d1 = absoluteDifference(bytes + i + 1, green);
    const __m128i d2 = absoluteDifference(bytes + i + 2, red);
    __m128i near;
    if constexpr (kSixteenBit) {
      const __m128i low =
          _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(d0, zero), _mm_unpacklo_epi8(d1, zero)),
                        _mm_unpacklo_epi8(d2, zero));
      const __m128i high =
          _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(d0, zero), _mm_unpackhi_epi8(d1, zero)),
                        _mm_unpackhi_epi8(d2, zero));
      near = _mm_packs_epi16(_mm_cmplt_epi16(low, limit), _mm_cmplt_epi16(high, limit));
    } else {
      const __m128i sum = _mm_adds_epu8(_mm_adds_epu8(d0, d1), d2);
      near = _mm_cmpeq_epi8(_mm_min_epu8(sum, highest), sum);
    }
    const std::uint32_t lanes =
        (static_cast<std::uint32_t>(_mm_movemask_epi8(near)) ^ flip) & kStarts[residue];
    if (lanes == 0) continue;
    if (span.first < 0) span.first = (i + std::countr_zero(lanes)) / 3;
    span.last = (i + std::bit_width(lanes) - 1) / 3;
  }
  return span;
}

}  // namespace

void rowToBytesSse2(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % kLanes == 0);
  for (int i = 0; i < kRowValues; i += kLanes) {
    if (sixteenToBytes(components + i, bytes + i)) continue;
    for (int k = i; k < i + kLanes; ++k) bytes[k] = componentToByte(components[k]);
  }
}

ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<false>(bytes, test) : matching<true>(bytes, test);
}

}  // namespace kinetiscan

#else

namespace kinetiscan {
void rowToBytesSse2(const float* components, std::uint8_t* bytes) { rowToBytes(components, bytes); }
ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return matchingColumnsPlain(bytes, test);
}
}  // namespace kinetiscan

#endif
