// The AVX-512 kernels, for processors with AVX-512F and AVX2, chosen at run time: the pixel pass
// sixteen pixels a step and plane rows to 8-bit values sixteen at a time; the colour match is
// AVX2's. Everything here is compiled for AVX-512 while the rest of the library stays SSE2. Every
// result is bit for bit the plain kernels'.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below, but for the table: an inline function with external
// linkage compiled here could be picked by the linker for callers on processors without AVX-512.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,fma")

namespace kinetiscan {
namespace {

// The zero-masking forms convert every lane as the plain ones do; the plain ones start from an
// undefined register that GCC 12 takes for an uninitialised read.
constexpr __mmask8 kAll = 0xFF;
constexpr __mmask16 kAllSixteen = 0xFFFF;

// The constants of the hot loops, read from memory at every use on i686; see kernels_sse2.cpp.
// The lanes tables: those that start pixels 0-10 in the first two of three registers in plane
// order and 11-15 in the third (pixelStarts); and, per register of the mask spread over 48
// components, the pixel each lane takes, (16 * i + j) / 3.
struct alignas(64) PassConstants {
  float sensitivity[16];
  double sensitivityWide[8];
  double divisor[8];
  double reciprocal[8];
  std::int32_t firstStarts[16] = {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0};
  std::int32_t lastStarts[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 7, 10, 13};
  std::int32_t spreads[3][16] = {{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5},
                                 {5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10},
                                 {10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15}};
  std::uint32_t magnitude[16] = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                                 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                                 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                                 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
  double infinity[8] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL,
                        HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL};
  float one[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  float byteScale[16] = {kByteScale, kByteScale, kByteScale, kByteScale, kByteScale, kByteScale,
                         kByteScale, kByteScale, kByteScale, kByteScale, kByteScale, kByteScale,
                         kByteScale, kByteScale, kByteScale, kByteScale};
};
constinit PassConstants constants{};

template <class T>
[[gnu::always_inline]] inline __m512 floats(const T (&values)[64 / sizeof(T)]) {
  return _mm512_load_ps(values);
}
template <class T>
[[gnu::always_inline]] inline __m512i ints(const T (&values)[64 / sizeof(T)]) {
  return _mm512_load_si512(values);
}
template <class T>
[[gnu::always_inline]] inline __m512d doubles(const T (&values)[64 / sizeof(T)]) {
  return _mm512_load_pd(values);
}

void setConstants(const PixelPass& pass) {
  const double adaptivity = static_cast<double>(pass.adaptivity);
  _mm512_store_ps(constants.sensitivity, _mm512_set1_ps(pass.sensitivity));
  _mm512_store_pd(constants.sensitivityWide, _mm512_set1_pd(static_cast<double>(pass.sensitivity)));
  _mm512_store_pd(constants.divisor, _mm512_set1_pd(adaptivity));
  _mm512_store_pd(constants.reciprocal, _mm512_set1_pd(1.0 / adaptivity));
}

[[gnu::always_inline]] inline void rereadConstants() {
#if defined(__i386__)
  __asm__("" : "+m"(constants));
#endif
}

// The adaptation of eight components in one register of doubles, dividing or with the fused
// correction of the reciprocal's quotient (kernels_avx2.cpp has the argument's outline).
template <bool kCorrected>
[[gnu::always_inline]] inline __m256 adapted(const float* retinaAt, const float* cameraAt) {
  const __m512d old = _mm512_maskz_cvtps_pd(kAll, _mm256_loadu_ps(retinaAt));
  const __m512d step = _mm512_sub_pd(_mm512_maskz_cvtps_pd(kAll, _mm256_loadu_ps(cameraAt)), old);
  const __m512d divisor = doubles(constants.divisor);
  __m512d quotient;
  if constexpr (kCorrected) {
    const __m512d reciprocal = doubles(constants.reciprocal);
    const __m512d guess = _mm512_mul_pd(step, reciprocal);
    const __m512d excess = _mm512_fmsub_pd(divisor, guess, step);
    const __mmask8 finite =
        _mm512_cmp_pd_mask(_mm512_abs_pd(step), doubles(constants.infinity), _CMP_LT_OQ);
    quotient = _mm512_mask3_fnmadd_pd(excess, reciprocal, guess, finite);
  } else {
    quotient = _mm512_div_pd(step, divisor);
  }
  return _mm512_maskz_cvtpd_ps(kAll, _mm512_add_pd(old, quotient));
}

// Sixteen pixels, 48 components, in three registers as they lie in the planes. Lane j of a
// register, shifted by one and two lanes across the next register, meets the differences of
// components j + 1 and j + 2, so lanes that start a pixel sum red + green + blue; sixteen of them
// are gathered in pixel order for the threshold, and the pixels' mask is spread back to the
// components.
[[gnu::always_inline]] inline __m512 shifted(__m512 low, __m512 high, int lanes) {
  const __m512i l = _mm512_castps_si512(low);
  const __m512i h = _mm512_castps_si512(high);
  return _mm512_castsi512_ps(lanes == 1 ? _mm512_maskz_alignr_epi32(kAllSixteen, h, l, 1)
                                        : _mm512_maskz_alignr_epi32(kAllSixteen, h, l, 2));
}

// Red + green in single at every lane of `values`, with the lanes of `next` beyond.
[[gnu::always_inline]] inline __m512 redGreen(__m512 values, __m512 next) {
  return _mm512_add_ps(shifted(values, next, 2), shifted(values, next, 1));
}

// The lanes that start pixels 0-15 of three registers in plane order, in pixel order: the first
// two registers hold the starts of pixels 0-10, the third those of 11-15.
[[gnu::always_inline]] inline __m512 firstStarts(__m512 first, __m512 second) {
  return _mm512_permutex2var_ps(first, ints(constants.firstStarts), second);
}
[[gnu::always_inline]] inline __m512 lastStarts(__m512 firstTwo, __m512 third) {
  return _mm512_mask_permutexvar_ps(firstTwo, 0xF800, ints(constants.lastStarts), third);
}

// The low (0) or high (1) eight floats of a register.
template <int kHalf>
[[gnu::always_inline]] inline __m256 half(__m512 x) {
  return _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, _mm512_castps_pd(x), kHalf));
}

