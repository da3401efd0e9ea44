// Kernels that SSE2 and AVX2 work alike lane by lane, written once as templates over `Ops`, the
// operations of one vector type (kLanes floats; 128-bit lanes of four, so the in-lane shuffles
// work as on SSE2). Included, inside an anonymous namespace and under its target pragma, by each
// unit that instantiates them: an instantiation compiled for AVX2 must not be merged with one for
// SSE2. No include guard: each includer compiles its own copy.
//
// What an Ops provides, for the templates a unit instantiates:
//   Floats, kLanes; load, store, splat, one, add, mul, min, max, bitAnd; fromBytes (kLanes frame
//   bytes to components); absDifference (|a - b| in single); shuffle<imm> (within 128-bit lanes);
//   equal (a bit per lane), greater (all ones per lane, ordered), signs (a bit per lane);
//   group/ungroup (three registers of interleaved components to lanes of four pixels and back);
//   sensitivity, exactMoving, adapted<kCorrected> (reading the pass's constants);
//   Ints, nearestInts, toFloats, timesByteScale, storeBytes for the frame-byte check;
//   Bytes and the byte operations of the colour match.

// For the matchers: bit l set where lane l of a step of `lanes` values, starting at a value index
// of residue r modulo 3, starts a pixel.
constexpr std::uint32_t pixelStartBits(int lanes, int r) {
  std::uint32_t bits = 0;
  for (int lane = 0; lane < lanes; ++lane) {
    if ((r + lane) % 3 == 0) bits |= 1u << lane;
  }
  return bits;
}

// Per 128-bit lane: [x[a], x[b], y[c], y[d]]
template <class Ops, int a, int b, int c, int d>
[[gnu::always_inline]] inline typename Ops::Floats pick(typename Ops::Floats x,
                                                        typename Ops::Floats y) {
  return Ops::template shuffle<_MM_SHUFFLE(d, c, b, a)>(x, y);
}

// The differences of kLanes pixels, interleaved as in the plane, to one all-ones or all-zero lane
// per pixel. The whole sum is first taken in single: it and the stated sum, (red + green) in single
// then + blue in double, round the same real number, so they lie on the same side of the
// sensitivity unless the single sum equals it; only then is the stated sum needed.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::Floats movingLanes(const typename Ops::Floats* in) {
  using F = typename Ops::Floats;
  F d[3];
  Ops::group(in, d);
  const F blue = pick<Ops, 0, 3, 0, 2>(d[0], pick<Ops, 2, 0, 1, 0>(d[1], d[2]));
  const F green =
      pick<Ops, 0, 2, 0, 2>(pick<Ops, 1, 1, 0, 0>(d[0], d[1]), pick<Ops, 3, 3, 2, 2>(d[1], d[2]));
  const F red =
      pick<Ops, 0, 2, 0, 2>(pick<Ops, 2, 2, 1, 1>(d[0], d[1]), pick<Ops, 0, 0, 3, 3>(d[2], d[2]));
  const F redGreen = Ops::add(red, green);
  const F sum = Ops::add(redGreen, blue);
  const F limit = Ops::sensitivity();
  if (Ops::equal(sum, limit) != 0) [[unlikely]] {
    return Ops::exactMoving(redGreen, blue);
  }
  return Ops::greater(sum, limit);
}

// The pixels' mask, 1.0 or 0.0, over their three components.
template <class Ops>
[[gnu::always_inline]] inline void storeMask(float* globs, typename Ops::Floats moving) {
  using F = typename Ops::Floats;
  const F mask = Ops::bitAnd(moving, Ops::one());
  const F spread[3] = {pick<Ops, 0, 0, 0, 1>(mask, mask), pick<Ops, 1, 1, 2, 2>(mask, mask),
                       pick<Ops, 2, 3, 3, 3>(mask, mask)};
  F out[3];
  Ops::ungroup(spread, out);
#pragma GCC unroll 3
  for (int i = 0; i < 3; ++i) Ops::store(globs + Ops::kLanes * i, out[i]);
}

// The pass, kLanes pixels a step. Each step keeps only its three differences in registers: the
// camera and retina values are read again from the planes for the adaptation, and the pass's
// constants come from memory, so the step fits the eight vector registers of i686.
// kAdapts: 0 the retina stays, 1 divided, 2 by the unit's reciprocal method.
template <class Ops, bool kFromBytes, int kAdapts>
void passLoop(const PixelPass pass) {  // by value: see PixelPass
  using F = typename Ops::Floats;
  constexpr int kStep = Ops::kLanes;
  static_assert(32 % kStep == 0);
  for (int word = 0; word < pass.pixels / 32; ++word) {
    std::uint32_t bits = 0;
    for (int step = 0; step < 32 / kStep; ++step) {
      const int at = (word * 32 + step * kStep) * kComponents;
      F difference[3];
#pragma GCC unroll 3
      for (int i = 0; i < 3; ++i) {
        const int k = at + kStep * i;
        F camera;
        if constexpr (kFromBytes) {
          camera = Ops::fromBytes(pass.frame + k);
          Ops::store(pass.camera + k, camera);
        } else {
          camera = Ops::load(pass.camera + k);
        }
        difference[i] = Ops::absDifference(Ops::load(pass.retina + k), camera);
        Ops::store(pass.difference + k, difference[i]);
      }
      const F moving = movingLanes<Ops>(difference);
      bits |= Ops::signs(moving) << (step * kStep);
      storeMask<Ops>(pass.globs + at, moving);
      if constexpr (kAdapts != 0) {
#pragma GCC unroll 3
        for (int i = 0; i < 3; ++i) {
          const int k = at + kStep * i;
          Ops::store(pass.retina + k,
                     Ops::template adapted<kAdapts == 2>(pass.retina + k, pass.camera + k));
        }
      }
    }
    pass.motion[word] = bits;
  }
}

