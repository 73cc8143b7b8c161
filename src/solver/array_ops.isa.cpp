// Per-hand array operations, compiled once per instruction set. Loops take four
// hands per vector, two vectors per step, and finish with scalar code that does
// exactly what a vector lane does (fused in the AVX2 build where the vector code
// fuses), so a result never depends on where in the array a hand sits.
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>

#include "platform/fused_multiply_add.h"
#include "protocol/fail.h"
#include "solver/array_ops.h"
#include "tree/deal_tree.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "array_ops.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

// The number of hands two arrays both hold.
inline int32_t Overlap(int32_t x, int32_t y) { return std::max(0, std::min(x, y)); }

// Makes the array absent with the given count, without allocating.
inline void MakeAbsent(NumArray& a, int32_t count) {
  a.Free();
  a.count = count;
}

// An accumulator without data becomes zeros of its count, or of the input's
// count when it never got one (a zero-length sum would drop the input).
inline void PrepareAccumulator(NumArray& out, int32_t input_count) {
  if (out.data) return;
  if (out.count <= 0) out.count = input_count;
  out.MaterializeZeros();
}

// if_set where the lane of the all-ones-or-zeros mask is set, else if_clear.
// The AVX build spells the blend in bitwise operations: GCC lowers the AVX
// blend builtin to per-lane branches there (about five times slower).
inline __m256d Select(__m256d mask, __m256d if_set, __m256d if_clear) {
#if defined(TDX_ISA_AVX2)
  return _mm256_blendv_pd(if_clear, if_set, mask);
#else
  return _mm256_or_pd(_mm256_and_pd(mask, if_set), _mm256_andnot_pd(mask, if_clear));
#endif
}

// All ones in the lanes of the four hands whose mask byte is 0 (unmasked).
inline __m256d UnmaskedLanes(const uint8_t* mask) {
  int32_t bytes;
  std::memcpy(&bytes, mask, sizeof(bytes));
  const __m128i zero_bytes = _mm_cmpeq_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128());
#if defined(TDX_ISA_AVX2)
  return _mm256_castsi256_pd(_mm256_cvtepi8_epi64(zero_bytes));
#else
  const __m128i low = _mm_cvtepi8_epi64(zero_bytes);
  const __m128i high = _mm_cvtepi8_epi64(_mm_srli_si128(zero_bytes, 2));
  return _mm256_castsi256_pd(_mm256_insertf128_si256(_mm256_castsi128_si256(low), high, 1));
#endif
}

// Runs step(k) on every whole block of four hands below n, two blocks per
// iteration; returns the first hand not covered.
template <typename Step>
inline int32_t VectorLoop(int32_t n, Step step) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    step(i);
    step(i + 4);
  }
  for (; i + 4 <= n; i += 4) step(i);
  return i;
}

inline void FillZeros(double* x, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) x[i] = 0.0;
}

// out[h] = a[h] * b[h] for n hands (out may be a); returns the sum of the
// products, added in one fixed order in both builds so that the pruning
// decision never depends on the processor.
inline double MultiplySum(double* out, const double* a, const double* b, int32_t n) {
  __m256d sum0 = _mm256_setzero_pd();
  __m256d sum1 = _mm256_setzero_pd();
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256d p0 = _mm256_mul_pd(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i));
    const __m256d p1 = _mm256_mul_pd(_mm256_loadu_pd(a + i + 4), _mm256_loadu_pd(b + i + 4));
    _mm256_storeu_pd(out + i, p0);
    _mm256_storeu_pd(out + i + 4, p1);
    sum0 = _mm256_add_pd(sum0, p0);
    sum1 = _mm256_add_pd(sum1, p1);
  }
  for (; i + 4 <= n; i += 4) {
    const __m256d p0 = _mm256_mul_pd(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i));
    _mm256_storeu_pd(out + i, p0);
    sum0 = _mm256_add_pd(sum0, p0);
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, _mm256_add_pd(sum0, sum1));
  double sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  for (; i < n; ++i) {
    const double p = a[i] * b[i];
    out[i] = p;
    sum += p;
  }
  return sum;
}

// out[h] = max(out[h], a[h]) as the max instruction does it: out[h] when it is
// greater, else a[h] (so a NaN in out gives way, a NaN in a wins).
inline double Max(double o, double x) { return o > x ? o : x; }

