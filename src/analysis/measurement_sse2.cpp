// The colour match of colour bounds with SSE2, sixteen 8-bit values at a time. (Plane rows to
// 8-bit values need no code here: the compiler vectorises the plain conversion for SSE2 as well.)
#include <bit>
#include <cstdint>

#include "analysis/measurement_rows.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace kinetiscan {
namespace {

constexpr int kLanes = 16;

[[gnu::always_inline]] inline __m128i absoluteDifference(const std::uint8_t* at, __m128i target) {
  const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  return _mm_or_si128(_mm_subs_epu8(value, target), _mm_subs_epu8(target, value));
}

// Lane l of a step holds, at the offsets 0, 1 and 2, the three values of the pixel starting at
// value i + l; only the lanes that start a pixel are kept. A limit up to 255 works on saturated
// bytes: a sum of 255 or more saturates to 255, which is below no such limit.
template <bool kSixteenBit>
ColumnSpan matching(const std::uint8_t* bytes, const ColourTest& test) {
  constexpr std::uint32_t kStarts[3] = {pixelStarts(kLanes, 0), pixelStarts(kLanes, 1),
                                        pixelStarts(kLanes, 2)};
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

ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<false>(bytes, test) : matching<true>(bytes, test);
}

}  // namespace kinetiscan

#else

namespace kinetiscan {
ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return matchingColumnsPlain(bytes, test);
}
}  // namespace kinetiscan

#endif
