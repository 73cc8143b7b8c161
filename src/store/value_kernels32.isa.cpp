// The float row kernels, compiled once per instruction set. Hands go in blocks
// of eight with the refined approximate reciprocal and reciprocal square root;
// the last n % 8 hands use exact single-precision division and square roots.
// Rows of the arena stores are only 16-byte aligned, so every load and store is
// unaligned.
#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "store/value_kernels32.h"
#include "store/row_quotients.isa.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "value_kernels32.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

using row_quotients::Reciprocal;

namespace {

// c - a * b, fused where the processor allows.
inline __m256 NegMulAdd(__m256 a, __m256 b, __m256 c) {
#if defined(TDX_ISA_AVX2)
  return _mm256_fnmadd_ps(a, b, c);
#else
  return _mm256_sub_ps(c, _mm256_mul_ps(a, b));
#endif
}

// sqrt(x) = 0.5 x y (3 - x y y), y the approximate reciprocal square root
// refined by one step, taken as 0 for x below FLT_MIN (and for NaN).
inline __m256 SquareRoot(__m256 x) {
  const __m256 usable = _mm256_cmp_ps(x, _mm256_set1_ps(FLT_MIN), _CMP_GE_OQ);
  const __m256 y = _mm256_and_ps(_mm256_rsqrt_ps(x), usable);
  const __m256 xy = _mm256_mul_ps(x, y);
  return _mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(0.5f), xy),
                       NegMulAdd(xy, y, _mm256_set1_ps(3.0f)));
}

// A NaN goes through (as in the block form): the regret it reaches is NaN.
inline float ExactPower075(float x) {
  if (x < FLT_MIN) return 0.0f;
  const float root = std::sqrt(x);
  return root * std::sqrt(root);
}

// chosen where the lane of `lanes` is all ones, else other. Written with logic
// operations: GCC turns a blendv on a comparison result into scalar code in the
// plain AVX build.
inline __m256 Select(__m256 lanes, __m256 chosen, __m256 other) {
  return _mm256_or_ps(_mm256_and_ps(lanes, chosen), _mm256_andnot_ps(lanes, other));
}

inline __m256 Combine(__m128 low, __m128 high) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

inline __m256 LoadDoublesAsFloats(const double* p) {
  return Combine(_mm256_cvtpd_ps(_mm256_loadu_pd(p)), _mm256_cvtpd_ps(_mm256_loadu_pd(p + 4)));
}

inline void StoreFloatsAsDoubles(double* p, __m256 v) {
  _mm256_storeu_pd(p, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
  _mm256_storeu_pd(p + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
}

// The eight mask bytes from mask[0]; zero when no hand of the block is locked.
inline uint64_t MaskBits(const uint8_t* mask) {
  uint64_t bits;
  std::memcpy(&bits, mask, sizeof bits);
  return bits;
}

// All-ones lanes for the hands whose mask byte is 0 (the hands that change).
inline __m256 FreeLanes(uint64_t bits) {
  const __m128i bytes = _mm_cvtsi64_si128(static_cast<long long>(bits));
#if defined(TDX_ISA_AVX2)
  const __m256i wide = _mm256_cvtepu8_epi32(bytes);
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(wide, _mm256_setzero_si256()));
#else
  const __m128i low = _mm_cmpeq_epi32(_mm_cvtepu8_epi32(bytes), _mm_setzero_si128());
  const __m128i high =
      _mm_cmpeq_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)), _mm_setzero_si128());
  return Combine(_mm_castsi128_ps(low), _mm_castsi128_ps(high));
#endif
}

// d = action - node per hand in double, rounded to float; absent arrays are 0.
template <bool kNode, bool kAction>
inline __m256 Differences(const double* node, const double* action, int32_t k) {
  if constexpr (kNode && kAction) {
    const __m128 low = _mm256_cvtpd_ps(
        _mm256_sub_pd(_mm256_loadu_pd(action + k), _mm256_loadu_pd(node + k)));
    const __m128 high = _mm256_cvtpd_ps(
        _mm256_sub_pd(_mm256_loadu_pd(action + k + 4), _mm256_loadu_pd(node + k + 4)));
    return Combine(low, high);
  } else if constexpr (kAction) {
    return LoadDoublesAsFloats(action + k);
  } else if constexpr (kNode) {
    return _mm256_xor_ps(LoadDoublesAsFloats(node + k), _mm256_set1_ps(-0.0f));
  } else {
    return _mm256_setzero_ps();
  }
}

