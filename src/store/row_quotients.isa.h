#pragma once
// The strategy quotients every store's row kernels share, value / sum from the
// refined reciprocal, so that equal sums give equal strategy bits whichever
// store holds them. Included by the *.isa.cpp files only: it takes the build's
// instruction set from TDX_ISA_AVX2 / TDX_ISA_AVX like them.
#include <immintrin.h>

#include <cfloat>
#include <cstdint>
#include <type_traits>

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

// Eight 16-bit values as floats.
inline __m256 LoadU16AsFloat(const uint16_t* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
#if defined(TDX_ISA_AVX2)
  return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(v));
#else
  const __m256i wide = _mm256_insertf128_si256(_mm256_castsi128_si256(_mm_cvtepu16_epi32(v)),
                                               _mm_cvtepu16_epi32(_mm_srli_si128(v, 8)), 1);
  return _mm256_cvtepi32_ps(wide);
#endif
}

// The strategy of eight hands from the 16-bit rows, as the normalisers give
// it: the rows as floats, their sum (exact: integers far below 2^24, so the
// order of the additions does not matter), value x refined reciprocal of the
// sum, or the default where the sum is below FLT_MIN.
inline void BlockStrategy(const uint16_t* const* rows, int32_t actions, int32_t h,
                          const float* defaults, __m256* q) {
  __m256 sum = LoadU16AsFloat(rows[0] + h);
  q[0] = sum;
  for (int32_t a = 1; a < actions; ++a) {
    q[a] = LoadU16AsFloat(rows[a] + h);
    sum = _mm256_add_ps(sum, q[a]);
  }
  for (int32_t a = 0; a < actions; ++a) q[a] = Quotient(q[a], sum, _mm256_set1_ps(defaults[a]));
}

// The strategy of one hand from the 16-bit rows, exact division.
inline void OneStrategy(const uint16_t* const* rows, int32_t actions, int32_t h,
                        const float* defaults, double* sigma) {
  float sum = 0.0f;
  for (int32_t a = 0; a < actions; ++a) sum += static_cast<float>(rows[a][h]);
  for (int32_t a = 0; a < actions; ++a)
    sigma[a] = ScalarQuotient(static_cast<float>(rows[a][h]), sum, defaults[a]);
}

inline void StoreAsDouble(double* out, __m256 v) {
  _mm256_storeu_pd(out, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
  _mm256_storeu_pd(out + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
}

// Runs f(std::integral_constant<int, A>{}) for actions = A in 1 .. 8, so that
// a kernel's per-count template is chosen once per call; other counts do
// nothing.
template <class F>
inline void WithActionCount(int32_t actions, F&& f) {
  switch (actions) {
    case 1: return f(std::integral_constant<int, 1>{});
    case 2: return f(std::integral_constant<int, 2>{});
    case 3: return f(std::integral_constant<int, 3>{});
    case 4: return f(std::integral_constant<int, 4>{});
    case 5: return f(std::integral_constant<int, 5>{});
    case 6: return f(std::integral_constant<int, 6>{});
    case 7: return f(std::integral_constant<int, 7>{});
    case 8: return f(std::integral_constant<int, 8>{});
    default: return;
  }
}

}  // namespace row_quotients
}  // namespace isa_avx2 / isa_avx
