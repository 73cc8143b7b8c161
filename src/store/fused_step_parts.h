#pragma once
// Parts of the one-pass decision steps shared by the 16-bit and the float
// kernels. Only for *.isa.cpp sources; they live in the build's own namespace.
#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "platform/fused_multiply_add.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "fused_step_parts.h is for sources built with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

// f(std::integral_constant<int, A>) for the action count A = actions, 1 to 8
// (the fused steps' limit); nothing for any other count.
template <typename F>
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

// One action's share of the node value of a block of eight hands: its
// strategy q times its values at k, the product of action 0 opening the sum
// (low: hands k .. k + 3, high: k + 4 .. k + 7), a later action's added with a
// multiply-add (to zeros when it is the first present), as the node value is
// combined from the children's arrays.
inline void AddActionValue(int32_t action, __m256 q, const double* values, int32_t k,
                           __m256d& low, __m256d& high) {
  const __m256d s_low = _mm256_cvtps_pd(_mm256_castps256_ps128(q));
  const __m256d s_high = _mm256_cvtps_pd(_mm256_extractf128_ps(q, 1));
  const __m256d v_low = _mm256_loadu_pd(values + k);
  const __m256d v_high = _mm256_loadu_pd(values + k + 4);
  if (action == 0) {
    low = _mm256_mul_pd(v_low, s_low);
    high = _mm256_mul_pd(v_high, s_high);
  } else {
    low = MulAdd4(v_low, s_low, low);
    high = MulAdd4(v_high, s_high, high);
  }
}

// One action of the opponent's step on a block of eight hands at h: the
// strategy q times the reach (r_low, r_high) into out, added to the running
// sums, and with a sums row AccumulateStrategy32's additions with weight w.
inline void OpponentBlock(__m256 q, __m256d r_low, __m256d r_high, __m256d w, float* sums_row,
                          double* out, int32_t h, __m256d& sum0, __m256d& sum1) {
  const __m256d s_low = _mm256_cvtps_pd(_mm256_castps256_ps128(q));
  const __m256d s_high = _mm256_cvtps_pd(_mm256_extractf128_ps(q, 1));
  if (sums_row) {
    float* row = sums_row + h;
    const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(w, s_low), r_low));
    const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(w, s_high), r_high));
    const __m256 added = _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
    _mm256_storeu_ps(row, _mm256_add_ps(_mm256_loadu_ps(row), added));
  }
  const __m256d p_low = _mm256_mul_pd(s_low, r_low);
  const __m256d p_high = _mm256_mul_pd(s_high, r_high);
  _mm256_storeu_pd(out + h, p_low);
  _mm256_storeu_pd(out + h + 4, p_high);
  sum0 = _mm256_add_pd(sum0, p_low);
  sum1 = _mm256_add_pd(sum1, p_high);
}

// The end of the opponent's step for one action. sigma: the strategy of hands whole .. n - 1 (at most eight). The
// strategy-sum additions of AccumulateStrategy32 (sums row null: none), the
// products with the reach into out, and the sum of every product of the row
// as MultiplyInPlacePruned forms it: sum0 and sum1 carry the blocks of eight,
// a last block of four joins sum0, the lanes go pairwise, then the remaining
// hands one by one.
inline double FinishOpponentRow(double* out, const double* sigma, const double* reach,
                                int32_t whole, int32_t n, __m256d sum0, __m256d sum1,
                                float* sums_row, double weight) {
  if (sums_row)
    for (int32_t k = whole; k < n; ++k)
      sums_row[k] += static_cast<float>((weight * sigma[k - whole]) * reach[k]);
  int32_t h = whole;
  if (h + 4 <= n) {
    const __m256d p = _mm256_mul_pd(_mm256_loadu_pd(sigma), _mm256_loadu_pd(reach + h));
    _mm256_storeu_pd(out + h, p);
    sum0 = _mm256_add_pd(sum0, p);
    h += 4;
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, _mm256_add_pd(sum0, sum1));
  double sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  for (; h < n; ++h) {
    const double p = sigma[h - whole] * reach[h];
    out[h] = p;
    sum += p;
  }
  return sum;
}

}  // namespace isa_avx2 / isa_avx