template <bool kNode, bool kAction>
inline float Difference(const double* node, const double* action, int32_t k) {
  const double a = kAction ? action[k] : 0.0;
  const double v = kNode ? node[k] : 0.0;
  return static_cast<float>(a - v);
}

template <bool kNode, bool kAction>
void UpdateRegretsRow(float* row, const double* node, const double* action, int32_t n,
                      const uint8_t* mask) {
  const __m256 sign_bit = _mm256_set1_ps(-0.0f);
  const __m256 flt_min = _mm256_set1_ps(FLT_MIN);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t bits = 0;
    if (mask) {
      bits = MaskBits(mask + k);
      if (bits == 0x0101010101010101ull) continue;  // every hand locked
    }
    const __m256 d = Differences<kNode, kAction>(node, action, k);
    const __m256 x = _mm256_andnot_ps(sign_bit, d);
    const __m256 root = SquareRoot(x);
    const __m256 t = _mm256_mul_ps(root, SquareRoot(root));
    // r + t for d >= 0, r - t for d < 0 (t carries d's sign).
    const __m256 r = _mm256_loadu_ps(row + k);
    const __m256 sum = _mm256_add_ps(r, _mm256_or_ps(t, _mm256_and_ps(d, sign_bit)));
    __m256 result = _mm256_andnot_ps(_mm256_cmp_ps(sum, flt_min, _CMP_LT_OQ), sum);
    if (bits != 0) result = Select(FreeLanes(bits), result, r);
    _mm256_storeu_ps(row + k, result);
  }
  for (; k < n; ++k) {
    if (mask && mask[k]) continue;
    const float d = Difference<kNode, kAction>(node, action, k);
    const float t = ExactPower075(std::fabs(d));
    const float sum = d >= 0.0f ? row[k] + t : row[k] - t;
    row[k] = sum < FLT_MIN ? 0.0f : sum;
  }
}

// out = row * (1 / sum) where sum >= FLT_MIN, else the default.
inline __m256 Quotient(__m256 row, __m256 sum, __m256 reciprocal, __m256 fallback) {
  const __m256 usable = _mm256_cmp_ps(sum, _mm256_set1_ps(FLT_MIN), _CMP_GE_OQ);
  return Select(usable, _mm256_mul_ps(row, reciprocal), fallback);
}

inline double ExactQuotient(float row, float sum, float fallback) {
  return sum >= FLT_MIN ? static_cast<double>(row / sum) : static_cast<double>(fallback);
}

void SumValues32(float* sums, const float* row, int32_t n) {
  int32_t k = 0;
  for (; k + 8 <= n; k += 8)
    _mm256_storeu_ps(sums + k, _mm256_add_ps(_mm256_loadu_ps(sums + k), _mm256_loadu_ps(row + k)));
  for (; k < n; ++k) sums[k] += row[k];
}

void NormalizeValues32(double* out, const float* row, const float* sums, int32_t n,
                       float default_value) {
  const __m256 fallback = _mm256_set1_ps(default_value);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 sum = _mm256_loadu_ps(sums + k);
    StoreFloatsAsDoubles(out + k,
                         Quotient(_mm256_loadu_ps(row + k), sum, Reciprocal(sum), fallback));
  }
  for (; k < n; ++k) out[k] = ExactQuotient(row[k], sums[k], default_value);
}

void NormalizeValues32x2(const float* row0, const float* row1, double* out0, double* out1,
                         int32_t n, const float* defaults) {
  const __m256 fallback0 = _mm256_set1_ps(defaults[0]);
  const __m256 fallback1 = _mm256_set1_ps(defaults[1]);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 v0 = _mm256_loadu_ps(row0 + k);
    const __m256 v1 = _mm256_loadu_ps(row1 + k);
    const __m256 sum = _mm256_add_ps(v0, v1);
    const __m256 reciprocal = Reciprocal(sum);
    StoreFloatsAsDoubles(out0 + k, Quotient(v0, sum, reciprocal, fallback0));
    StoreFloatsAsDoubles(out1 + k, Quotient(v1, sum, reciprocal, fallback1));
  }
  for (; k < n; ++k) {
    const float sum = row0[k] + row1[k];
    out0[k] = ExactQuotient(row0[k], sum, defaults[0]);
    out1[k] = ExactQuotient(row1[k], sum, defaults[1]);
  }
}

