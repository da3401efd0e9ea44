// The per-pixel pass in wide registers: eight pixels at a time in 256-bit ones, or sixteen in
// 512-bit ones where KINETISCAN_AVX512_ADAPTATION is defined. Included, inside an anonymous
// namespace, by the AVX2 and the AVX-512 translation units, each under its own target pragma; the
// latter defines the macro. Every result is bit for bit the plain pass's: the same operations in
// the same precision and operand order, an adaptation that divides or corrects its reciprocal's
// quotient, and a threshold shortcut that falls back to the stated sum wherever the two could
// differ. No include guard: each includer compiles its own copy.

constexpr int kGroup = 16;  // pixels per 16-bit store of motion bits
constexpr int kGroupComponents = kGroup * kComponents;
constexpr int kOctetComponents = 8 * kComponents;

struct Threshold {
  __m256 single;
  __m256d wide;
};

// Per 128-bit lane: [x[a], x[b], y[c], y[d]]
template <int a, int b, int c, int d>
[[gnu::always_inline]] inline __m256 pick(__m256 x, __m256 y) {
  return _mm256_shuffle_ps(x, y, _MM_SHUFFLE(d, c, b, a));
}

// Eight bytes to eight components.
[[gnu::always_inline]] inline __m256 convert(const std::uint8_t* bytes, __m256 scale) {
  const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
  return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(raw)), scale);
}

// Interleaved components of pixels 0-7 regrouped so that the low lanes hold pixels 0-3 and the
// high lanes pixels 4-7, each lane laid out as four pixels are in a plane; in-lane shuffles can
// then work as the SSE2 path does. ungroup() restores plane order.
[[gnu::always_inline]] inline void group(const __m256* in, __m256* out) {
  out[0] = _mm256_blend_ps(in[0], in[1], 0xF0);
  out[1] = _mm256_permute2f128_ps(in[0], in[2], 0x21);
  out[2] = _mm256_blend_ps(in[1], in[2], 0xF0);
}

[[gnu::always_inline]] inline void ungroup(const __m256* in, __m256* out) {
  out[0] = _mm256_permute2f128_ps(in[0], in[1], 0x20);
  out[1] = _mm256_blend_ps(in[2], in[0], 0xF0);
  out[2] = _mm256_permute2f128_ps(in[1], in[2], 0x31);
}

// The stated threshold, (d2 + d1) in single, then + d0 in double, for eight pixels in grouped
// order: one all-ones or all-zero lane per pixel.
[[gnu::always_inline]] inline __m256 exactLanes(__m256 redGreen, __m256 blue, __m256d sensitivity) {
  const __m256d sumLow = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(redGreen)),
                                       _mm256_cvtps_pd(_mm256_castps256_ps128(blue)));
  const __m256d sumHigh = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(redGreen, 1)),
                                        _mm256_cvtps_pd(_mm256_extractf128_ps(blue, 1)));
  // Ordered, quiet comparisons as in the plain pass: an unordered sum does not move.
  const __m256d low = _mm256_cmp_pd(sumLow, sensitivity, _CMP_GT_OQ);
  const __m256d high = _mm256_cmp_pd(sumHigh, sensitivity, _CMP_GT_OQ);
  // Pixels 0 1 4 5 | 2 3 6 7, then 64-bit pairs reordered to 0 1 2 3 | 4 5 6 7.
  const __m256 mixed = pick<0, 2, 0, 2>(_mm256_castpd_ps(low), _mm256_castpd_ps(high));
  return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(mixed), _MM_SHUFFLE(3, 1, 2, 0)));
}

// The differences of eight pixels to one all-ones or all-zero lane per pixel, in grouped order,
// which is pixel order. The whole sum is first taken in single: it and the stated sum round the
// same real number, so they lie on the same side of the sensitivity unless the single sum equals
// it; only then is the stated sum needed.
[[gnu::always_inline]] inline __m256 movingLanes(const __m256* differences,
                                                 const Threshold& limit) {
  __m256 d[3];
  group(differences, d);
  const __m256 blue = pick<0, 3, 0, 2>(d[0], pick<2, 0, 1, 0>(d[1], d[2]));
  const __m256 green = pick<0, 2, 0, 2>(pick<1, 1, 0, 0>(d[0], d[1]), pick<3, 3, 2, 2>(d[1], d[2]));
  const __m256 red = pick<0, 2, 0, 2>(pick<2, 2, 1, 1>(d[0], d[1]), pick<0, 0, 3, 3>(d[2], d[2]));
  const __m256 redGreen = _mm256_add_ps(red, green);
  const __m256 sum = _mm256_add_ps(redGreen, blue);
  if (_mm256_movemask_ps(_mm256_cmp_ps(sum, limit.single, _CMP_EQ_OQ)) != 0) [[unlikely]] {
    return exactLanes(redGreen, blue, limit.wide);
  }
  return _mm256_cmp_ps(sum, limit.single, _CMP_GT_OQ);
}