// The stated threshold of sixteen pixels, (red + green) in single then + blue in double, from
// their differences as stored; only where the single sum equals the sensitivity, so rarely that
// it is worked apart from the loop and its registers.
[[gnu::noinline]] __mmask16 exactMoving(const float* differences) {
  __m512 d[3];
  for (int i = 0; i < 3; ++i) d[i] = _mm512_loadu_ps(differences + 16 * i);
  const __m512 rg = lastStarts(firstStarts(redGreen(d[0], d[1]), redGreen(d[1], d[2])),
                               redGreen(d[2], _mm512_setzero_ps()));
  const __m512 blue = lastStarts(firstStarts(d[0], d[1]), d[2]);
  const __m512d limit = doubles(constants.sensitivityWide);
  const __mmask8 low = _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_maskz_cvtps_pd(kAll, half<0>(rg)),
                                                        _mm512_maskz_cvtps_pd(kAll, half<0>(blue))),
                                          limit, _CMP_GT_OQ);
  const __mmask8 high =
      _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_maskz_cvtps_pd(kAll, half<1>(rg)),
                                       _mm512_maskz_cvtps_pd(kAll, half<1>(blue))),
                         limit, _CMP_GT_OQ);
  return static_cast<__mmask16>(low | high << 8);
}

// The camera and difference of components at..at + 15; returns the difference.
template <bool kFromBytes>
[[gnu::always_inline]] inline __m512 differenceAt(const PixelPass& pass, int at) {
  __m512 camera;
  if constexpr (kFromBytes) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pass.frame + at));
    camera = _mm512_mul_ps(
        _mm512_maskz_cvtepi32_ps(kAllSixteen, _mm512_maskz_cvtepu8_epi32(kAllSixteen, bytes)),
        floats(constants.byteScale));
    _mm512_storeu_ps(pass.camera + at, camera);
  } else {
    camera = _mm512_loadu_ps(pass.camera + at);
  }
  const __m512 difference = _mm512_castsi512_ps(_mm512_and_si512(
      _mm512_castps_si512(_mm512_sub_ps(_mm512_loadu_ps(pass.retina + at), camera)),
      ints(constants.magnitude)));
  _mm512_storeu_ps(pass.difference + at, difference);
  return difference;
}