void MaxInto(double* out, const double* a, int32_t n) {
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(out + k, _mm256_max_pd(_mm256_loadu_pd(out + k), _mm256_loadu_pd(a + k)));
  });
  for (; i < n; ++i) out[i] = Max(out[i], a[i]);
}

void MaxZeroInto(double* out, int32_t from, int32_t to) {
  const __m256d zero = _mm256_setzero_pd();
  int32_t i = from + VectorLoop(std::max(0, to - from), [&](int32_t k) {
                double* x = out + from + k;
                _mm256_storeu_pd(x, _mm256_max_pd(_mm256_loadu_pd(x), zero));
              });
  for (; i < to; ++i) out[i] = Max(out[i], 0.0);
}

void ScaleArray(NumArray& a, double f) {
  if (!a.data) return;
  double* x = a.data;
  const int32_t n = std::max(0, a.count);
  const __m256d f4 = _mm256_set1_pd(f);
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(x + k, _mm256_mul_pd(_mm256_loadu_pd(x + k), f4));
  });
  for (; i < n; ++i) x[i] *= f;
}

void MultiplyArrays(NumArray& out, const NumArray& a, const NumArray& b) {
  if (!a.data || !b.data) {
    MakeAbsent(out, a.count);
    return;
  }
  if (&out == &b && &out != &a && b.count != a.count) {
    // Resizing out would free b before it is read.
    NumArray result;
    MultiplyArrays(result, a, b);
    out = std::move(result);
    return;
  }
  out.Resize(a.count);
  const int32_t n = Overlap(a.count, b.count);
  double* o = out.data;
  const double* x = a.data;
  const double* y = b.data;
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(o + k, _mm256_mul_pd(_mm256_loadu_pd(x + k), _mm256_loadu_pd(y + k)));
  });
  for (; i < n; ++i) o[i] = x[i] * y[i];
  FillZeros(o, n, a.count);
}

void MultiplyArraysPruned(NumArray& out, const NumArray& a, const NumArray& b) {
  if (!a.data) {
    // The caller hands a fresh output; a present one means its arrays are mixed up.
    if (out.data) Fail();
    out.count = a.count;
    return;
  }
  if (!b.data) {
    // Every product is zero: pruned.
    MakeAbsent(out, a.count);
    return;
  }
  if (&out == &b && &out != &a && b.count != a.count) {
    NumArray result;
    MultiplyArraysPruned(result, a, b);
    out = std::move(result);
    return;
  }
  const int32_t count = a.count;
  out.Resize(count);
  const int32_t n = Overlap(a.count, b.count);
  const double sum = MultiplySum(out.data, a.data, b.data, n);
  FillZeros(out.data, n, count);
  if (sum < DBL_MIN) MakeAbsent(out, count);
}

void MultiplyInPlacePruned(NumArray& a, const NumArray& b) {
  if (!b.data) {
    MakeAbsent(a, b.count);
    return;
  }
  if (!a.data) {
    // Zeros times anything stay zeros: still absent, sized like the reach.
    a.count = b.count;
    return;
  }
  const int32_t count = a.count;
  const int32_t n = Overlap(a.count, b.count);
  const double sum = MultiplySum(a.data, a.data, b.data, n);
  FillZeros(a.data, n, count);
  if (sum < DBL_MIN) MakeAbsent(a, count);
}

void MultiplyAddArrays(NumArray& out, const NumArray& a, const NumArray& b) {
  if (!a.data || !b.data) return;
  PrepareAccumulator(out, a.count);
  const int32_t n = Overlap(out.count, Overlap(a.count, b.count));
  double* o = out.data;
  const double* x = a.data;
  const double* y = b.data;
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(o + k,
                     MulAdd4(_mm256_loadu_pd(x + k), _mm256_loadu_pd(y + k), _mm256_loadu_pd(o + k)));
  });
  for (; i < n; ++i) o[i] = MulAdd(x[i], y[i], o[i]);
}

void AccumulateArray(NumArray& out, const NumArray& a) {
  if (!a.data) return;
  PrepareAccumulator(out, a.count);
  const int32_t n = Overlap(out.count, a.count);
  double* o = out.data;
  const double* x = a.data;
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(o + k, _mm256_add_pd(_mm256_loadu_pd(o + k), _mm256_loadu_pd(x + k)));
  });
  for (; i < n; ++i) o[i] += x[i];
}

