// The row work of colour bounds and block averages for processors with AVX2, chosen at run time;
// everything here is compiled for AVX2 while the rest of the library stays SSE2.
#include <bit>
#include <cstdint>

#include "analysis/measurement_rows.h"
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below: an inline function with external linkage compiled
// here could be picked by the linker for callers on processors without AVX2.
#pragma GCC push_options
#pragma GCC target("avx2")

namespace kinetiscan {
namespace {

constexpr int kLanes = 32;
constexpr int kBlock = 16;

// Sixteen components' 8-bit values, each in the low byte of a 32-bit lane whose other bytes are
// zero, in two registers of eight; false, with nothing written, unless every one of them fits 32
// bits once scaled (NaN fails the comparison). The product in double is exact and the conversion
// truncates, so each lane gives what componentToByte gives.
[[gnu::always_inline]] inline bool sixteenValues(const float* in, __m256i* values) {
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 fits = _mm256_set1_ps(kFitsInt32);
  const __m256 x[2] = {_mm256_loadu_ps(in), _mm256_loadu_ps(in + 8)};
  const __m256 fitting =
      _mm256_and_ps(_mm256_cmp_ps(_mm256_and_ps(x[0], magnitude), fits, _CMP_LT_OQ),
                    _mm256_cmp_ps(_mm256_and_ps(x[1], magnitude), fits, _CMP_LT_OQ));
  if (_mm256_movemask_ps(fitting) != 0xFF) return false;
  const __m256d scale = _mm256_set1_pd(255.0);
  const __m256i lowByte = _mm256_set1_epi32(0xFF);
#pragma GCC unroll 2
  for (int k = 0; k < 2; ++k) {
    const __m128i low =
        _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(x[k])), scale));
    const __m128i high =
        _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(x[k], 1)), scale));
    // The low 8 bits, as the cast to a byte keeps them.
    values[k] = _mm256_and_si256(_mm256_setr_m128i(low, high), lowByte);
  }
  return true;
}

[[gnu::always_inline]] inline bool sixteenToBytes(const float* in, std::uint8_t* out) {
  __m256i values[2];
  if (!sixteenValues(in, values)) return false;
  // The packs work within 128-bit halves and cannot saturate: words in the order 0-3 8-11 4-7
  // 12-15, put right below.
  const __m256i words = _mm256_packs_epi32(values[0], values[1]);
  const __m128i bytes =
      _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_shuffle_epi32(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  return true;
}

// As the SSE2 check of frame bytes (measurement_sse2.cpp), eight lanes a step.
[[gnu::always_inline]] inline bool sixteenFrameBytes(const float* in, std::uint8_t* out) {
  const __m256 times255 = _mm256_set1_ps(255.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 scale = _mm256_set1_ps(kByteScale);
  __m256i candidate[2];
  int equal = 0xFF;
#pragma GCC unroll 2
  for (int k = 0; k < 2; ++k) {
    const __m256 x = _mm256_loadu_ps(in + 8 * k);
    const __m256 clamped = _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(x, times255), zero), times255);
    candidate[k] = _mm256_cvtps_epi32(clamped);
    equal &= _mm256_movemask_ps(
        _mm256_cmp_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(candidate[k]), scale), x, _CMP_EQ_OQ));
  }
  if (equal != 0xFF) return false;
  // The packs work within 128-bit halves: words in the order 0-3 8-11 4-7 12-15, put right below.
  const __m256i words = _mm256_packs_epi32(candidate[0], candidate[1]);
  const __m128i bytes =
      _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_shuffle_epi32(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  return true;
}

[[gnu::always_inline]] inline __m256i absoluteDifference(const std::uint8_t* at, __m256i target) {
  const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  return _mm256_or_si256(_mm256_subs_epu8(value, target), _mm256_subs_epu8(target, value));
}