// The adaptation, old + (camera - old) / a in double stored as single, either dividing or with
// y, the reciprocal of a rounded to nearest, and one fused correction: q0 = d * y, then
// q = q0 - (a * q0 - d) * y, whose remainder a * q0 - d is exact. q is the division's double
// itself, d = +-0 included, wherever d is finite (docs/performance.md has the argument; it needs
// rounding to nearest, a finite a of at least 1 and a single-precision a). An infinite or NaN d
// keeps q0, which is then the division's as well.
struct Adaptation {
#if defined(KINETISCAN_AVX512_ADAPTATION)
  __m512d divisor;
  __m512d reciprocal;
#else
  __m256d divisor;
  __m256d reciprocal;
#endif
};

#if defined(KINETISCAN_AVX512_ADAPTATION)
// Eight components in one register of doubles: no splitting and joining of halves.
[[gnu::always_inline]] inline Adaptation adaptationFor(float adaptivity) {
  const double a = static_cast<double>(adaptivity);
  return {_mm512_set1_pd(a), _mm512_set1_pd(1.0 / a)};
}
// The zero-masking forms convert every lane as the plain ones do; the plain ones start from an
// undefined register that GCC 12 warns about.
constexpr __mmask8 kAll = 0xFF;
template <bool kCorrected>
[[gnu::always_inline]] inline __m256 adapt(__m256 retina, __m256 camera, const Adaptation& with) {
  const __m512d old = _mm512_maskz_cvtps_pd(kAll, retina);
  const __m512d step = _mm512_sub_pd(_mm512_maskz_cvtps_pd(kAll, camera), old);
  __m512d quotient;
  if constexpr (kCorrected) {
    const __m512d guess = _mm512_mul_pd(step, with.reciprocal);
    const __m512d excess = _mm512_fmsub_pd(with.divisor, guess, step);
    const __mmask8 finite =
        _mm512_cmp_pd_mask(_mm512_abs_pd(step), _mm512_set1_pd(HUGE_VAL), _CMP_LT_OQ);
    quotient = _mm512_mask3_fnmadd_pd(excess, with.reciprocal, guess, finite);
  } else {
    quotient = _mm512_div_pd(step, with.divisor);
  }
  return _mm512_maskz_cvtpd_ps(kAll, _mm512_add_pd(old, quotient));
}
#else
[[gnu::always_inline]] inline Adaptation adaptationFor(float adaptivity) {
  const double a = static_cast<double>(adaptivity);
  return {_mm256_set1_pd(a), _mm256_set1_pd(1.0 / a)};
}
template <bool kCorrected>
[[gnu::always_inline]] inline __m128 adaptHalf(__m128 retina, __m128 camera,
                                               const Adaptation& with) {
  const __m256d old = _mm256_cvtps_pd(retina);
  const __m256d step = _mm256_sub_pd(_mm256_cvtps_pd(camera), old);
  __m256d quotient;
  if constexpr (kCorrected) {
    const __m256d guess = _mm256_mul_pd(step, with.reciprocal);
    const __m256d excess = _mm256_fmsub_pd(with.divisor, guess, step);
    const __m256d finite = _mm256_cmp_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), step),
                                         _mm256_set1_pd(HUGE_VAL), _CMP_LT_OQ);
    quotient = _mm256_blendv_pd(guess, _mm256_fnmadd_pd(excess, with.reciprocal, guess), finite);
  } else {
    quotient = _mm256_div_pd(step, with.divisor);
  }
  return _mm256_cvtpd_ps(_mm256_add_pd(old, quotient));
}
template <bool kCorrected>
[[gnu::always_inline]] inline __m256 adapt(__m256 retina, __m256 camera, const Adaptation& with) {
  const __m128 low =
      adaptHalf<kCorrected>(_mm256_castps256_ps128(retina), _mm256_castps256_ps128(camera), with);
  const __m128 high = adaptHalf<kCorrected>(_mm256_extractf128_ps(retina, 1),
                                            _mm256_extractf128_ps(camera, 1), with);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}