// The mask of sixteen pixels over their 48 components.
[[gnu::always_inline]] inline void storeMask(float* globs, __mmask16 moving) {
  const __m512 mask = _mm512_maskz_mov_ps(moving, floats(constants.one));
#pragma GCC unroll 3
  for (int i = 0; i < 3; ++i) {
    _mm512_storeu_ps(globs + 16 * i,
                     _mm512_maskz_permutexvar_ps(kAllSixteen, ints(constants.spreads[i]), mask));
  }
}

// The pass sixteen pixels a step, in an order that keeps few registers live: each difference is
// folded into its sums as soon as the next one is there, and the adaptation reads the camera and
// retina again from the planes.
// kAdapts: 0 the retina stays, 1 divided, 2 by the corrected reciprocal.
template <bool kFromBytes, int kAdapts>
void passLoop(const PixelPass pass) {  // by value: see PixelPass
  for (int index = 0; index < pass.pixels / 16; ++index) {
    const int at = index * 48;
    const __m512 d0 = differenceAt<kFromBytes>(pass, at);
    const __m512 d1 = differenceAt<kFromBytes>(pass, at + 16);
    const __m512 sums01 = _mm512_add_ps(redGreen(d0, d1), d0);
    const __m512 d2 = differenceAt<kFromBytes>(pass, at + 32);
    const __m512 firstTwo = firstStarts(sums01, _mm512_add_ps(redGreen(d1, d2), d1));
    const __m512 sum = lastStarts(firstTwo, _mm512_add_ps(redGreen(d2, _mm512_setzero_ps()), d2));
    rereadConstants();
    const __m512 limit = floats(constants.sensitivity);
    __mmask16 moving = _mm512_cmp_ps_mask(sum, limit, _CMP_GT_OQ);
    if (_mm512_cmp_ps_mask(sum, limit, _CMP_EQ_OQ) != 0) [[unlikely]] {
      moving = exactMoving(pass.difference + at);
    }
    const auto bits = static_cast<std::uint16_t>(moving);
    std::memcpy(reinterpret_cast<std::uint8_t*>(pass.motion) + index * 2, &bits, sizeof bits);
    storeMask(pass.globs + at, moving);

    if constexpr (kAdapts != 0) {
#pragma GCC unroll 6
      for (int k = at; k < at + 48; k += 8) {
        rereadConstants();
        _mm256_storeu_ps(pass.retina + k, adapted<kAdapts == 2>(pass.retina + k, pass.camera + k));
      }
    }
  }
}

void pixelPass(const PixelPass& pass) {
  setConstants(pass);
  // An infinite adaptivity has the reciprocal 0, whose remainder would be NaN: it divides.
  const bool corrected = pass.byReciprocal && std::isfinite(pass.adaptivity);
  const int adapts = !pass.adapts ? 0 : corrected ? 2 : 1;
  if (pass.frame != nullptr) {
    adapts == 0   ? passLoop<true, 0>(pass)
    : adapts == 1 ? passLoop<true, 1>(pass)
                  : passLoop<true, 2>(pass);
  } else {
    adapts == 0   ? passLoop<false, 0>(pass)
    : adapts == 1 ? passLoop<false, 1>(pass)
                  : passLoop<false, 2>(pass);
  }
}

// For the frame-byte check shared with SSE2 and AVX2 (vector_kernels.h).
struct Avx512 {
  using Floats = __m512;
  using Ints = __m512i;
  static constexpr int kLanes = 16;

