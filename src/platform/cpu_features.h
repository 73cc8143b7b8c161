#pragma once
#include <cstdint>

// Processor features that decide whether the engine can run at all (AVX) and
// which build of the hot numeric routines it uses (AVX2 with FMA, or plain AVX).
enum CpuFeature : uint32_t {
  CPU_AVX = 1u << 0,   // AVX instructions and the OS saves the YMM state
  CPU_AVX2 = 1u << 1,
  CPU_FMA = 1u << 2,
  CPU_BMI1 = 1u << 3,
  CPU_BMI2 = 1u << 4,
  CPU_POPCNT = 1u << 5,
  CPU_FEATURES_READ = 1u << 31,
};

// The feature word, filled once by InitCpuFeatures at process entry.
extern uint32_t g_cpu_features;

// Reads cpuid/xgetbv once and chooses the kernel build (g_kernel_build);
// later calls do nothing.
void InitCpuFeatures();

// The decoding step on its own, from cpuid leaf 1 ECX, leaf 7 EBX and XCR0
// (XCR0 is only meaningful when OSXSAVE is set in leaf 1 ECX).
uint32_t DecodeCpuFeatures(uint32_t leaf1_ecx, uint32_t leaf7_ebx, uint64_t xcr0);

inline bool CpuHasAvx() { return (g_cpu_features & CPU_AVX) != 0; }
// The AVX2 build also fuses multiplications and additions, so it needs both.
inline bool CpuHasAvx2Fma() {
  return (g_cpu_features & (CPU_AVX | CPU_AVX2 | CPU_FMA)) == (CPU_AVX | CPU_AVX2 | CPU_FMA);
}
