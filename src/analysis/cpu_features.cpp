// CPUID and XGETBV, in a unit of their own so that nothing else depends on how they are asked.
// The same on both targets: the i686 DLL chooses its wide paths as the native library does.
#include "analysis/cpu_features.h"

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kinetiscan {

#if defined(__i386__) || defined(__x86_64__)
namespace {

// The register state the system saves: bits 1-2 the SSE and AVX halves, 5-7 the AVX-512 ones.
std::uint64_t enabledState() {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0u));
  return static_cast<std::uint64_t>(high) << 32 | low;
}

constexpr std::uint64_t kYmmState = 0x6;
constexpr std::uint64_t kZmmState = 0xE6;

}  // namespace

CpuFeatures detectCpuFeatures() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return {};
  // XGETBV exists only where the system has turned XSAVE on.
  if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return {};
  // Every processor with AVX2 has FMA as well, but the wide adaptation is only sound with it.
  const bool fma = (ecx & bit_FMA) != 0;
  const std::uint64_t state = enabledState();
  if ((state & kYmmState) != kYmmState) return {};
  if (__get_cpuid_max(0, nullptr) < 7) return {};
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  CpuFeatures features;
  features.avx2 = fma && (ebx & bit_AVX2) != 0;
  features.avx512f = features.avx2 && (ebx & bit_AVX512F) != 0 && (state & kZmmState) == kZmmState;
  return features;
}

#else

CpuFeatures detectCpuFeatures() { return {}; }

#endif

}  // namespace kinetiscan