#endif

#if defined(KINETISCAN_AVX512_ADAPTATION)
// Sixteen pixels, 48 components, in three registers as they lie in the planes. Lane j of a
// register, shifted by one and two lanes across the next register, meets the differences of
// components j + 1 and j + 2, so lanes that start a pixel sum red + green + blue; sixteen of them
// are gathered in pixel order for the threshold, and the pixels' mask is spread back to the
// components. The threshold goes as on the eight-pixel path (movingLanes).
constexpr __mmask16 kAllSixteen = 0xFFFF;  // zero-masking forms, as for kAll

[[gnu::always_inline]] inline __m512 shifted(__m512 low, __m512 high, int lanes) {
  const __m512i l = _mm512_castps_si512(low);
  const __m512i h = _mm512_castps_si512(high);
  return _mm512_castsi512_ps(lanes == 1 ? _mm512_maskz_alignr_epi32(kAllSixteen, h, l, 1)
                                        : _mm512_maskz_alignr_epi32(kAllSixteen, h, l, 2));
}

// The low (0) or high (1) eight floats of a register.
template <int kHalf>
[[gnu::always_inline]] inline __m256 half(__m512 x) {
  return _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, _mm512_castps_pd(x), kHalf));
}

// The lanes that start pixels 0-15 of three registers in plane order, in pixel order.
[[gnu::always_inline]] inline __m512 pixelStarts(const __m512* values) {
  const __m512i first = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0);
  const __m512i last = _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 4, 7, 10, 13);
  const __m512 two = _mm512_permutex2var_ps(values[0], first, values[1]);
  return _mm512_mask_permutexvar_ps(two, 0xF800, last, values[2]);
}

