// The row work of colour bounds and block averages with SSE2: the colour match, sixteen 8-bit
// values at a time, and the check that takes camera plane rows back to their frame bytes. (Other
// plane rows need no code here: the compiler vectorises the plain conversion for SSE2 as well.)
#include <bit>
#include <cstdint>

#include "analysis/measurement_rows.h"
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace kinetiscan {

namespace {

constexpr int kLanes = 16;
constexpr int kBlock = 16;

// Sixteen components that are frame bytes converted, as the camera plane's are, to those bytes;
// false, with nothing written, unless every one is. The nearest integer to component * 255,
// clamped to a byte (NaN to 0), is only a candidate c; the lane is taken when the component equals
// byteToComponent(c), which needs the rounding to nearest a NearestRounding sets, and
// componentToByte gives back c for every byte's component.
[[gnu::always_inline]] inline bool sixteenFrameBytes(const float* in, std::uint8_t* out) {
  const __m128 times255 = _mm_set1_ps(255.0f);
  const __m128 zero = _mm_setzero_ps();
  const __m128 scale = _mm_set1_ps(kByteScale);
  __m128i candidate[4];
  int equal = 0xF;
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    const __m128 x = _mm_loadu_ps(in + 4 * k);
    // max(NaN, 0) is its second operand, 0; the result then fails the comparison anyway.
    const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_mul_ps(x, times255), zero), times255);
    candidate[k] = _mm_cvtps_epi32(clamped);
    equal &= _mm_movemask_ps(_mm_cmpeq_ps(_mm_mul_ps(_mm_cvtepi32_ps(candidate[k]), scale), x));
  }
  if (equal != 0xF) return false;
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(candidate[0], candidate[1]),
                                         _mm_packs_epi32(candidate[2], candidate[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return true;
}

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

void cameraRowToBytesSse2(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % kBlock == 0);
  for (int i = 0; i < kRowValues; i += kBlock) {
    if (!sixteenFrameBytes(components + i, bytes + i))
      componentsToBytes(components + i, bytes + i, kBlock);
  }
}

ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<false>(bytes, test) : matching<true>(bytes, test);
}

}  // namespace kinetiscan

#else

namespace kinetiscan {
void cameraRowToBytesSse2(const float* components, std::uint8_t* bytes) {
  rowToBytes(components, bytes);
}
ColumnSpan matchingColumnsSse2(const std::uint8_t* bytes, const ColourTest& test) {
  return matchingColumnsPlain(bytes, test);
}
}  // namespace kinetiscan

#endif