void NormalizeValues32x3(const float* row0, const float* row1, const float* row2, double* out0,
                         double* out1, double* out2, int32_t n, const float* defaults) {
  const __m256 fallback0 = _mm256_set1_ps(defaults[0]);
  const __m256 fallback1 = _mm256_set1_ps(defaults[1]);
  const __m256 fallback2 = _mm256_set1_ps(defaults[2]);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 v0 = _mm256_loadu_ps(row0 + k);
    const __m256 v1 = _mm256_loadu_ps(row1 + k);
    const __m256 v2 = _mm256_loadu_ps(row2 + k);
    const __m256 sum = _mm256_add_ps(_mm256_add_ps(v0, v1), v2);
    const __m256 reciprocal = Reciprocal(sum);
    StoreFloatsAsDoubles(out0 + k, Quotient(v0, sum, reciprocal, fallback0));
    StoreFloatsAsDoubles(out1 + k, Quotient(v1, sum, reciprocal, fallback1));
    StoreFloatsAsDoubles(out2 + k, Quotient(v2, sum, reciprocal, fallback2));
  }
  for (; k < n; ++k) {
    const float sum = (row0[k] + row1[k]) + row2[k];
    out0[k] = ExactQuotient(row0[k], sum, defaults[0]);
    out1[k] = ExactQuotient(row1[k], sum, defaults[1]);
    out2[k] = ExactQuotient(row2[k], sum, defaults[2]);
  }
}

void SetActionValues32(float* row, const double* values, int32_t n) {
  int32_t k = 0;
  if (!values) {
    for (; k + 8 <= n; k += 8) _mm256_storeu_ps(row + k, _mm256_setzero_ps());
    for (; k < n; ++k) row[k] = 0.0f;
    return;
  }
  for (; k + 8 <= n; k += 8) _mm256_storeu_ps(row + k, LoadDoublesAsFloats(values + k));
  for (; k < n; ++k) row[k] = static_cast<float>(values[k]);
}

void UpdateRegrets32(float* row, const double* node_values, const double* action_values,
                     int32_t n, const uint8_t* mask) {
  if (node_values) {
    if (action_values)
      UpdateRegretsRow<true, true>(row, node_values, action_values, n, mask);
    else
      UpdateRegretsRow<true, false>(row, node_values, action_values, n, mask);
  } else {
    if (action_values)
      UpdateRegretsRow<false, true>(row, node_values, action_values, n, mask);
    else
      UpdateRegretsRow<false, false>(row, node_values, action_values, n, mask);
  }
}

void AccumulateStrategy32(float* sums, const double* strategy, const double* reach,
                          double weight, int32_t n, const uint8_t* mask) {
  // Absent strategy or reach: the products are zeros and add nothing.
  if (!(weight > 0.0) || !strategy || !reach) return;
  const __m256d w = _mm256_set1_pd(weight);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t bits = 0;
    if (mask) {
      bits = MaskBits(mask + k);
      if (bits == 0x0101010101010101ull) continue;
    }
    // (weight * strategy) * reach in double, rounded once, added in float.
    const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(
        _mm256_mul_pd(w, _mm256_loadu_pd(strategy + k)), _mm256_loadu_pd(reach + k)));
    const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(
        _mm256_mul_pd(w, _mm256_loadu_pd(strategy + k + 4)), _mm256_loadu_pd(reach + k + 4)));
    const __m256 old = _mm256_loadu_ps(sums + k);
    __m256 result = _mm256_add_ps(old, Combine(low, high));
    if (bits != 0) result = Select(FreeLanes(bits), result, old);
    _mm256_storeu_ps(sums + k, result);
  }
  for (; k < n; ++k) {
    if (mask && mask[k]) continue;
    sums[k] += static_cast<float>((weight * strategy[k]) * reach[k]);
  }
}

}  // namespace

const ValueKernels32 kValueKernels32 = {
    .SumValues32 = SumValues32,
    .NormalizeValues32 = NormalizeValues32,
    .NormalizeValues32x2 = NormalizeValues32x2,
    .NormalizeValues32x3 = NormalizeValues32x3,
    .SetActionValues32 = SetActionValues32,
    .UpdateRegrets32 = UpdateRegrets32,
    .AccumulateStrategy32 = AccumulateStrategy32,
};

}  // namespace isa_avx2 / isa_avx
