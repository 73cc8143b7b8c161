// The block store's row kernels, compiled once per instruction set. The AVX2
// build fuses the reciprocal refinement and the accumulation's multiply-add.
#include <immintrin.h>

#include <cfloat>
#include <cstdint>

#include "store/block_store_kernels.h"
#include "store/row_quotients.isa.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "block_store_kernels.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

using row_quotients::BlockStrategy;
using row_quotients::LoadU16AsFloat;
using row_quotients::OneStrategy;
using row_quotients::Quotient;
using row_quotients::ScalarQuotient;
using row_quotients::StoreAsDouble;
using row_quotients::WithActionCount;

namespace {

constexpr double kMaxSum32 = 2147483647.0;

void NormalizeValues16x4(const uint16_t* const* rows, double* const* out, int32_t n,
                         const float* defaults) {
  __m256 fallback[4];
  for (int a = 0; a < 4; ++a) fallback[a] = _mm256_set1_ps(defaults[a]);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    __m256 v[4];
    for (int a = 0; a < 4; ++a) v[a] = LoadU16AsFloat(rows[a] + k);
    const __m256 s = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(v[0], v[1]), v[2]), v[3]);
    for (int a = 0; a < 4; ++a) StoreAsDouble(out[a] + k, Quotient(v[a], s, fallback[a]));
  }
  for (; k < n; ++k) {
    float v[4];
    for (int a = 0; a < 4; ++a) v[a] = rows[a][k];
    const float s = v[0] + v[1] + v[2] + v[3];
    for (int a = 0; a < 4; ++a) out[a][k] = ScalarQuotient(v[a], s, defaults[a]);
  }
}

// Eight 32-bit integers as floats.
inline __m256 LoadI32AsFloat(const int32_t* p) {
  return _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

void NormalizeIntValues32(const int32_t* const* rows, int32_t actions, int32_t n,
                          const float* defaults, double* const* out) {
  if (actions <= 0) return;
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    // The sum in doubles is exact (at most a few actions of below 2^31 each).
    __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
    for (int32_t a = 0; a < actions; ++a) {
      const __m128i* p = reinterpret_cast<const __m128i*>(rows[a] + k);
      low = _mm256_add_pd(low, _mm256_cvtepi32_pd(_mm_loadu_si128(p)));
      high = _mm256_add_pd(high, _mm256_cvtepi32_pd(_mm_loadu_si128(p + 1)));
    }
    const __m256 s =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(low)), _mm256_cvtpd_ps(high), 1);
    for (int32_t a = 0; a < actions; ++a)
      StoreAsDouble(out[a] + k,
                    Quotient(LoadI32AsFloat(rows[a] + k), s, _mm256_set1_ps(defaults[a])));
  }
  for (; k < n; ++k) {
    double total = 0.0;
    for (int32_t a = 0; a < actions; ++a) total += static_cast<double>(rows[a][k]);
    const float s = static_cast<float>(total);
    for (int32_t a = 0; a < actions; ++a)
      out[a][k] = ScalarQuotient(static_cast<float>(rows[a][k]), s, defaults[a]);
  }
}

inline __m256d Accumulated(__m256d v, __m256d product, __m256d w) {
#if defined(TDX_ISA_AVX2)
  const __m256d t = _mm256_add_pd(_mm256_fmadd_pd(w, product, v), _mm256_set1_pd(0.5));
#else
  const __m256d t = _mm256_add_pd(_mm256_add_pd(v, _mm256_mul_pd(w, product)), _mm256_set1_pd(0.5));
#endif
  // max first: it gives its second operand, 0, for a NaN.
  return _mm256_min_pd(_mm256_max_pd(t, _mm256_setzero_pd()), _mm256_set1_pd(kMaxSum32));
}

inline int32_t AccumulatedOne(int32_t v, double product, double w) {
#if defined(TDX_ISA_AVX2)
  double t = __builtin_fma(w, product, static_cast<double>(v)) + 0.5;
#else
  double t = static_cast<double>(v) + w * product + 0.5;
#endif
  if (!(t > 0.0)) t = 0.0;
  if (t > kMaxSum32) t = kMaxSum32;
  return static_cast<int32_t>(t);
}

inline __m256d Products(const double* strategy, const double* reach, int32_t k) {
  const __m256d s = _mm256_loadu_pd(strategy + k);
  return reach ? _mm256_mul_pd(s, _mm256_loadu_pd(reach + k)) : s;
}

void AccumulateValues32(int32_t* row, const double* strategy, const double* reach, double weight,
                        int32_t n, const uint8_t* mask) {
  if (!(weight > 0.0) || !strategy) return;
  const __m256d w = _mm256_set1_pd(weight);
  int32_t k = 0;
  if (!mask) {
    for (; k + 4 <= n; k += 4) {
      __m128i* p = reinterpret_cast<__m128i*>(row + k);
      const __m256d v = _mm256_cvtepi32_pd(_mm_loadu_si128(p));
      _mm_storeu_si128(p, _mm256_cvttpd_epi32(Accumulated(v, Products(strategy, reach, k), w)));
    }
  }
  for (; k < n; ++k)
    if (!mask || !mask[k])
      row[k] = AccumulatedOne(row[k], reach ? strategy[k] * reach[k] : strategy[k], weight);
}

