// Conversions between frame bytes and plane components. Both targets must round identically,
// so every step names its precision.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace kinetiscan {

// The single-precision value nearest 1/255. With it, truncating (component * 255.0) in double
// gives back every byte exactly.
inline constexpr float kByteScale = std::bit_cast<float>(0x3B808081u);

inline float byteToComponent(std::uint8_t byte) { return static_cast<float>(byte) * kByteScale; }

// Truncation toward zero of (component * 255.0) in double, keeping the low 8 bits in two's
// complement. Exact for every finite input, also outside 0..1 (-1/255 gives 255). NaN and the
// infinities have no integer part and give 0; they cannot reach here from a frame, only from a
// plane that a broken parameter has spoilt.
inline std::uint8_t componentToByte(float component) {
  const double scaled = static_cast<double>(component) * 255.0;
  if (std::fabs(scaled) < 2147483648.0) {
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(scaled));
  }
  if (!std::isfinite(scaled)) return 0;
  // Beyond 32 bits: fmod is exact and keeps the sign, so the remainder carries the low 8 bits.
  return static_cast<std::uint8_t>(static_cast<std::int32_t>(std::fmod(std::trunc(scaled), 256.0)));
}

}  // namespace kinetiscan
