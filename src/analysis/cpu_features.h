// What the processor and the operating system let the pixel pass use, asked of the processor
// itself (CPUID) and of the system (XGETBV: does it save the wide registers on a task switch).
#pragma once

namespace kinetiscan {

struct CpuFeatures {
  bool avx2 = false;     // with FMA, which the wide paths' adaptation uses
  bool avx512f = false;  // only with avx2, which the AVX-512 pass uses as well
};

CpuFeatures detectCpuFeatures();

}  // namespace kinetiscan