// The sums' quotients of one block of eight hands, default 0, as
// NormalizeIntValues32 forms them, and their total over the actions in
// doubles, added in action order.
template <int32_t A>
inline void IntAverageBlock(const int32_t* const* rows, int32_t k, __m256d* low, __m256d* high,
                            __m256d* total_low, __m256d* total_high) {
  __m256d sum_low = _mm256_setzero_pd(), sum_high = _mm256_setzero_pd();
  for (int32_t a = 0; a < A; ++a) {
    const __m128i* p = reinterpret_cast<const __m128i*>(rows[a] + k);
    sum_low = _mm256_add_pd(sum_low, _mm256_cvtepi32_pd(_mm_loadu_si128(p)));
    sum_high = _mm256_add_pd(sum_high, _mm256_cvtepi32_pd(_mm_loadu_si128(p + 1)));
  }
  const __m256 s = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(sum_low)),
                                        _mm256_cvtpd_ps(sum_high), 1);
  for (int32_t a = 0; a < A; ++a) {
    const __m256 q = Quotient(LoadI32AsFloat(rows[a] + k), s, _mm256_setzero_ps());
    low[a] = _mm256_cvtps_pd(_mm256_castps256_ps128(q));
    high[a] = _mm256_cvtps_pd(_mm256_extractf128_ps(q, 1));
    *total_low = a == 0 ? low[a] : _mm256_add_pd(*total_low, low[a]);
    *total_high = a == 0 ? high[a] : _mm256_add_pd(*total_high, high[a]);
  }
}

template <int32_t A>
void AverageIntStrategyFixed(const int32_t* const* sum_rows, const uint16_t* const* regret_rows,
                             int32_t n, const float* uniform, double* const* out) {
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    __m256d low[A], high[A], total_low, total_high;
    IntAverageBlock<A>(sum_rows, k, low, high, &total_low, &total_high);
    const __m256d none_low = _mm256_cmp_pd(total_low, _mm256_setzero_pd(), _CMP_EQ_OQ);
    const __m256d none_high = _mm256_cmp_pd(total_high, _mm256_setzero_pd(), _CMP_EQ_OQ);
    // Hands with sums are the rule once the sums are in use: the regrets are
    // read only for a block that has a hand without.
    if (_mm256_movemask_pd(_mm256_or_pd(none_low, none_high)) != 0) {
      __m256 q[A];
      BlockStrategy(regret_rows, A, k, uniform, q);
      for (int32_t a = 0; a < A; ++a) {
        low[a] = _mm256_blendv_pd(low[a], _mm256_cvtps_pd(_mm256_castps256_ps128(q[a])), none_low);
        high[a] =
            _mm256_blendv_pd(high[a], _mm256_cvtps_pd(_mm256_extractf128_ps(q[a], 1)), none_high);
      }
    }
    for (int32_t a = 0; a < A; ++a) {
      _mm256_storeu_pd(out[a] + k, low[a]);
      _mm256_storeu_pd(out[a] + k + 4, high[a]);
    }
  }
  for (; k < n; ++k) {
    double sum = 0.0;
    for (int32_t a = 0; a < A; ++a) sum += static_cast<double>(sum_rows[a][k]);
    const float s = static_cast<float>(sum);
    double average[A];
    double total = 0.0;
    for (int32_t a = 0; a < A; ++a) {
      average[a] = ScalarQuotient(static_cast<float>(sum_rows[a][k]), s, 0.0f);
      total = a == 0 ? average[a] : total + average[a];
    }
    if (total != 0.0) {
      for (int32_t a = 0; a < A; ++a) out[a][k] = average[a];
      continue;
    }
    double current[A];
    OneStrategy(regret_rows, A, k, uniform, current);
    for (int32_t a = 0; a < A; ++a) out[a][k] = current[a];
  }
}

void AverageIntStrategy32(const int32_t* const* sum_rows, const uint16_t* const* regret_rows,
                          int32_t actions, int32_t n, const float* uniform, double* const* out) {
  WithActionCount(actions, [&](auto a) {
    AverageIntStrategyFixed<decltype(a)::value>(sum_rows, regret_rows, n, uniform, out);
  });
}

}  // namespace

const BlockStoreKernels kBlockStoreKernels = {
    .NormalizeValues16x4 = NormalizeValues16x4,
    .NormalizeIntValues32 = NormalizeIntValues32,
    .AccumulateValues32 = AccumulateValues32,
    .AverageIntStrategy32 = AverageIntStrategy32,
};

#if defined(TDX_ISA_AVX2)
}  // namespace isa_avx2
#else
}  // namespace isa_avx
#endif