void MaxArrays(NumArray& out, const NumArray& a) {
  PrepareAccumulator(out, a.count);
  const int32_t n = a.data ? Overlap(out.count, a.count) : 0;
  MaxInto(out.data, a.data, n);
  // Hands that a does not hold count as zeros.
  MaxZeroInto(out.data, n, out.count);
}

void CombineFirstMasked(NumArray& out, const NumArray& a, const NumArray& strategy,
                        const uint8_t* mask) {
  if (!a.data) {
    MakeAbsent(out, a.count);
    return;
  }
  if (&out == &strategy && &out != &a && strategy.count != a.count) {
    NumArray result;
    CombineFirstMasked(result, a, strategy, mask);
    out = std::move(result);
    return;
  }
  const int32_t count = a.count;
  out.Resize(count);
  double* o = out.data;
  const double* x = a.data;
  if (!mask) {
    if (o != x && count > 0) std::memcpy(o, x, static_cast<size_t>(count) * sizeof(double));
    return;
  }
  // An absent strategy counts as zeros: masked hands get 0, the others keep a.
  const int32_t n = strategy.data ? Overlap(count, strategy.count) : 0;
  const double* s = strategy.data;
  int32_t i = VectorLoop(n, [&](int32_t k) {
    const __m256d av = _mm256_loadu_pd(x + k);
    const __m256d weighted = _mm256_mul_pd(av, _mm256_loadu_pd(s + k));
    _mm256_storeu_pd(o + k, Select(UnmaskedLanes(mask + k), av, weighted));
  });
  for (; i < n; ++i) o[i] = mask[i] ? x[i] * s[i] : x[i];
  for (; i < count; ++i) o[i] = mask[i] ? 0.0 : x[i];
}

void CombineMaxMasked(NumArray& out, const NumArray& a, const NumArray& strategy,
                      const uint8_t* mask) {
  if (!mask) {
    MaxArrays(out, a);
    return;
  }
  PrepareAccumulator(out, a.count);
  const int32_t count = out.count;
  const int32_t with_a = a.data ? Overlap(count, a.count) : 0;
  const int32_t with_both = strategy.data ? Overlap(with_a, strategy.count) : 0;
  double* o = out.data;
  const double* x = a.data;
  const double* s = strategy.data;
  int32_t i = VectorLoop(with_both, [&](int32_t k) {
    const __m256d ov = _mm256_loadu_pd(o + k);
    const __m256d av = _mm256_loadu_pd(x + k);
    const __m256d weighted = MulAdd4(av, _mm256_loadu_pd(s + k), ov);
    const __m256d best = _mm256_max_pd(ov, av);
    _mm256_storeu_pd(o + k, Select(UnmaskedLanes(mask + k), best, weighted));
  });
  for (; i < with_both; ++i) o[i] = mask[i] ? MulAdd(x[i], s[i], o[i]) : Max(o[i], x[i]);
  // Past the strategy (absent or short) the masked hands add nothing; past a
  // the others take the maximum with zero.
  for (; i < with_a; ++i)
    if (!mask[i]) o[i] = Max(o[i], x[i]);
  for (; i < count; ++i)
    if (!mask[i]) o[i] = Max(o[i], 0.0);
}

void ScaleSigned(NumArray& a, double p, double n) {
  if (!a.data) return;
  double* x = a.data;
  const int32_t count = std::max(0, a.count);
  const __m256d p4 = _mm256_set1_pd(p);
  const __m256d n4 = _mm256_set1_pd(n);
  const __m256d zero = _mm256_setzero_pd();
  int32_t i = VectorLoop(count, [&](int32_t k) {
    const __m256d v = _mm256_loadu_pd(x + k);
    const __m256d factor = Select(_mm256_cmp_pd(v, zero, _CMP_GE_OQ), p4, n4);
    _mm256_storeu_pd(x + k, _mm256_mul_pd(v, factor));
  });
  for (; i < count; ++i) x[i] *= x[i] >= 0.0 ? p : n;
}

void ScalePositive(NumArray& a, double p) {
  if (!a.data) return;
  double* x = a.data;
  const int32_t count = std::max(0, a.count);
  const __m256d p4 = _mm256_set1_pd(p);
  const __m256d zero = _mm256_setzero_pd();
  int32_t i = VectorLoop(count, [&](int32_t k) {
    const __m256d v = _mm256_loadu_pd(x + k);
    const __m256d scaled = _mm256_mul_pd(v, p4);
    _mm256_storeu_pd(x + k, Select(_mm256_cmp_pd(v, zero, _CMP_GT_OQ), scaled, v));
  });
  for (; i < count; ++i)
    if (x[i] > 0.0) x[i] *= p;
}

