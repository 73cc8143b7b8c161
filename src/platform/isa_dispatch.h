#pragma once
// The kernels compiled once per instruction set. Every src/**/X.isa.cpp is
// compiled for AVX2 with FMA into namespace isa_avx2, for plain AVX into
// namespace isa_avx, and for AVX-512 into namespace isa_avx512, and ends in one
// table of its entries: the plain struct XKernels of X.h, one function pointer
// per entry. TDX_KERNEL_TABLES(XKernels) in X.h declares the three tables,
// isa_avx512::kXKernels, isa_avx2::kXKernels and isa_avx::kXKernels, and lets
// Kernels<XKernels>() answer the one of the build in use.
//
// The AVX-512 build is the AVX2 build's source compiled with the wider
// instruction sets enabled: it defines TDX_ISA_AVX512 as well as TDX_ISA_AVX2,
// and its command line renames the namespace isa_avx2 to isa_avx512 (see
// CMakeLists.txt), so a source needs AVX-512 code of its own only where that
// pays (none does today: see CMakeLists.txt). Under that rename the AVX-512
// sources could not name the AVX2 tables, so there Kernels<XKernels>() is
// deleted: a kernel calls the kernels of its own build directly, never through
// the run-time choice.
#include <cstdint>

enum class KernelBuild : uint8_t { kAvx, kAvx2Fma, kAvx512 };

// The build in use, chosen once from the processor's features when they are
// read (InitCpuFeatures, the first step of every entry point). The plain AVX
// build until then.
extern KernelBuild g_kernel_build;

// A module's kernel table in the build in use. Callers in loops take it once:
// `const XKernels& k = Kernels<XKernels>();`.
template <class Table>
const Table& Kernels();

#if defined(TDX_ISA_AVX512)
#define TDX_KERNEL_TABLES(Table)  \
  namespace isa_avx512 {          \
  extern const Table k##Table;    \
  }                               \
  namespace isa_avx {             \
  extern const Table k##Table;    \
  }                               \
  template <>                     \
  const Table& Kernels<Table>() = delete;
#else
#define TDX_KERNEL_TABLES(Table)                              \
  namespace isa_avx512 {                                      \
  extern const Table k##Table;                                \
  }                                                           \
  namespace isa_avx2 {                                        \
  extern const Table k##Table;                                \
  }                                                           \
  namespace isa_avx {                                         \
  extern const Table k##Table;                                \
  }                                                           \
  template <>                                                 \
  inline const Table& Kernels<Table>() {                      \
    switch (g_kernel_build) {                                 \
      case KernelBuild::kAvx512: return isa_avx512::k##Table; \
      case KernelBuild::kAvx2Fma: return isa_avx2::k##Table;  \
      case KernelBuild::kAvx: break;                          \
    }                                                         \
    return isa_avx::k##Table;                                 \
  }
#endif
