#pragma once
// Both builds of a module's kernel table, for tests that run every case on
// each: the plain AVX build always, the AVX2/FMA build where the processor has
// it. A build is its table (a copy of isa_avx::kXKernels or
// isa_avx2::kXKernels) with a name.
#include <vector>

#include "platform/cpu_features.h"

template <class Table>
struct BuildUnderTest : Table {
  const char* name;  // "avx" or "avx2"
  bool avx2;         // the AVX2/FMA build, which fuses multiply-adds
};

template <class Table>
std::vector<BuildUnderTest<Table>> BuildsUnderTest(const Table& avx, const Table& avx2) {
  std::vector<BuildUnderTest<Table>> builds = {{avx, "avx", false}};
  if (CpuHasAvx2Fma()) builds.push_back({avx2, "avx2", true});
  return builds;
}