// Sixteen components that are frame bytes converted, as the camera plane's are, to those bytes;
// false, with nothing written, unless every one is. The nearest integer to component * 255,
// clamped to a byte (NaN to 0), is only a candidate c; the lane is taken when the component equals
// byteToComponent(c), worked with rounding to nearest, and componentToByte gives back c for every
// byte's component.
template <class Ops>
[[gnu::always_inline]] inline bool sixteenFrameBytes(const float* in, std::uint8_t* out) {
  using F = typename Ops::Floats;
  constexpr int kVectors = 16 / Ops::kLanes;
  constexpr unsigned kEveryLane = (1u << Ops::kLanes) - 1;
  typename Ops::Ints candidate[kVectors];
  bool all = true;
#pragma GCC unroll 4
  for (int k = 0; k < kVectors; ++k) {
    const F x = Ops::load(in + Ops::kLanes * k);
    const F times255 = Ops::splat(255.0f);
    // max(NaN, 0) is its second operand, 0; the result then fails the comparison anyway.
    const F clamped = Ops::min(Ops::max(Ops::mul(x, times255), Ops::splat(0.0f)), times255);
    candidate[k] = Ops::nearestInts(clamped);
    all &= Ops::equal(Ops::timesByteScale(Ops::toFloats(candidate[k])), x) == kEveryLane;
  }
  if (!all) return false;
  Ops::storeBytes(candidate, out);
  return true;
}

// The columns of a row whose pixels match. Lane l of a step holds, at the offsets 0, 1 and 2, the
// three values of the pixel starting at value i + l; only the lanes that start a pixel are kept.
// A limit up to 255 works on saturated bytes: a sum of 255 or more saturates to 255, which is below
// no such limit. Larger limits add 16-bit lanes, unpacked and packed back within each 128-bit lane,
// so the packed comparison is in lane order again.
template <class Ops, bool kSixteenBit>
ColumnSpan matching(const std::uint8_t* bytes, const ColourTest& test) {
  using B = typename Ops::Bytes;
  constexpr int kLanes = sizeof(B);
  constexpr std::uint32_t kStarts[3] = {pixelStartBits(kLanes, 0), pixelStartBits(kLanes, 1),
                                        pixelStartBits(kLanes, 2)};
  const B blue = Ops::splat8(test.target[0]);
  const B green = Ops::splat8(test.target[1]);
  const B red = Ops::splat8(test.target[2]);
  const B highest = Ops::splat8(static_cast<std::uint8_t>(test.limit - 1));
  const B limit = Ops::splat16(test.limit);
  const std::uint32_t flip = test.invert ? static_cast<std::uint32_t>((1ull << kLanes) - 1) : 0u;
  ColumnSpan span{-1, -1};
  for (int i = 0, residue = 0; i < kRowValues; i += kLanes, residue = (residue + kLanes) % 3) {
    const B d0 = Ops::distance8(Ops::loadBytes(bytes + i), blue);
    const B d1 = Ops::distance8(Ops::loadBytes(bytes + i + 1), green);
    const B d2 = Ops::distance8(Ops::loadBytes(bytes + i + 2), red);
    B near;
    if constexpr (kSixteenBit) {
      const B low = Ops::add16(Ops::add16(Ops::widenLow(d0), Ops::widenLow(d1)), Ops::widenLow(d2));
      const B high =
          Ops::add16(Ops::add16(Ops::widenHigh(d0), Ops::widenHigh(d1)), Ops::widenHigh(d2));
      near = Ops::packs16(Ops::less16(low, limit), Ops::less16(high, limit));
    } else {
      const B sum = Ops::addSaturated8(Ops::addSaturated8(d0, d1), d2);
      near = Ops::equal8(Ops::min8(sum, highest), sum);
    }
    const std::uint32_t lanes = (Ops::byteSigns(near) ^ flip) & kStarts[residue];
    if (lanes == 0) continue;
    if (span.first < 0) span.first = (i + std::countr_zero(lanes)) / 3;
    span.last = (i + std::bit_width(lanes) - 1) / 3;
  }
  return span;
}