template <bool kFromBytes, int kAdapts>
void run(const PixelPass pass) {  // by value: see PixelPass
  const __m512 scale = _mm512_set1_ps(kByteScale);
  const __m512 one = _mm512_set1_ps(1.0f);
  const __m512 limit = _mm512_set1_ps(pass.sensitivity);
  const __m512d limitWide = _mm512_set1_pd(static_cast<double>(pass.sensitivity));
  const Adaptation adaptation = adaptationFor(pass.adaptivity);
  // Lane j of spread register i takes pixel (16 * i + j) / 3.
  const __m512i spreads[3] = {
      _mm512_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
      _mm512_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
      _mm512_setr_epi32(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15)};

  for (int index = 0; index < kPixels / kGroup; ++index) {
    const int at = index * kGroupComponents;
    __m512 camera[3];
    __m512 retina[3];
    __m512 difference[3];
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
      if constexpr (kFromBytes) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pass.frame + at + 16 * i));
        camera[i] = _mm512_mul_ps(
            _mm512_maskz_cvtepi32_ps(kAllSixteen, _mm512_maskz_cvtepu8_epi32(kAllSixteen, bytes)),
            scale);
        _mm512_storeu_ps(pass.camera + at + 16 * i, camera[i]);
      } else {
        camera[i] = _mm512_loadu_ps(pass.camera + at + 16 * i);
      }
      retina[i] = _mm512_loadu_ps(pass.retina + at + 16 * i);
      difference[i] = _mm512_abs_ps(_mm512_sub_ps(retina[i], camera[i]));
      _mm512_storeu_ps(pass.difference + at + 16 * i, difference[i]);
    }

    // Red + green, then + blue, in single at every lane; only the lanes that start a pixel count.
    __m512 redGreen[3];
    __m512 sums[3];
    const __m512 beyond = _mm512_setzero_ps();
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
      const __m512 next = i < 2 ? difference[i + 1] : beyond;
      redGreen[i] = _mm512_add_ps(shifted(difference[i], next, 2), shifted(difference[i], next, 1));
      sums[i] = _mm512_add_ps(redGreen[i], difference[i]);
    }
    const __m512 sum = pixelStarts(sums);
    __mmask16 moving = _mm512_cmp_ps_mask(sum, limit, _CMP_GT_OQ);
    if (_mm512_cmp_ps_mask(sum, limit, _CMP_EQ_OQ) != 0) [[unlikely]] {
      // The stated sum, (red + green) in single then + blue in double.
      const __m512 rg = pixelStarts(redGreen);
      const __m512 blue = pixelStarts(difference);
      const __mmask8 low =
          _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_maskz_cvtps_pd(kAll, half<0>(rg)),
                                           _mm512_maskz_cvtps_pd(kAll, half<0>(blue))),
                             limitWide, _CMP_GT_OQ);
      const __mmask8 high =
          _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_maskz_cvtps_pd(kAll, half<1>(rg)),
                                           _mm512_maskz_cvtps_pd(kAll, half<1>(blue))),
                             limitWide, _CMP_GT_OQ);
      moving = static_cast<__mmask16>(low | high << 8);
    }
    const auto bits = static_cast<std::uint16_t>(moving);
    std::memcpy(reinterpret_cast<std::uint8_t*>(pass.motion) + index * 2, &bits, sizeof bits);

    const __m512 mask = _mm512_maskz_mov_ps(moving, one);
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i)
      _mm512_storeu_ps(pass.globs + at + 16 * i,
                       _mm512_maskz_permutexvar_ps(kAllSixteen, spreads[i], mask));

    if constexpr (kAdapts != 0) {
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) {
        const __m256 low = adapt<kAdapts == 2>(half<0>(retina[i]), half<0>(camera[i]), adaptation);
        const __m256 high = adapt<kAdapts == 2>(half<1>(retina[i]), half<1>(camera[i]), adaptation);
        _mm256_storeu_ps(pass.retina + at + 16 * i, low);
        _mm256_storeu_ps(pass.retina + at + 16 * i + 8, high);
      }
    }
  }
}
#else
// kAdapts: 0 the retina stays, 1 divided, 2 by the corrected reciprocal.
template <bool kFromBytes, int kAdapts>
void run(const PixelPass pass) {  // by value: see PixelPass
  const __m256 scale = _mm256_set1_ps(kByteScale);
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  const __m256 one = _mm256_set1_ps(1.0f);
  const Threshold limit{_mm256_set1_ps(pass.sensitivity),
                        _mm256_set1_pd(static_cast<double>(pass.sensitivity))};
  const Adaptation adaptation = adaptationFor(pass.adaptivity);

  for (int index = 0; index < kPixels / kGroup; ++index) {
    unsigned bits = 0;
#pragma GCC unroll 2
    for (int octet = 0; octet < kGroup / 8; ++octet) {
      const int at = index * kGroupComponents + octet * kOctetComponents;
      __m256 camera[3];
      __m256 retina[3];
      __m256 difference[3];
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) {
        if constexpr (kFromBytes) {
          camera[i] = convert(pass.frame + at + 8 * i, scale);
          _mm256_storeu_ps(pass.camera + at + 8 * i, camera[i]);
        } else {
          camera[i] = _mm256_loadu_ps(pass.camera + at + 8 * i);
        }
        retina[i] = _mm256_loadu_ps(pass.retina + at + 8 * i);
        difference[i] = _mm256_andnot_ps(signBit, _mm256_sub_ps(retina[i], camera[i]));
        _mm256_storeu_ps(pass.difference + at + 8 * i, difference[i]);
      }

      const __m256 moving = movingLanes(difference, limit);
      bits |= static_cast<unsigned>(_mm256_movemask_ps(moving)) << (octet * 8);
      const __m256 mask = _mm256_and_ps(moving, one);
      const __m256 spread[3] = {pick<0, 0, 0, 1>(mask, mask), pick<1, 1, 2, 2>(mask, mask),
                                pick<2, 3, 3, 3>(mask, mask)};
      __m256 globs[3];
      ungroup(spread, globs);
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) _mm256_storeu_ps(pass.globs + at + 8 * i, globs[i]);

      if constexpr (kAdapts != 0) {
#pragma GCC unroll 3
        for (int i = 0; i < 3; ++i) {
          _mm256_storeu_ps(pass.retina + at + 8 * i,
                           adapt<kAdapts == 2>(retina[i], camera[i], adaptation));
        }
      }
    }
    const auto half = static_cast<std::uint16_t>(bits);
    std::memcpy(reinterpret_cast<std::uint8_t*>(pass.motion) + index * 2, &half, sizeof half);
  }
}

#endif

void runPass(const PixelPass& pass) {
  // An infinite adaptivity has the reciprocal 0, whose remainder would be NaN: it divides.
  const bool corrected = pass.byReciprocal && std::isfinite(pass.adaptivity);
  if (pass.frame != nullptr) {
    !pass.adapts ? run<true, 0>(pass) : corrected ? run<true, 2>(pass) : run<true, 1>(pass);
  } else {
    !pass.adapts ? run<false, 0>(pass) : corrected ? run<false, 2>(pass) : run<false, 1>(pass);
  }
}
