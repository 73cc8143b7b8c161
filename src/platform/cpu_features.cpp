#include "platform/cpu_features.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "platform/isa_dispatch.h"

uint32_t g_cpu_features = 0;

uint32_t DecodeCpuFeatures(uint32_t leaf1_ecx, uint32_t leaf7_ebx, uint64_t xcr0) {
  uint32_t features = CPU_FEATURES_READ;
  const bool osxsave = (leaf1_ecx >> 27) & 1;
  // The OS must save XMM and YMM state (XCR0 bits 1 and 2) or AVX code faults.
  const bool ymm_saved = osxsave && (xcr0 & 0x6) == 0x6;
  // AVX-512 code also needs the opmask, upper-ZMM and high-ZMM state (bits 5-7).
  const bool zmm_saved = ymm_saved && (xcr0 & 0xe0) == 0xe0;
  if (((leaf1_ecx >> 28) & 1) && ymm_saved) features |= CPU_AVX;
  if ((leaf1_ecx >> 23) & 1) features |= CPU_POPCNT;
  if (((leaf1_ecx >> 12) & 1) && ymm_saved) features |= CPU_FMA;
  if (((leaf7_ebx >> 5) & 1) && ymm_saved) features |= CPU_AVX2;
  if ((leaf7_ebx >> 3) & 1) features |= CPU_BMI1;
  if ((leaf7_ebx >> 8) & 1) features |= CPU_BMI2;
  // F (bit 16), DQ (17), BW (30) and VL (31).
  const uint32_t avx512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
  if ((leaf7_ebx & avx512) == avx512 && zmm_saved) features |= CPU_AVX512;
  return features;
}

KernelBuild ChooseKernelBuild(uint32_t features, const char* requested) {
  const uint32_t avx2_fma = CPU_AVX | CPU_AVX2 | CPU_FMA;
  KernelBuild best = KernelBuild::kAvx;
  if ((features & avx2_fma) == avx2_fma) {
    best = (features & CPU_AVX512) ? KernelBuild::kAvx512 : KernelBuild::kAvx2Fma;
  }
  if (requested == nullptr) return best;
  if (std::strcmp(requested, "avx") == 0) return KernelBuild::kAvx;
  if (std::strcmp(requested, "avx2") == 0 && best == KernelBuild::kAvx512) {
    return KernelBuild::kAvx2Fma;
  }
  return best;
}

void InitCpuFeatures() {
  if (g_cpu_features & CPU_FEATURES_READ) return;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  uint32_t leaf1_ecx = 0, leaf7_ebx = 0;
  const unsigned max_leaf = __get_cpuid_max(0, nullptr);
  if (max_leaf >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) leaf1_ecx = ecx;
  if (max_leaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    leaf7_ebx = ebx;
  }
  uint64_t xcr0 = 0;
  if ((leaf1_ecx >> 27) & 1) {
    uint32_t lo = 0, hi = 0;
    // xgetbv with ECX = 0; written as bytes so the baseline build needs no -mxsave.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (static_cast<uint64_t>(hi) << 32) | lo;
  }
  g_cpu_features = DecodeCpuFeatures(leaf1_ecx, leaf7_ebx, xcr0);
  g_kernel_build = ChooseKernelBuild(g_cpu_features, std::getenv("TDX_KERNEL_BUILD"));
}
