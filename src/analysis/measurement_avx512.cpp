// Plane rows to 8-bit values for processors with AVX-512, chosen at run time: sixteen components
// through double in one step. Everything here is compiled for AVX-512 while the rest of the
// library stays SSE2.
#include <cstdint>

#include "analysis/measurement_rows.h"
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below: an inline function with external linkage compiled
// here could be picked by the linker for callers on processors without AVX-512.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f")

namespace kinetiscan {
namespace {

constexpr int kBlock = 16;

// Sixteen components' 8-bit values, each in the low byte of a 32-bit lane whose other bytes are
// zero; false, with nothing written, unless every one of them fits 32 bits once scaled (NaN fails
// the comparison). The product in double is exact, the conversion truncates and the low 8 bits are
// kept, as componentToByte does.
[[gnu::always_inline]] inline bool sixteenValues(const float* in, __m512i* values) {
  const __m512 x = _mm512_loadu_ps(in);
  const __mmask16 fitting =
      _mm512_cmp_ps_mask(_mm512_abs_ps(x), _mm512_set1_ps(kFitsInt32), _CMP_LT_OQ);
  if (fitting != 0xFFFF) return false;
  // The zero-masking forms, all lanes kept: the plain ones start from an undefined register,
  // which GCC 12 takes for an uninitialised read.
  const __m512d scale = _mm512_set1_pd(255.0);
  const __m256i low = _mm512_maskz_cvttpd_epi32(
      0xFF, _mm512_mul_pd(_mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(in)), scale));
  const __m256i high = _mm512_maskz_cvttpd_epi32(
      0xFF, _mm512_mul_pd(_mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(in + 8)), scale));
  const __m512i words = _mm512_maskz_inserti64x4(0xFF, _mm512_castsi256_si512(low), high, 1);
  *values = _mm512_and_si512(words, _mm512_set1_epi32(0xFF));
  return true;
}

[[gnu::always_inline]] inline bool sixteenToBytes(const float* in, std::uint8_t* out) {
  __m512i values;
  if (!sixteenValues(in, &values)) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_maskz_cvtepi32_epi8(0xFFFF, values));
  return true;
}

// Sixteen components that are frame bytes converted, as the camera plane's are, to those bytes;
// false, with nothing written, unless every one is. The nearest integer to component * 255 is
// only a candidate c (clamped to a byte); the lane is taken when the component equals
// byteToComponent(c), the product rounded to nearest whatever the rounding mode, and
// componentToByte gives back c for every byte's component.
[[gnu::always_inline]] inline bool sixteenFrameBytes(const float* in, std::uint8_t* out) {
  constexpr __mmask16 kAll = 0xFFFF;  // zero-masking forms, as above
  const __m512 x = _mm512_loadu_ps(in);
  const __m512i rounded = _mm512_maskz_cvtps_epi32(kAll, _mm512_mul_ps(x, _mm512_set1_ps(255.0f)));
  const __m512i candidate = _mm512_maskz_min_epi32(
      kAll, _mm512_maskz_max_epi32(kAll, rounded, _mm512_setzero_si512()), _mm512_set1_epi32(255));
  const __m512 component = _mm512_maskz_mul_round_ps(
      kAll, _mm512_maskz_cvtepi32_ps(kAll, candidate), _mm512_set1_ps(kByteScale),
      _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  if (_mm512_cmp_ps_mask(component, x, _CMP_EQ_OQ) != 0xFFFF) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_maskz_cvtepi32_epi8(kAll, candidate));
  return true;
}

}  // namespace

void addRowAvx512(const float* components, std::uint32_t* totals) {
  static_assert(kRowValues % kBlock == 0);
  for (int i = 0; i < kRowValues; i += kBlock) {
    __m512i values;
    if (!sixteenValues(components + i, &values)) {
      std::uint8_t bytes[kBlock];
      for (int k = 0; k < kBlock; ++k) bytes[k] = componentToByte(components[i + k]);
      values = _mm512_maskz_cvtepu8_epi32(0xFFFF,
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    _mm512_storeu_si512(totals + i, _mm512_add_epi32(_mm512_loadu_si512(totals + i), values));
  }
}

void cameraRowToBytesAvx512(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % kBlock == 0);
  for (int i = 0; i < kRowValues; i += kBlock) {
    if (sixteenFrameBytes(components + i, bytes + i)) continue;
    if (sixteenToBytes(components + i, bytes + i)) continue;
    for (int k = i; k < i + kBlock; ++k) bytes[k] = componentToByte(components[k]);
  }
}

}  // namespace kinetiscan

#pragma GCC pop_options

#else

namespace kinetiscan {
void addRowAvx512(const float* components, std::uint32_t* totals) {
  addRowPlain(components, totals);
}
void cameraRowToBytesAvx512(const float* components, std::uint8_t* bytes) {
  rowToBytes(components, bytes);
}
}  // namespace kinetiscan

#endif
