// The per-pixel pass for processors with AVX2, chosen at run time; everything here is
// compiled for AVX2 while the rest of the library stays SSE2.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below: an inline function with external linkage compiled
// here could be picked by the linker for callers on processors without AVX2.
#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace kinetiscan {
namespace {
#include "analysis/pixel_pass_avx_kernel.h"  // NOLINT(build/include)
}  // namespace

void pixelPassAvx2(const PixelPass& pass) { runPass(pass); }

}  // namespace kinetiscan

#pragma GCC pop_options

#else

namespace kinetiscan {
void pixelPassAvx2(const PixelPass& pass) { pixelPassPlain(pass); }
}  // namespace kinetiscan

#endif
