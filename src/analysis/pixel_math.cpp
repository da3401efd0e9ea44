// The MXCSR switch behind NearestRounding: one read and two writes per scope, out of line so that
// the compiler keeps the arithmetic that reads and writes memory between them.
#include "analysis/pixel_math.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>

namespace kinetiscan {

// MXCSR: round to nearest (rounding bits 0), no flush to zero (bit 15), no denormals-are-zero
// (bit 6), every exception masked (bits 7-12); the sticky flags stay as they are.
NearestRounding::NearestRounding() : saved_(_mm_getcsr()) {
  _mm_setcsr((saved_ & ~0xE040u) | 0x1F80u);
}
NearestRounding::~NearestRounding() { _mm_setcsr(saved_); }

}  // namespace kinetiscan

#else

namespace kinetiscan {
NearestRounding::NearestRounding() = default;
NearestRounding::~NearestRounding() = default;
}  // namespace kinetiscan

#endif
