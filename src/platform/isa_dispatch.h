#pragma once
// The twice-compiled kernels. Every src/**/X.isa.cpp is compiled for AVX2 with
// FMA into namespace isa_avx2 and for plain AVX into namespace isa_avx, and ends
// in one table of its entries: the plain struct XKernels of X.h, one function
// pointer per entry. TDX_KERNEL_TABLES(XKernels) in X.h declares the two tables,
// isa_avx2::kXKernels and isa_avx::kXKernels, and lets Kernels<XKernels>()
// answer the one of the build in use.
#include <cstdint>

enum class KernelBuild : uint8_t { kAvx, kAvx2Fma };

// The build in use, chosen once from the processor's features when they are
// read (InitCpuFeatures, the first step of every entry point). The plain AVX
// build until then.
extern KernelBuild g_kernel_build;

// A module's kernel table in the build in use. Callers in loops take it once:
// `const XKernels& k = Kernels<XKernels>();`.
template <class Table>
const Table& Kernels();

#define TDX_KERNEL_TABLES(Table)                                         \
  namespace isa_avx2 {                                                   \
  extern const Table k##Table;                                           \
  }                                                                      \
  namespace isa_avx {                                                    \
  extern const Table k##Table;                                           \
  }                                                                      \
  template <>                                                            \
  inline const Table& Kernels<Table>() {                                 \
    return g_kernel_build == KernelBuild::kAvx2Fma ? isa_avx2::k##Table  \
                                                   : isa_avx::k##Table;  \
  }
