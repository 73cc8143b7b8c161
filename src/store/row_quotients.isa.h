#pragma once
// The strategy quotients every store's row kernels share, value / sum from the
// refined reciprocal, so that equal sums give equal strategy bits whichever
// store holds them. Included by the *.isa.cpp files only: it takes the build's
// instruction set from TDX_ISA_AVX2 / TDX_ISA_AVX like them.
#include <immintrin.h>

#include <cfloat>

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "row_quotients.isa.h is included only by builds with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif
namespace row_quotients {

// 1 / s from the approximate reciprocal refined by one Newton-Raphson step,
// r <- 2r - (s r) r (fused where the build fuses); (s r) is near 1, so tiny
// sums cannot overflow r^2.
inline __m256 Reciprocal(__m256 s) {
  const __m256 r = _mm256_rcp_ps(s);
#if defined(TDX_ISA_AVX2)
  return _mm256_fnmadd_ps(_mm256_mul_ps(s, r), r, _mm256_add_ps(r, r));
#else
  return _mm256_sub_ps(_mm256_add_ps(r, r), _mm256_mul_ps(_mm256_mul_ps(s, r), r));
#endif
}

// value / sum where sum >= FLT_MIN, else the default.
inline __m256 Quotient(__m256 value, __m256 sum, __m256 fallback) {
  const __m256 valid = _mm256_cmp_ps(sum, _mm256_set1_ps(FLT_MIN), _CMP_GE_OQ);
  return _mm256_blendv_ps(fallback, _mm256_mul_ps(value, Reciprocal(sum)), valid);
}

// The same for the remainder of a row, in exact single precision.
inline double ScalarQuotient(float value, float sum, float fallback) {
  return sum >= FLT_MIN ? static_cast<double>(value / sum) : static_cast<double>(fallback);
}

inline void StoreAsDouble(double* out, __m256 v) {
  _mm256_storeu_pd(out, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
  _mm256_storeu_pd(out + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
}

}  // namespace row_quotients
}  // namespace isa_avx2 / isa_avx
