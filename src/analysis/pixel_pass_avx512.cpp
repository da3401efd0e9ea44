// The per-pixel pass for processors with AVX-512, chosen at run time; everything here is
// compiled for AVX-512 while the rest of the library stays SSE2.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"
#include "analysis/pixel_pass.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

// Only functions with internal linkage below: an inline function with external linkage compiled
// here could be picked by the linker for callers on processors without AVX-512.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,fma")

namespace kinetiscan {
namespace {
#define KINETISCAN_AVX512_ADAPTATION
#include "analysis/pixel_pass_avx_kernel.h"  // NOLINT(build/include)
}  // namespace

void pixelPassAvx512(const PixelPass& pass) { runPass(pass); }

}  // namespace kinetiscan

#pragma GCC pop_options

#else

namespace kinetiscan {
void pixelPassAvx512(const PixelPass& pass) { pixelPassPlain(pass); }
}  // namespace kinetiscan

#endif
