// The pixel arithmetic: conversions between frame bytes and plane components, the bound of the
// reciprocal adaptation, and the rounding scope they all run under. Both targets must round
// identically, so every step names its precision.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan {

// While it lives, SSE arithmetic rounds to nearest with no flushing of subnormals and every
// exception masked; the host's state, flags included, comes back at its end. Every entry from the
// host that does floating point holds one around that work, and only that work: the host's
// services and windows the plug-in calls meanwhile see the host's own state. The exactness of the
// conversions and of the vector paths' shortcuts below needs it. Nothing off x86. The x87 unit
// needs no such care: no code of the plug-in's uses it (see componentToByte and
// member_properties.cpp for what kept the i686 build off it).
class NearestRounding {
 public:
  NearestRounding();
  ~NearestRounding();
  NearestRounding(const NearestRounding&) = delete;
  NearestRounding& operator=(const NearestRounding&) = delete;

  // The compiler sees the scope's ends as calls that touch no value held in a register, and may
  // move arithmetic on such values across them: scalar work passes its operands and its result
  // through here. (Work that reads and writes memory stays inside by itself.)
  template <class T>
  static T held(T value) {
    __asm__ volatile("" : "+m"(value) : : "memory");
    return value;
  }

 private:
  unsigned saved_ = 0;
};

// The single-precision value nearest 1/255. With it, truncating (component * 255.0) in double
// gives back every byte exactly.
inline constexpr float kByteScale = std::bit_cast<float>(0x3B808081u);

inline float byteToComponent(std::uint8_t byte) { return static_cast<float>(byte) * kByteScale; }

// Truncation toward zero of (component * 255.0) in double, keeping the low 8 bits in two's
// complement. Exact for every finite input, also outside 0..1 (-1/255 gives 255), and the same in
// every rounding mode: a float times 255 is exact in double. NaN and the infinities have no
// integer part and give 0; they cannot reach here from a frame, only from a plane that a broken
// parameter has spoilt. The comparisons are quiet, so NaN raises nothing; and nothing here takes
// the i686 build to the x87 unit, as the C library's fabs and fmod would.
inline std::uint8_t componentToByte(float component) {
  const double scaled = static_cast<double>(component) * 255.0;
  if (std::isless(scaled, 2147483648.0) && std::isgreater(scaled, -2147483648.0)) {
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(scaled));
  }
  if (!std::isfinite(scaled)) return 0;
  // Beyond 32 bits: every step is exact, so the remainder keeps the sign and the low 8 bits.
  const double whole = std::trunc(scaled);
  return static_cast<std::uint8_t>(
      static_cast<std::int32_t>(whole - 256.0 * std::trunc(whole / 256.0)));
}

// Floats below this in magnitude are exactly those whose (component * 255.0) in double fits 32
// bits: floats here are whole numbers, and 2^31 / 255 lies between these two.
inline constexpr float kFitsInt32 = 8421505.0f;
static_assert(8421504.0 * 255.0 < 2147483648.0 && 8421505.0 * 255.0 >= 2147483648.0);

// componentToByte over count components, for a caller holding a NearestRounding: the comparisons
// below vectorise, and vector comparisons that SSE2 has are not quiet. A block whose values all fit
// 32 bits once scaled takes the plain truncation; fixed block lengths and unaliased pointers let
// the compiler vectorise both loops even at -O2. Other blocks (NaN, infinities, huge values) go
// through componentToByte one value at a time, so every byte is the one componentToByte gives.
inline void componentsToBytes(const float* __restrict components, std::uint8_t* __restrict bytes,
                              std::size_t count) {
  constexpr std::size_t kBlock = 16;
  std::size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    const float* __restrict in = components + i;
    std::uint8_t* __restrict out = bytes + i;
    int fitting = 0;  // a count, not a flag: the comparison of NaN is false as well
    for (std::size_t k = 0; k < kBlock; ++k) fitting += std::fabs(in[k]) < kFitsInt32;
    if (fitting == static_cast<int>(kBlock)) {
      for (std::size_t k = 0; k < kBlock; ++k) {
        out[k] = static_cast<std::uint8_t>(
            static_cast<std::int32_t>(static_cast<double>(in[k]) * 255.0));
      }
    } else {
      for (std::size_t k = 0; k < kBlock; ++k) out[k] = componentToByte(in[k]);
    }
  }
  for (; i < count; ++i) bytes[i] = componentToByte(components[i]);
}

// componentsToBytes over one row of a plane, kRowComponents components.
inline constexpr std::size_t kRowComponents = kColumns * kComponents;
inline void rowToBytes(const float* __restrict components, std::uint8_t* __restrict bytes) {
  static_assert(kRowComponents % 16 == 0);
  for (std::size_t i = 0; i < kRowComponents; i += 16)
    componentsToBytes(components + i, bytes + i, 16);
}

// The retina's adaptation, old + (camera - old) / adaptivity in double stored as single, may be
// worked with the reciprocal of an adaptivity of at least 1: the sum it gives lies within
// (|old| + |camera|) * kAdaptationBound of the sum the division gives, the single-precision sum
// |old| + |camera| included (docs/performance.md has the argument). Where the floats nearest the
// two ends of that interval are the same float, the division's sum rounds to it as well.
inline constexpr double kAdaptationBound = 0x1p-49;

}  // namespace kinetiscan
