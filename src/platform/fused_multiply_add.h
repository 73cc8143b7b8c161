#pragma once
// a * b + c for the kernels compiled once per instruction set: one rounding
// where the processor fuses (the AVX2 build), two in the plain AVX build. Only
// for *.isa.cpp sources; the functions live in the build's own namespace, so
// the two builds never share a definition.
#include <immintrin.h>

#include <cmath>

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "fused_multiply_add.h is for sources built with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

inline double MulAdd(double a, double b, double c) {
#if defined(TDX_ISA_AVX2)
  return std::fma(a, b, c);
#else
  return a * b + c;
#endif
}

inline __m256d MulAdd4(__m256d a, __m256d b, __m256d c) {
#if defined(TDX_ISA_AVX2)
  return _mm256_fmadd_pd(a, b, c);
#else
  return _mm256_add_pd(_mm256_mul_pd(a, b), c);
#endif
}

}  // namespace isa_avx2 / isa_avx
