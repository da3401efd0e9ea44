// The AVX2 kernels, for processors with AVX2 and FMA, chosen at run time: the pixel pass eight
// pixels a step, plane rows to 8-bit values sixteen at a time, and the colour match 32 values a
// step. Everything here is compiled for AVX2 while the rest of the library stays SSE2. Every
// result is bit for bit the plain kernels'.
#include <bit>
#include <cmath>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below, but for the table and the matcher the AVX-512 table
// names: an inline function with external linkage compiled here could be picked by the linker for
// callers on processors without AVX2.
#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace kinetiscan {
namespace {

// The constants of the hot loops, read from memory at every use on i686; see kernels_sse2.cpp.
struct alignas(32) PassConstants {
  float sensitivity[8];
  double sensitivityWide[4];
  double divisor[4];
  double reciprocal[4];
  std::uint32_t magnitude[8] = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                                0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
  std::uint64_t wideMagnitude[4] = {0x7FFFFFFFFFFFFFFF, 0x7FFFFFFFFFFFFFFF, 0x7FFFFFFFFFFFFFFF,
                                    0x7FFFFFFFFFFFFFFF};
  double infinity[4] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL};
  float one[8] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  float byteScale[8] = {kByteScale, kByteScale, kByteScale, kByteScale,
                        kByteScale, kByteScale, kByteScale, kByteScale};
};
constinit PassConstants constants{};

template <class T>
[[gnu::always_inline]] inline __m256 floats(const T (&values)[32 / sizeof(T)]) {
  return _mm256_load_ps(reinterpret_cast<const float*>(values));
}
template <class T>
[[gnu::always_inline]] inline __m256d doubles(const T (&values)[32 / sizeof(T)]) {
  return _mm256_load_pd(reinterpret_cast<const double*>(values));
}

void setConstants(const PixelPass& pass) {
  const double adaptivity = static_cast<double>(pass.adaptivity);
  _mm256_store_ps(constants.sensitivity, _mm256_set1_ps(pass.sensitivity));
  _mm256_store_pd(constants.sensitivityWide, _mm256_set1_pd(static_cast<double>(pass.sensitivity)));
  _mm256_store_pd(constants.divisor, _mm256_set1_pd(adaptivity));
  _mm256_store_pd(constants.reciprocal, _mm256_set1_pd(1.0 / adaptivity));
}

[[gnu::always_inline]] inline void rereadConstants() {
#if defined(__i386__)
  __asm__("" : "+m"(constants));
#endif
}

// The adaptation, old + (camera - old) / a in double stored as single, of four components, either
// dividing or with y, the reciprocal of a rounded to nearest, and one fused correction: q0 = d * y,
// then q = q0 - (a * q0 - d) * y, whose remainder a * q0 - d is exact. q is the division's double
// itself, d = +-0 included, wherever d is finite (docs/performance.md has the argument; it needs
// rounding to nearest, a finite a of at least 1 and a single-precision a). An infinite or NaN d
// keeps q0, which is then the division's as well.
template <bool kCorrected>
[[gnu::always_inline]] inline __m128 adaptedHalf(const float* retina, const float* camera) {
  const __m256d old = _mm256_cvtps_pd(_mm_loadu_ps(retina));
  const __m256d step = _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(camera)), old);
  const __m256d divisor = doubles(constants.divisor);
  __m256d quotient;
  if constexpr (kCorrected) {
    const __m256d reciprocal = doubles(constants.reciprocal);
    const __m256d guess = _mm256_mul_pd(step, reciprocal);
    const __m256d excess = _mm256_fmsub_pd(divisor, guess, step);
    const __m256d finite = _mm256_cmp_pd(_mm256_and_pd(step, doubles(constants.wideMagnitude)),
                                         doubles(constants.infinity), _CMP_LT_OQ);
    quotient = _mm256_blendv_pd(guess, _mm256_fnmadd_pd(excess, reciprocal, guess), finite);
  } else {
    quotient = _mm256_div_pd(step, divisor);
  }
  return _mm256_cvtpd_ps(_mm256_add_pd(old, quotient));
}