// As the SSE2 matcher, 32 lanes a step. The 16-bit sums are unpacked and packed back within each
// 128-bit half, so the packed comparison is in lane order again.
template <bool kSixteenBit>
ColumnSpan matching(const std::uint8_t* bytes, const ColourTest& test) {
  constexpr std::uint32_t kStarts[3] = {pixelStarts(kLanes, 0), pixelStarts(kLanes, 1),
                                        pixelStarts(kLanes, 2)};
  const __m256i blue = _mm256_set1_epi8(static_cast<char>(test.target[0]));
  const __m256i green = _mm256_set1_epi8(static_cast<char>(test.target[1]));
  const __m256i red = _mm256_set1_epi8(static_cast<char>(test.target[2]));
  const __m256i highest = _mm256_set1_epi8(static_cast<char>(test.limit - 1));
  const __m256i limit = _mm256_set1_epi16(test.limit);
  const __m256i zero = _mm256_setzero_si256();
  const std::uint32_t flip = test.invert ? 0xFFFFFFFFu : 0u;
  ColumnSpan span{-1, -1};
  // 32 is 2 modulo 3, so the residue of each step is that of the last one plus 2.
  for (int i = 0, residue = 0; i < kRowValues; i += kLanes, residue = (residue + 2) % 3) {
    const __m256i d0 = absoluteDifference(bytes + i, blue);
    const __m256i d1 = absoluteDifference(bytes + i + 1, green);
    const __m256i d2 = absoluteDifference(bytes + i + 2, red);
    __m256i near;
    if constexpr (kSixteenBit) {
      const __m256i low = _mm256_add_epi16(
          _mm256_add_epi16(_mm256_unpacklo_epi8(d0, zero), _mm256_unpacklo_epi8(d1, zero)),
          _mm256_unpacklo_epi8(d2, zero));
      const __m256i high = _mm256_add_epi16(
          _mm256_add_epi16(_mm256_unpackhi_epi8(d0, zero), _mm256_unpackhi_epi8(d1, zero)),
          _mm256_unpackhi_epi8(d2, zero));
      near = _mm256_packs_epi16(_mm256_cmpgt_epi16(limit, low), _mm256_cmpgt_epi16(limit, high));
    } else {
      const __m256i sum = _mm256_adds_epu8(_mm256_adds_epu8(d0, d1), d2);
      near = _mm256_cmpeq_epi8(_mm256_min_epu8(sum, highest), sum);
    }
    const std::uint32_t lanes =
        (static_cast<std::uint32_t>(_mm256_movemask_epi8(near)) ^ flip) & kStarts[residue];
    if (lanes == 0) continue;
    if (span.first < 0) span.first = (i + std::countr_zero(lanes)) / 3;
    span.last = (i + std::bit_width(lanes) - 1) / 3;
  }
  return span;
}

}  // namespace

void addRowAvx2(const float* components, std::uint32_t* totals) {
  static_assert(kRowValues % kBlock == 0);
  for (int i = 0; i < kRowValues; i += kBlock) {
    __m256i values[2];
    if (!sixteenValues(components + i, values)) {
      std::uint8_t bytes[kBlock];
      for (int k = 0; k < kBlock; ++k) bytes[k] = componentToByte(components[i + k]);
      const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
      values[0] = _mm256_cvtepu8_epi32(packed);
      values[1] = _mm256_cvtepu8_epi32(_mm_srli_si128(packed, 8));
    }
#pragma GCC unroll 2
    for (int k = 0; k < 2; ++k) {
      auto* at = reinterpret_cast<__m256i*>(totals + i + 8 * k);
      _mm256_storeu_si256(at, _mm256_add_epi32(_mm256_loadu_si256(at), values[k]));
    }
  }
}

void cameraRowToBytesAvx2(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % kBlock == 0 && kRowValues % kLanes == 0);
  for (int i = 0; i < kRowValues; i += kBlock) {
    if (sixteenFrameBytes(components + i, bytes + i)) continue;
    if (sixteenToBytes(components + i, bytes + i)) continue;
    for (int k = i; k < i + kBlock; ++k) bytes[k] = componentToByte(components[k]);
  }
}

ColumnSpan matchingColumnsAvx2(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<false>(bytes, test) : matching<true>(bytes, test);
}

}  // namespace kinetiscan

#pragma GCC pop_options

#else

namespace kinetiscan {
void addRowAvx2(const float* components, std::uint32_t* totals) { addRowPlain(components, totals); }
void cameraRowToBytesAvx2(const float* components, std::uint8_t* bytes) {
  rowToBytes(components, bytes);
}
ColumnSpan matchingColumnsAvx2(const std::uint8_t* bytes, const ColourTest& test) {
  return matchingColumnsPlain(bytes, test);
}
}  // namespace kinetiscan

#endif