  static Floats load(const float* at) { return _mm512_loadu_ps(at); }
  static Floats splat(float value) { return _mm512_set1_ps(value); }
  static Floats mul(Floats a, Floats b) { return _mm512_mul_ps(a, b); }
  static Floats min(Floats a, Floats b) { return _mm512_maskz_min_ps(kAllSixteen, a, b); }
  static Floats max(Floats a, Floats b) { return _mm512_maskz_max_ps(kAllSixteen, a, b); }
  static unsigned equal(Floats a, Floats b) { return _mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ); }
  static Ints nearestInts(Floats x) { return _mm512_maskz_cvtps_epi32(kAllSixteen, x); }
  static Floats toFloats(Ints x) { return _mm512_maskz_cvtepi32_ps(kAllSixteen, x); }
  // Rounded to nearest by the instruction itself, whatever MXCSR says.
  static Floats timesByteScale(Floats x) {
    return _mm512_maskz_mul_round_ps(kAllSixteen, x, _mm512_set1_ps(kByteScale),
                                     _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
  static void storeBytes(const Ints* values, std::uint8_t* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm512_maskz_cvtepi32_epi8(kAllSixteen, values[0]));
  }
};

#include "analysis/vector_kernels.h"  // NOLINT(build/include)

// Sixteen components' 8-bit values, each in the low byte of a 32-bit lane whose other bytes are
// zero; false, with nothing written, unless every one of them fits 32 bits once scaled (NaN fails
// the comparison). The product in double is exact, the conversion truncates and the low 8 bits are
// kept, as componentToByte does.
[[gnu::always_inline]] inline bool sixteenValues(const float* in, __m512i* values) {
  const __m512 x = _mm512_loadu_ps(in);
  const __mmask16 fitting =
      _mm512_cmp_ps_mask(_mm512_abs_ps(x), _mm512_set1_ps(kFitsInt32), _CMP_LT_OQ);
  if (fitting != 0xFFFF) return false;
  const __m512d scale = _mm512_set1_pd(255.0);
  const __m256i low = _mm512_maskz_cvttpd_epi32(
      kAll, _mm512_mul_pd(_mm512_maskz_cvtps_pd(kAll, _mm256_loadu_ps(in)), scale));
  const __m256i high = _mm512_maskz_cvttpd_epi32(
      kAll, _mm512_mul_pd(_mm512_maskz_cvtps_pd(kAll, _mm256_loadu_ps(in + 8)), scale));
  const __m512i words = _mm512_maskz_inserti64x4(kAll, _mm512_castsi256_si512(low), high, 1);
  *values = _mm512_and_si512(words, _mm512_set1_epi32(0xFF));
  return true;
}

void addRow(const float* components, std::uint32_t* totals) {
  static_assert(kRowValues % 16 == 0);
  for (int i = 0; i < kRowValues; i += 16) {
    __m512i values;
    if (!sixteenValues(components + i, &values)) {
      std::uint8_t bytes[16];
      for (int k = 0; k < 16; ++k) bytes[k] = componentToByte(components[i + k]);
      values = _mm512_maskz_cvtepu8_epi32(kAllSixteen,
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    }
    _mm512_storeu_si512(totals + i, _mm512_add_epi32(_mm512_loadu_si512(totals + i), values));
  }
}

void cameraRowToBytes(const float* components, std::uint8_t* bytes) {
  static_assert(kRowValues % 16 == 0);
  for (int i = 0; i < kRowValues; i += 16) {
    if (sixteenFrameBytes<Avx512>(components + i, bytes + i)) continue;
    __m512i values;
    if (sixteenValues(components + i, &values)) {
      Avx512::storeBytes(&values, bytes + i);
      continue;
    }
    for (int k = i; k < i + 16; ++k) bytes[k] = componentToByte(components[k]);
  }
}

}  // namespace

constinit const PixelKernels kAvx512Kernels{
    .path = PixelPath::avx512,
    .pixelPass = &pixelPass,
    .cameraRowToBytes = &cameraRowToBytes,
    .addRow = &addRow,
    .matchingColumns = &matchingColumnsAvx2,  // byte lanes are AVX-512BW's, not AVX-512F's
};

}  // namespace kinetiscan

#pragma GCC pop_options

#endif
