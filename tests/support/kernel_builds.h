#pragma once
// Every build of a module's kernel table that this processor runs, for tests
// that run every case on each: the plain AVX build always, the AVX2/FMA build
// where the processor has it, the AVX-512 build where it has that too. A build
// is its table (a copy of isa_avx::kXKernels, isa_avx2::kXKernels or
// isa_avx512::kXKernels) with a name.
#include <vector>

#include "platform/cpu_features.h"

template <class Table>
struct BuildUnderTest : Table {
  const char* name;  // "avx", "avx2" or "avx512"
  bool avx2;         // an AVX2/FMA or AVX-512 build, which fuses multiply-adds
};

template <class Table>
std::vector<BuildUnderTest<Table>> BuildsUnderTest(const Table& avx, const Table& avx2,
                                                   const Table& avx512) {
  std::vector<BuildUnderTest<Table>> builds = {{avx, "avx", false}};
  if (CpuHasAvx2Fma()) builds.push_back({avx2, "avx2", true});
  if (CpuHasAvx512()) builds.push_back({avx512, "avx512", true});
  return builds;
}