// s(h), the opponent reach of the hands that share no card with hand h, by
// inclusion-exclusion instead of a pass over all pairs: with T the total reach
// and C[c] the reach of the hands that hold card c,
//   s(h) = T - C[c1] - C[c2] + r[h],
// since the hands holding c1 or c2 are counted in C[c1] + C[c2], and the one
// hand holding both is h itself (a board's hands are distinct card pairs).
// The subtraction cancels: where every opponent hand collides with h, s comes
// out as rounding noise instead of 0 and the value would be noise / noise.
// Anything at or below the rounding bound of the sums (n * DBL_EPSILON * T)
// therefore counts as 0.
void CollectTargetValues(NumArray& values, NumArray& weights, const NumArray& node_values,
                         const NumArray& opponent_reach, const NumArray& own_reach,
                         const CardMask* hand_masks, double factor) {
  const double* r = opponent_reach.data;
  const int32_t reach_count = r ? std::max(0, opponent_reach.count) : 0;
  // Index 64 catches a mask with fewer than two cards (std::countr_zero(0)).
  double card_sum[65] = {};
  double total = 0.0;
  for (int32_t j = 0; j < reach_count; ++j) {
    const CardMask m = hand_masks[j];
    total += r[j];
    card_sum[std::countr_zero(m)] += r[j];
    card_sum[std::countr_zero(m & (m - 1))] += r[j];
  }
  const double noise = static_cast<double>(reach_count) * DBL_EPSILON * total;
  auto opponent_sum = [&](int32_t h) {
    if (h >= reach_count) return 0.0;
    const CardMask m = hand_masks[h];
    const double s = total - card_sum[std::countr_zero(m)] -
                     card_sum[std::countr_zero(m & (m - 1))] + r[h];
    return s > noise ? s : 0.0;
  };

  values.Resize(node_values.count);
  const int32_t value_count = std::max(0, node_values.count);
  if (node_values.data) {
    for (int32_t h = 0; h < value_count; ++h) {
      const double s = opponent_sum(h);
      values[h] = s > 0.0 ? node_values[h] / s : 0.0;
    }
  } else {
    FillZeros(values.data, 0, value_count);
  }

  weights.Resize(own_reach.count);
  const int32_t weight_count = std::max(0, own_reach.count);
  if (own_reach.data) {
    for (int32_t h = 0; h < weight_count; ++h)
      weights[h] = opponent_sum(h) * factor * own_reach[h];
  } else {
    FillZeros(weights.data, 0, weight_count);
  }
}

void AccumulateCardReach(CardRecord& record, int player, const NumArray& reach, double weight) {
  if (record.frozen || player < 0 || player > 1) return;
  NumArray& sums = record.reach_sums[player];
  if (!sums.data) {
    sums.count = reach.count;
    sums.MaterializeZeros();
  }
  if (!reach.data) return;
  const int32_t n = Overlap(sums.count, reach.count);
  double* o = sums.data;
  const double* x = reach.data;
  const __m256d w4 = _mm256_set1_pd(weight);
  int32_t i = VectorLoop(n, [&](int32_t k) {
    _mm256_storeu_pd(o + k, MulAdd4(w4, _mm256_loadu_pd(x + k), _mm256_loadu_pd(o + k)));
  });
  for (; i < n; ++i) o[i] = MulAdd(weight, x[i], o[i]);
}

}  // namespace

const ArrayOpsKernels kArrayOpsKernels = {
    .ScaleArray = ScaleArray,
    .MultiplyArrays = MultiplyArrays,
    .MultiplyArraysPruned = MultiplyArraysPruned,
    .MultiplyInPlacePruned = MultiplyInPlacePruned,
    .MultiplyAddArrays = MultiplyAddArrays,
    .AccumulateArray = AccumulateArray,
    .MaxArrays = MaxArrays,
    .CombineFirstMasked = CombineFirstMasked,
    .CombineMaxMasked = CombineMaxMasked,
    .ScaleSigned = ScaleSigned,
    .ScalePositive = ScalePositive,
    .CollectTargetValues = CollectTargetValues,
    .AccumulateCardReach = AccumulateCardReach,
};

}  // namespace isa_avx2 / isa_avx
