#pragma once
#include <cstdint>

// Processor features that decide whether the engine can run at all (AVX) and
// which build of the hot numeric routines it uses (AVX-512, AVX2 with FMA, or
// plain AVX).
enum CpuFeature : uint32_t {
  CPU_AVX = 1u << 0,   // AVX instructions and the OS saves the YMM state
  CPU_AVX2 = 1u << 1,
  CPU_FMA = 1u << 2,
  CPU_BMI1 = 1u << 3,
  CPU_BMI2 = 1u << 4,
  CPU_POPCNT = 1u << 5,
  // AVX-512 F, BW, DQ and VL, and the OS saves the opmask and ZMM state.
  CPU_AVX512 = 1u << 6,
  CPU_FEATURES_READ = 1u << 31,
};

// The feature word, filled once by InitCpuFeatures at process entry.
extern uint32_t g_cpu_features;

// Reads cpuid/xgetbv once and chooses the kernel build (g_kernel_build);
// later calls do nothing. The environment variable TDX_KERNEL_BUILD ("avx2" or
// "avx") makes it choose a lower build than the processor allows: a testing and
// diagnostic aid, so that one machine can run the suite on every build. A build
// the processor cannot run is never chosen, and other values are ignored.
void InitCpuFeatures();

// The decoding step on its own, from cpuid leaf 1 ECX, leaf 7 EBX and XCR0
// (XCR0 is only meaningful when OSXSAVE is set in leaf 1 ECX).
uint32_t DecodeCpuFeatures(uint32_t leaf1_ecx, uint32_t leaf7_ebx, uint64_t xcr0);

enum class KernelBuild : uint8_t;

// The build InitCpuFeatures chooses for a feature word and the value of
// TDX_KERNEL_BUILD (null when unset): the best the processor runs, or the lower
// build asked for.
KernelBuild ChooseKernelBuild(uint32_t features, const char* requested);

inline bool CpuHasAvx() { return (g_cpu_features & CPU_AVX) != 0; }
// The AVX2 build also fuses multiplications and additions, so it needs both.
inline bool CpuHasAvx2Fma() {
  return (g_cpu_features & (CPU_AVX | CPU_AVX2 | CPU_FMA)) == (CPU_AVX | CPU_AVX2 | CPU_FMA);
}
// The AVX-512 build is the AVX2 build's code compiled for AVX-512, so it needs
// all of that too.
inline bool CpuHasAvx512() { return CpuHasAvx2Fma() && (g_cpu_features & CPU_AVX512) != 0; }