struct Avx2 {
  using Floats = __m256;
  using Ints = __m256i;
  using Bytes = __m256i;
  static constexpr int kLanes = 8;

  static Floats load(const float* at) { return _mm256_loadu_ps(at); }
  static void store(float* at, Floats value) { _mm256_storeu_ps(at, value); }
  static Floats splat(float value) { return _mm256_set1_ps(value); }
  static Floats add(Floats a, Floats b) { return _mm256_add_ps(a, b); }
  static Floats mul(Floats a, Floats b) { return _mm256_mul_ps(a, b); }
  static Floats min(Floats a, Floats b) { return _mm256_min_ps(a, b); }
  static Floats max(Floats a, Floats b) { return _mm256_max_ps(a, b); }
  static Floats bitAnd(Floats a, Floats b) { return _mm256_and_ps(a, b); }
  static Floats one() { return floats(constants.one); }
  static Floats absDifference(Floats a, Floats b) {
    return _mm256_and_ps(_mm256_sub_ps(a, b), floats(constants.magnitude));
  }
  template <int kImm>
  static Floats shuffle(Floats x, Floats y) {
    return _mm256_shuffle_ps(x, y, kImm);
  }
  static unsigned equal(Floats a, Floats b) {
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(a, b, _CMP_EQ_OQ)));
  }
  // Ordered, quiet comparisons as in the plain pass: an unordered sum does not move.
  static Floats greater(Floats a, Floats b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static std::uint32_t signs(Floats a) { return static_cast<std::uint32_t>(_mm256_movemask_ps(a)); }
  // Eight bytes to eight components.
  static Floats fromBytes(const std::uint8_t* bytes) {
    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(raw)),
                         floats(constants.byteScale));
  }
  // Interleaved components of pixels 0-7 regrouped so that the low lanes hold pixels 0-3 and the
  // high lanes pixels 4-7, each lane laid out as four pixels are in a plane; in-lane shuffles can
  // then work as on SSE2. ungroup() restores plane order.
  static void group(const Floats* in, Floats* out) {
    out[0] = _mm256_blend_ps(in[0], in[1], 0xF0);
    out[1] = _mm256_permute2f128_ps(in[0], in[2], 0x21);
    out[2] = _mm256_blend_ps(in[1], in[2], 0xF0);
  }
  static void ungroup(const Floats* in, Floats* out) {
    out[0] = _mm256_permute2f128_ps(in[0], in[1], 0x20);
    out[1] = _mm256_blend_ps(in[2], in[0], 0xF0);
    out[2] = _mm256_permute2f128_ps(in[1], in[2], 0x31);
  }

  static Floats sensitivity() {
    rereadConstants();
    return floats(constants.sensitivity);
  }
  // The stated threshold, (d2 + d1) in single, then + d0 in double, for eight pixels in grouped
  // order.
  static Floats exactMoving(Floats redGreen, Floats blue) {
    const __m256d limit = doubles(constants.sensitivityWide);
    const __m256d sumLow = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(redGreen)),
                                         _mm256_cvtps_pd(_mm256_castps256_ps128(blue)));
    const __m256d sumHigh = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(redGreen, 1)),
                                          _mm256_cvtps_pd(_mm256_extractf128_ps(blue, 1)));
    const __m256d low = _mm256_cmp_pd(sumLow, limit, _CMP_GT_OQ);
    const __m256d high = _mm256_cmp_pd(sumHigh, limit, _CMP_GT_OQ);
    // Pixels 0 1 4 5 | 2 3 6 7, then 64-bit pairs reordered to 0 1 2 3 | 4 5 6 7.
    const __m256 mixed =
        _mm256_shuffle_ps(_mm256_castpd_ps(low), _mm256_castpd_ps(high), _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_castpd_ps(
        _mm256_permute4x64_pd(_mm256_castps_pd(mixed), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  template <bool kCorrected>
  static Floats adapted(const float* retina, const float* camera) {
    rereadConstants();
    const __m128 low = adaptedHalf<kCorrected>(retina, camera);
    const __m128 high = adaptedHalf<kCorrected>(retina + 4, camera + 4);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
  }

  static Ints nearestInts(Floats x) { return _mm256_cvtps_epi32(x); }
  static Floats toFloats(Ints x) { return _mm256_cvtepi32_ps(x); }
  // Rounds as MXCSR says: the caller holds a NearestRounding.
  static Floats timesByteScale(Floats x) { return _mm256_mul_ps(x, _mm256_set1_ps(kByteScale)); }
  // The packs work within 128-bit halves and cannot saturate: words in the order 0-3 8-11 4-7
  // 12-15, put right below.
  static void storeBytes(const Ints* values, std::uint8_t* out) {
    const __m256i words = _mm256_packs_epi32(values[0], values[1]);
    const __m128i bytes =
        _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi32(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  }

  static Bytes loadBytes(const std::uint8_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  }
  static Bytes splat8(std::uint8_t value) { return _mm256_set1_epi8(static_cast<char>(value)); }
  static Bytes splat16(std::int16_t value) { return _mm256_set1_epi16(value); }
  static Bytes distance8(Bytes a, Bytes b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
  }
  static Bytes addSaturated8(Bytes a, Bytes b) { return _mm256_adds_epu8(a, b); }
  static Bytes min8(Bytes a, Bytes b) { return _mm256_min_epu8(a, b); }
  static Bytes equal8(Bytes a, Bytes b) { return _mm256_cmpeq_epi8(a, b); }
  static Bytes widenLow(Bytes a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
  static Bytes widenHigh(Bytes a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
  static Bytes add16(Bytes a, Bytes b) { return _mm256_add_epi16(a, b); }
  static Bytes less16(Bytes a, Bytes b) { return _mm256_cmpgt_epi16(b, a); }
  static Bytes packs16(Bytes a, Bytes b) { return _mm256_packs_epi16(a, b); }
  static std::uint32_t byteSigns(Bytes a) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(a));
  }
};

#include "analysis/vector_kernels.h"  // NOLINT(build/include)

void pixelPass(const PixelPass& pass) {
  setConstants(pass);
  // An infinite adaptivity has the reciprocal 0, whose remainder would be NaN: it divides.
  const bool corrected = pass.byReciprocal && std::isfinite(pass.adaptivity);
  const int adapts = !pass.adapts ? 0 : corrected ? 2 : 1;
  if (pass.frame != nullptr) {
    adapts == 0   ? passLoop<Avx2, true, 0>(pass)
    : adapts == 1 ? passLoop<Avx2, true, 1>(pass)
                  : passLoop<Avx2, true, 2>(pass);
  } else {
    adapts == 0   ? passLoop<Avx2, false, 0>(pass)
    : adapts == 1 ? passLoop<Avx2, false, 1>(pass)
                  : passLoop<Avx2, false, 2>(pass);
  }
}

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

void addRow(const float* components, std::uint32_t* totals) {
  static_assert(kRowValues % 16 == 0);
  for (int i = 0; i < kRowValues; i += 16) {
    __m256i values[2];
    if (!sixteenValues(components + i, values)) {
      std::uint8_t bytes[16];
      for (int k = 0; k < 16; ++k) bytes[k] = componentToByte(components[i + k]);
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

void cameraRowToBytes(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % 16 == 0);
  for (int i = 0; i < kRowValues; i += 16) {
    if (sixteenFrameBytes<Avx2>(components + i, bytes + i)) continue;
    __m256i values[2];
    if (sixteenValues(components + i, values)) {
      Avx2::storeBytes(values, bytes + i);
      continue;
    }
    for (int k = i; k < i + 16; ++k) bytes[k] = componentToByte(components[k]);
  }
}

}  // namespace

ColumnSpan matchingColumnsAvx2(const std::uint8_t* bytes, const ColourTest& test) {
  return test.limit <= 255 ? matching<Avx2, false>(bytes, test) : matching<Avx2, true>(bytes, test);
}

constinit const PixelKernels kAvx2Kernels{
    .path = PixelPath::avx2,
    .pixelPass = &pixelPass,
    .cameraRowToBytes = &cameraRowToBytes,
    .addRow = &addRow,
    .matchingColumns = &matchingColumnsAvx2,
};

}  // namespace kinetiscan

#pragma GCC pop_options

#endif
