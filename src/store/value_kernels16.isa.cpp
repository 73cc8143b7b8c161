// The 16-bit row kernels, compiled once per instruction set. The AVX2 build
// fuses the reciprocal refinement and works on 256-bit integers; the AVX build
// does its integer work in 128-bit halves. Blocks of eight hands use refined
// estimates, the remainder exact single-precision arithmetic, in both builds.
#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/fused_multiply_add.h"
#include "store/value_kernels16.h"
#include "store/row_quotients.isa.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "value_kernels16.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

using row_quotients::BlockStrategy;
using row_quotients::LoadU16AsFloat;
using row_quotients::OneStrategy;
using row_quotients::Quotient;
using row_quotients::Reciprocal;
using row_quotients::ScalarQuotient;
using row_quotients::StoreAsDouble;
using row_quotients::WithActionCount;

namespace {

constexpr int32_t kMaxValue16 = 65535;
// The most hands a board holds (every two-card combination).
constexpr int32_t kMaxBoardRow = 1326;

// Eight u32 lanes, from a 128-bit low and high half.
inline __m256i Join(__m128i low, __m128i high) {
  return _mm256_insertf128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Eight u16 values widened to 32-bit lanes.
inline __m256i WidenU16(__m128i v) {
#if defined(TDX_ISA_AVX2)
  return _mm256_cvtepu16_epi32(v);
#else
  return Join(_mm_cvtepu16_epi32(v), _mm_cvtepu16_epi32(_mm_srli_si128(v, 8)));
#endif
}

// Sums stay far below 2^31 (a few actions of at most 65535 each).
inline __m256 LoadU32AsFloat(const uint32_t* p) {
  return _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// Square root from the approximate reciprocal square root refined by one
// Newton-Raphson step from the estimate y of 1 / sqrt(x): 0.5 x y (3 - x y y).
inline __m256 NewtonSqrt(__m256 x, __m256 y) {
  const __m256 xy = _mm256_mul_ps(x, y);
#if defined(TDX_ISA_AVX2)
  const __m256 three_minus = _mm256_fnmadd_ps(xy, y, _mm256_set1_ps(3.0f));
#else
  const __m256 three_minus = _mm256_sub_ps(_mm256_set1_ps(3.0f), _mm256_mul_ps(xy, y));
#endif
  return _mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(0.5f), xy), three_minus);
}

// The square root by one Newton-Raphson step, with y taken as 0 below FLT_MIN.
inline __m256 RefinedSqrt(__m256 x) {
  const __m256 normal = _mm256_cmp_ps(x, _mm256_set1_ps(FLT_MIN), _CMP_GE_OQ);
  return NewtonSqrt(x, _mm256_and_ps(_mm256_rsqrt_ps(x), normal));
}

// Eight doubles (absent: zeros) narrowed to floats.
inline __m256 LoadDifference(const double* action, const double* node, int32_t h) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d a0 = action ? _mm256_loadu_pd(action + h) : zero;
  const __m256d a1 = action ? _mm256_loadu_pd(action + h + 4) : zero;
  const __m256d n0 = node ? _mm256_loadu_pd(node + h) : zero;
  const __m256d n1 = node ? _mm256_loadu_pd(node + h + 4) : zero;
  const __m128 d0 = _mm256_cvtpd_ps(_mm256_sub_pd(a0, n0));
  const __m128 d1 = _mm256_cvtpd_ps(_mm256_sub_pd(a1, n1));
  return _mm256_insertf128_ps(_mm256_castps128_ps256(d0), d1, 1);
}

// Lanes whose mask byte is 0, as an all-ones float mask.
inline __m256 UnmaskedLanes(const uint8_t* mask) {
  uint64_t bytes;
  std::memcpy(&bytes, mask, 8);
  const __m128i b = _mm_cvtsi64_si128(static_cast<long long>(bytes));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_cmpeq_epi32(_mm_cvtepu8_epi32(b), zero);
  const __m128i high = _mm_cmpeq_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(b, 4)), zero);
  return _mm256_castsi256_ps(Join(low, high));
}

// The whole units of k |d|^0.75, capped at 65535 (a NaN from an infinite d
// counts as the cap, as the exact form gives).
inline float ScalarIncrement(float k, float a) {
  const float root = std::sqrt(a);
  const float p = k * root * std::sqrt(root);
  return p < static_cast<float>(kMaxValue16) ? p : static_cast<float>(kMaxValue16);
}

inline uint16_t GroupMax(__m128i v) {
  const __m128i ones = _mm_set1_epi32(-1);
  return static_cast<uint16_t>(~_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(v, ones))));
}

inline int BlockCode(uint16_t largest) {
  if (largest == 0) return 0;
  if (largest < 256) return 1;
  if (largest < 4096) return 2;
  return 3;
}

constexpr int kPayloadBytes[4] = {0, 8, 12, 16};

// Eight 12-bit fields, value m in bits 12m ... 12m + 11 of 96 bits.
inline void Pack12(uint8_t* dst, const uint16_t* x) {
  const uint32_t w[3] = {
      uint32_t{x[0]} | uint32_t{x[1]} << 12 | uint32_t{x[2]} << 24,
      uint32_t{x[2]} >> 8 | uint32_t{x[3]} << 4 | uint32_t{x[4]} << 16 | uint32_t{x[5]} << 28,
      uint32_t{x[5]} >> 4 | uint32_t{x[6]} << 8 | uint32_t{x[7]} << 20};
  std::memcpy(dst, w, 12);
}

inline __m128i Unpack12(const uint8_t* src) {
  alignas(16) uint8_t bytes[16] = {};
  std::memcpy(bytes, src, 12);
  const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
  // Lane m takes bytes floor(1.5 m) and the one after; odd lanes then drop 4 bits.
  const __m128i pairs = _mm_shuffle_epi8(
      v, _mm_setr_epi8(0, 1, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11));
  const __m128i shifted = _mm_blend_epi16(pairs, _mm_srli_epi16(pairs, 4), 0xAA);
  return _mm_and_si128(shifted, _mm_set1_epi16(0x0FFF));
}

void SumValues16(uint32_t* sums, const uint16_t* row, int32_t n) {
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k));
#if defined(TDX_ISA_AVX2)
    __m256i* s = reinterpret_cast<__m256i*>(sums + k);
    _mm256_storeu_si256(s, _mm256_add_epi32(_mm256_loadu_si256(s), _mm256_cvtepu16_epi32(v)));
#else
    __m128i* s = reinterpret_cast<__m128i*>(sums + k);
    _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), _mm_cvtepu16_epi32(v)));
    _mm_storeu_si128(s + 1, _mm_add_epi32(_mm_loadu_si128(s + 1),
                                          _mm_cvtepu16_epi32(_mm_srli_si128(v, 8))));
#endif
  }
  for (; k < n; ++k) sums[k] += row[k];
}

void NormalizeValues16(const uint16_t* row, const uint32_t* sums, double* out, int32_t n,
                       float default_value) {
  const __m256 fallback = _mm256_set1_ps(default_value);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8)
    StoreAsDouble(out + k, Quotient(LoadU16AsFloat(row + k), LoadU32AsFloat(sums + k), fallback));
  for (; k < n; ++k)
    out[k] = ScalarQuotient(static_cast<float>(row[k]), static_cast<float>(sums[k]), default_value);
}

void NormalizeValues16x2(const uint16_t* row0, const uint16_t* row1, double* out0, double* out1,
                         int32_t n, const float* defaults) {
  const __m256 fallback0 = _mm256_set1_ps(defaults[0]);
  const __m256 fallback1 = _mm256_set1_ps(defaults[1]);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 v0 = LoadU16AsFloat(row0 + k), v1 = LoadU16AsFloat(row1 + k);
    const __m256 s = _mm256_add_ps(v0, v1);
    StoreAsDouble(out0 + k, Quotient(v0, s, fallback0));
    StoreAsDouble(out1 + k, Quotient(v1, s, fallback1));
  }
  for (; k < n; ++k) {
    const float v0 = row0[k], v1 = row1[k];
    const float s = v0 + v1;
    out0[k] = ScalarQuotient(v0, s, defaults[0]);
    out1[k] = ScalarQuotient(v1, s, defaults[1]);
  }
}

void NormalizeValues16x3(const uint16_t* row0, const uint16_t* row1, const uint16_t* row2,
                         double* out0, double* out1, double* out2, int32_t n,
                         const float* defaults) {
  const __m256 fallback0 = _mm256_set1_ps(defaults[0]);
  const __m256 fallback1 = _mm256_set1_ps(defaults[1]);
  const __m256 fallback2 = _mm256_set1_ps(defaults[2]);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 v0 = LoadU16AsFloat(row0 + k), v1 = LoadU16AsFloat(row1 + k),
                 v2 = LoadU16AsFloat(row2 + k);
    const __m256 s = _mm256_add_ps(_mm256_add_ps(v0, v1), v2);
    StoreAsDouble(out0 + k, Quotient(v0, s, fallback0));
    StoreAsDouble(out1 + k, Quotient(v1, s, fallback1));
    StoreAsDouble(out2 + k, Quotient(v2, s, fallback2));
  }
  for (; k < n; ++k) {
    const float v0 = row0[k], v1 = row1[k], v2 = row2[k];
    const float s = v0 + v1 + v2;
    out0[k] = ScalarQuotient(v0, s, defaults[0]);
    out1[k] = ScalarQuotient(v1, s, defaults[1]);
    out2[k] = ScalarQuotient(v2, s, defaults[2]);
  }
}

void SetActionValues16(uint16_t* row, const double* values, int32_t n) {
  // max(v, 0) with v first turns a NaN into 0; the clamp keeps large values
  // from wrapping into small ones.
  const __m256d zero = _mm256_setzero_pd();
  const __m256d top = _mm256_set1_pd(kMaxValue16);
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256d v0 = _mm256_min_pd(_mm256_max_pd(_mm256_loadu_pd(values + k), zero), top);
    const __m256d v1 = _mm256_min_pd(_mm256_max_pd(_mm256_loadu_pd(values + k + 4), zero), top);
    const __m128i packed = _mm_packus_epi32(_mm256_cvttpd_epi32(v0), _mm256_cvttpd_epi32(v1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + k), packed);
  }
  for (; k < n; ++k) {
    const double v = values[k];
    row[k] = !(v > 0.0) ? 0 : v >= kMaxValue16 ? kMaxValue16 : static_cast<uint16_t>(static_cast<int32_t>(v));
  }
}

// The constants of the regret update for one payoff scale: k = scale^0.75 and
// the threshold t = 1 / scale, both as floats. Every row of a pass has the same
// scale: the power is taken once per thread.
struct RegretScale {
  float k;
  float t;
};

inline RegretScale ScaleOf(double payoff_scale) {
  static thread_local double cached_scale = 0.0;
  static thread_local float cached_k = 0.0f;
  if (payoff_scale != cached_scale || cached_k == 0.0f) {
    cached_k = static_cast<float>(std::pow(payoff_scale, 0.75));
    cached_scale = payoff_scale;
  }
  return {cached_k, static_cast<float>(1.0 / payoff_scale)};
}

// The lanes of eight differences that pass the threshold upward and downward.
inline void ThresholdLanes(__m256 d, RegretScale scale, __m256& up, __m256& down) {
  up = _mm256_cmp_ps(d, _mm256_set1_ps(scale.t), _CMP_GE_OQ);
  down = _mm256_cmp_ps(d, _mm256_set1_ps(-scale.t), _CMP_LE_OQ);
}

// The update of eight hands once their lanes are known.
inline void ApplyBlock16(uint16_t* row, __m256 d, __m256 up, __m256 down, RegretScale scale) {
  const __m256 kv = _mm256_set1_ps(scale.k);
  const __m256 cap = _mm256_set1_ps(static_cast<float>(kMaxValue16));
  const __m256 abs_mask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 root = RefinedSqrt(_mm256_and_ps(d, abs_mask));
  const __m256 power = _mm256_mul_ps(_mm256_mul_ps(kv, root), RefinedSqrt(root));
  const __m256i step = _mm256_cvttps_epi32(_mm256_min_ps(power, cap));
  const __m128i old16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
#if defined(TDX_ISA_AVX2)
  const __m256i old = _mm256_cvtepu16_epi32(old16);
  const __m256i raised = _mm256_min_epi32(_mm256_add_epi32(old, step), _mm256_set1_epi32(kMaxValue16));
  const __m256i lowered = _mm256_max_epi32(_mm256_sub_epi32(old, step), _mm256_setzero_si256());
  __m256i result = _mm256_blendv_epi8(old, raised, _mm256_castps_si256(up));
  result = _mm256_blendv_epi8(result, lowered, _mm256_castps_si256(down));
  const __m128i packed =
      _mm_packus_epi32(_mm256_castsi256_si128(result), _mm256_extracti128_si256(result, 1));
#else
  const __m128i top = _mm_set1_epi32(kMaxValue16);
  const __m128i zero = _mm_setzero_si128();
  __m128i halves[2];
  for (int half = 0; half < 2; ++half) {
    const __m128i old = _mm_cvtepu16_epi32(half ? _mm_srli_si128(old16, 8) : old16);
    const __m128i s = half ? _mm256_extractf128_si256(step, 1) : _mm256_castsi256_si128(step);
    const __m128i u = _mm_castps_si128(half ? _mm256_extractf128_ps(up, 1) : _mm256_castps256_ps128(up));
    const __m128i dn =
        _mm_castps_si128(half ? _mm256_extractf128_ps(down, 1) : _mm256_castps256_ps128(down));
    __m128i r = _mm_blendv_epi8(old, _mm_min_epi32(_mm_add_epi32(old, s), top), u);
    halves[half] = _mm_blendv_epi8(r, _mm_max_epi32(_mm_sub_epi32(old, s), zero), dn);
  }
  const __m128i packed = _mm_packus_epi32(halves[0], halves[1]);
#endif
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row), packed);
}

// The regret update of eight hands from their differences d (action value less
// node value, as floats); free holds all ones for the hands not locked.
inline void UpdateBlock16(uint16_t* row, __m256 d, const __m256* free, RegretScale scale) {
  __m256 up, down;
  ThresholdLanes(d, scale, up, down);
  if (free) {
    up = _mm256_and_ps(up, *free);
    down = _mm256_and_ps(down, *free);
  }
  // Nothing passes the threshold or everything is locked: no arithmetic.
  if (_mm256_movemask_ps(_mm256_or_ps(up, down)) == 0) return;
  ApplyBlock16(row, d, up, down, scale);
}

// The same for one hand, with exact square roots.
inline void UpdateOne16(uint16_t& value, double action, double node, RegretScale scale) {
  const float d = static_cast<float>(action - node);
  if (d >= scale.t) {
    const int32_t raised = value + static_cast<int32_t>(ScalarIncrement(scale.k, d));
    value = static_cast<uint16_t>(std::min(raised, kMaxValue16));
  } else if (d <= -scale.t) {
    const int32_t lowered = value - static_cast<int32_t>(ScalarIncrement(scale.k, -d));
    value = static_cast<uint16_t>(std::max(lowered, 0));
  }
}

void AverageValueGroups16(uint16_t* row, int32_t n, const std::vector<int16_t>& group_sizes) {
  int32_t p = 0;
  for (int16_t size : group_sizes) {
    if (size <= 0) continue;
    const int32_t g = std::min<int32_t>(size, n - p);
    if (g <= 0) break;
    uint32_t sum = 0;
    for (int32_t k = 0; k < g; ++k) sum += row[p + k];
    const uint16_t mean = static_cast<uint16_t>(sum / static_cast<uint32_t>(g));
    for (int32_t k = 0; k < g; ++k) row[p + k] = mean;
    p += g;
  }
}

void UpdateRegrets16(uint16_t* row, int32_t n, const NumArray& node_values,
                     const NumArray& action_values, const std::vector<int16_t>* hand_groups,
                     double payoff_scale, const uint8_t* mask) {
  const RegretScale scale = ScaleOf(payoff_scale);
  const double* node = node_values.data;
  const double* action = action_values.data;
  int32_t count = std::min(n, node_values.count);
  if (action) count = std::min(count, action_values.count);

  int32_t h = 0;
  for (; h + 8 <= count; h += 8) {
    __m256 free;
    if (mask) free = UnmaskedLanes(mask + h);
    UpdateBlock16(row + h, LoadDifference(action, node, h), mask ? &free : nullptr, scale);
  }
  for (; h < count; ++h) {
    if (mask && mask[h]) continue;
    UpdateOne16(row[h], action ? action[h] : 0.0, node ? node[h] : 0.0, scale);
  }
  if (hand_groups) AverageValueGroups16(row, n, *hand_groups);
}

// Square root as RefinedSqrt gives it for x >= FLT_MIN; other lanes are left
// undefined, for callers that discard them.
inline __m256 RefinedSqrtNormal(__m256 x) { return NewtonSqrt(x, _mm256_rsqrt_ps(x)); }

// ApplyBlock16 for a threshold t >= FLT_MIN: every lane that moves then has
// |d| >= FLT_MIN and a root above it, so the square roots need no test; the
// lanes that stay get a zero step. Raising and lowering are the saturating
// 16-bit forms of min(old + step, 65535) and max(old - step, 0).
inline void ApplyBlockNormal16(uint16_t* row, __m256 d, __m256 up, __m256 down,
                               RegretScale scale) {
  const __m256 abs_mask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 root = RefinedSqrtNormal(_mm256_and_ps(d, abs_mask));
  const __m256 power =
      _mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(scale.k), root), RefinedSqrtNormal(root));
  const __m256 step = _mm256_castsi256_ps(
      _mm256_cvttps_epi32(_mm256_min_ps(power, _mm256_set1_ps(static_cast<float>(kMaxValue16)))));
  const __m256i raise = _mm256_castps_si256(_mm256_and_ps(step, up));
  const __m256i lower = _mm256_castps_si256(_mm256_and_ps(step, down));
#if defined(TDX_ISA_AVX2)
  // In 32-bit lanes: old + raise - lower, at most one of the two not zero;
  // the unsigned saturating pack clamps to 0 ... 65535 as the saturating
  // 16-bit addition and subtraction would.
  const __m256i old32 =
      _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
  const __m256i sum = _mm256_sub_epi32(_mm256_add_epi32(old32, raise), lower);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row),
                   _mm_packus_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1)));
#else
  const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
  const __m128i raise16 =
      _mm_packus_epi32(_mm256_castsi256_si128(raise), _mm256_extractf128_si256(raise, 1));
  const __m128i lower16 =
      _mm_packus_epi32(_mm256_castsi256_si128(lower), _mm256_extractf128_si256(lower, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row),
                   _mm_subs_epu16(_mm_adds_epu16(old, raise16), lower16));
#endif
}

// The fused decision for a fixed action count with every action's values
// present (the usual river node: two or three actions, no pruned child), with
// the arithmetic of the general form below, operation for operation: first the
// strategy of every block; then the node value and every row's differences,
// with one bit per block that passes the threshold; then each row's update on
// those blocks. The strategy goes through a small float buffer: one loop from
// the rows to the differences would be a dependency chain so long that the
// processor could overlap few blocks (measured: a fifth more time).
template <int32_t A>
void OwnDecisionFixed(uint16_t* const* rows, int32_t n, const double* const* values, double* node,
                      const float* defaults, RegretScale scale) {
  const int32_t whole = n & ~7;
  // Rows of whole 32-byte vectors, so that every row of d starts aligned.
  constexpr int32_t kStride = (kMaxBoardRow + 7) & ~7;
  alignas(32) float d[A][kStride];
  uint64_t passing[A][kMaxBoardRow / 8 / 64 + 1] = {};
  const __m256 up_limit = _mm256_set1_ps(scale.t);
  const __m256 abs_mask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  alignas(32) float sigma_rows[A][kStride];
  for (int32_t h = 0; h < whole; h += 8) {
    __m256 q[A];
    BlockStrategy(rows, A, h, defaults, q);
    for (int32_t a = 0; a < A; ++a) _mm256_store_ps(sigma_rows[a] + h, q[a]);
  }
  for (int32_t h = 0; h < whole; h += 8) {
    __m256d v_low[A], v_high[A];
    __m256d low, high;
    for (int32_t a = 0; a < A; ++a) {
      const __m256d s_low = _mm256_cvtps_pd(_mm_load_ps(sigma_rows[a] + h));
      const __m256d s_high = _mm256_cvtps_pd(_mm_load_ps(sigma_rows[a] + h + 4));
      v_low[a] = _mm256_loadu_pd(values[a] + h);
      v_high[a] = _mm256_loadu_pd(values[a] + h + 4);
      if (a == 0) {
        low = _mm256_mul_pd(v_low[a], s_low);
        high = _mm256_mul_pd(v_high[a], s_high);
      } else {
        low = MulAdd4(v_low[a], s_low, low);
        high = MulAdd4(v_high[a], s_high, high);
      }
    }
    _mm256_storeu_pd(node + h, low);
    _mm256_storeu_pd(node + h + 4, high);
    for (int32_t a = 0; a < A; ++a) {
      const __m128 d0 = _mm256_cvtpd_ps(_mm256_sub_pd(v_low[a], low));
      const __m128 d1 = _mm256_cvtpd_ps(_mm256_sub_pd(v_high[a], high));
      const __m256 dk = _mm256_insertf128_ps(_mm256_castps128_ps256(d0), d1, 1);
      _mm256_store_ps(d[a] + h, dk);
      // |d| >= t exactly where d >= t or d <= -t (NaN in neither).
      const __m256 outside = _mm256_cmp_ps(_mm256_and_ps(dk, abs_mask), up_limit, _CMP_GE_OQ);
      const uint64_t any = _mm256_movemask_ps(outside) != 0;
      passing[a][h >> 9] |= any << ((h >> 3) & 63);
    }
  }
  for (int32_t h = whole; h < n; ++h) {
    double sigma[A];
    OneStrategy(rows, A, h, defaults, sigma);
    double sum = values[0][h] * sigma[0];
    for (int32_t a = 1; a < A; ++a) sum = MulAdd(values[a][h], sigma[a], sum);
    node[h] = sum;
  }
  // The threshold test is taken once, outside the loops over the blocks.
  const auto update_rows = [&](auto apply) {
    for (int32_t a = 0; a < A; ++a) {
      uint16_t* row = rows[a];
      for (int32_t w = 0; w <= (whole >> 9); ++w) {
        for (uint64_t bits = passing[a][w]; bits; bits &= bits - 1) {
          const size_t k = (static_cast<size_t>(w) << 9) + (__builtin_ctzll(bits) << 3);
          const __m256 dk = _mm256_load_ps(d[a] + k);
          __m256 up, down;
          ThresholdLanes(dk, scale, up, down);
          apply(row + k, dk, up, down, scale);
        }
      }
      for (int32_t k = whole; k < n; ++k) UpdateOne16(row[k], values[a][k], node[k], scale);
    }
  };
  if (scale.t >= FLT_MIN)
    update_rows(ApplyBlockNormal16);
  else
    update_rows(ApplyBlock16);
}

void UpdateOwnDecision16(uint16_t* const* rows, int32_t actions, int32_t n,
                         const double* const* values, double* node, const float* defaults,
                         double payoff_scale) {
  if (actions <= 0 || actions > kMaxFusedActions) return;
  bool all_present = n <= kMaxBoardRow;
  for (int32_t a = 0; a < actions; ++a) all_present = all_present && values[a];
  if (all_present && actions == 2)
    return OwnDecisionFixed<2>(rows, n, values, node, defaults, ScaleOf(payoff_scale));
  if (all_present && actions == 3)
    return OwnDecisionFixed<3>(rows, n, values, node, defaults, ScaleOf(payoff_scale));
  // Four: a river bet faced with a raise and the all-in besides call and fold.
  if (all_present && actions == 4)
    return OwnDecisionFixed<4>(rows, n, values, node, defaults, ScaleOf(payoff_scale));
  // The first action with values opens the sum: a product on its own for
  // action 0, a product added to zero for a later one.
  int32_t first = 0;
  while (first < actions && !values[first]) ++first;
  int32_t h = 0;
  for (; h + 8 <= n; h += 8) {
    __m256 q[kMaxFusedActions];
    BlockStrategy(rows, actions, h, defaults, q);
    __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
    for (int32_t a = first; a < actions; ++a) {
      if (!values[a]) continue;
      const __m256d s_low = _mm256_cvtps_pd(_mm256_castps256_ps128(q[a]));
      const __m256d s_high = _mm256_cvtps_pd(_mm256_extractf128_ps(q[a], 1));
      const __m256d v_low = _mm256_loadu_pd(values[a] + h);
      const __m256d v_high = _mm256_loadu_pd(values[a] + h + 4);
      if (a == 0) {
        low = _mm256_mul_pd(v_low, s_low);
        high = _mm256_mul_pd(v_high, s_high);
      } else {
        low = MulAdd4(v_low, s_low, low);
        high = MulAdd4(v_high, s_high, high);
      }
    }
    _mm256_storeu_pd(node + h, low);
    _mm256_storeu_pd(node + h + 4, high);
  }
  for (; h < n; ++h) {
    double sigma[kMaxFusedActions];
    OneStrategy(rows, actions, h, defaults, sigma);
    double sum = 0.0;
    for (int32_t a = first; a < actions; ++a) {
      if (!values[a]) continue;
      sum = a == 0 ? values[a][h] * sigma[a] : MulAdd(values[a][h], sigma[a], sum);
    }
    node[h] = sum;
  }
  // Then the update row by row, once every node value is known: interleaved
  // with the strategy, the test that skips a block would wait on the whole
  // chain from the rows to the node value, and a mispredicted skip costs that.
  const RegretScale scale = ScaleOf(payoff_scale);
  const int32_t whole = n & ~7;
  for (int32_t a = 0; a < actions; ++a) {
    uint16_t* row = rows[a];
    const double* action = values[a];
    if (whole > kMaxBoardRow) {
      for (int32_t k = 0; k < whole; k += 8)
        UpdateBlock16(row + k, LoadDifference(action, node, k), nullptr, scale);
    } else {
      // The differences of every block first, with one bit per block that has
      // a hand past the threshold; then the arithmetic on those blocks alone.
      // The skip is then a walk over set bits instead of a branch per block,
      // which the predictor misses whenever the passing blocks come unevenly.
      alignas(32) float d[kMaxBoardRow];
      uint64_t passing[kMaxBoardRow / 8 / 64 + 1] = {};
      for (int32_t k = 0; k < whole; k += 8) {
        const __m256 dk = LoadDifference(action, node, k);
        _mm256_store_ps(d + k, dk);
        __m256 up, down;
        ThresholdLanes(dk, scale, up, down);
        const uint64_t any = _mm256_movemask_ps(_mm256_or_ps(up, down)) != 0;
        passing[k >> 9] |= any << ((k >> 3) & 63);
      }
      for (int32_t w = 0; w <= (whole >> 9); ++w) {
        for (uint64_t bits = passing[w]; bits; bits &= bits - 1) {
          const int32_t k = (w << 9) + (__builtin_ctzll(bits) << 3);
          const __m256 dk = _mm256_load_ps(d + k);
          __m256 up, down;
          ThresholdLanes(dk, scale, up, down);
          ApplyBlock16(row + k, dk, up, down, scale);
        }
      }
    }
    for (int32_t k = whole; k < n; ++k) UpdateOne16(row[k], action ? action[k] : 0.0, node[k], scale);
  }
}

// Eight sums that adding zeros leaves as they are, bit for bit: no NaN (which
// the addition would quieten) and no -0 (which +0 turns into +0).
inline bool PlainSums(const float* row) {
  const __m256 old = _mm256_loadu_ps(row);
  const int unordered = _mm256_movemask_ps(_mm256_cmp_ps(old, old, _CMP_UNORD_Q));
  const int negative_zero =
      _mm256_movemask_ps(_mm256_cmp_ps(old, _mm256_setzero_ps(), _CMP_EQ_OQ)) &
      _mm256_movemask_ps(old);
  return (unordered | negative_zero) == 0;
}

// The opponent's step for a fixed action count: per block of eight hands the
// strategy in registers, its products with the reach (summed as
// MultiplyInPlacePruned sums them: two vectors of four lanes over the blocks of
// eight, a last block of four into the first, the lanes pairwise, then the
// remaining hands one by one) and the strategy-sum additions of
// AccumulateStrategy32.
template <int32_t A>
void OpponentDecisionFixed(const uint16_t* const* rows, int32_t n, const double* reach,
                           const float* defaults, double* const* out, double* sums,
                           float* const* strategy_sums, double weight) {
  const __m256d w = _mm256_set1_pd(weight);
  __m256d sum0[A], sum1[A];
  for (int32_t a = 0; a < A; ++a) sum0[a] = sum1[a] = _mm256_setzero_pd();
  const int32_t whole = n & ~7;
  for (int32_t h = 0; h < whole; h += 8) {
    const __m256d r_low = _mm256_loadu_pd(reach + h);
    const __m256d r_high = _mm256_loadu_pd(reach + h + 4);
    // A block the opponent never reaches (every reach +0 or -0): a finite
    // non-negative strategy times such a zero is that very zero, so the
    // products are the reach itself and the sums add its zeros, without the
    // strategy. Sums that adding zeros leaves as they are are not written, so
    // that lines of them stay clean.
    if (_mm256_movemask_pd(_mm256_cmp_pd(_mm256_or_pd(r_low, r_high), _mm256_setzero_pd(),
                                         _CMP_EQ_OQ)) == 0xF) {
      for (int32_t a = 0; a < A; ++a) {
        if (strategy_sums && !PlainSums(strategy_sums[a] + h)) {
          float* row = strategy_sums[a] + h;
          const __m256 added = _mm256_insertf128_ps(
              _mm256_castps128_ps256(_mm256_cvtpd_ps(r_low)), _mm256_cvtpd_ps(r_high), 1);
          _mm256_storeu_ps(row, _mm256_add_ps(_mm256_loadu_ps(row), added));
        }
        _mm256_storeu_pd(out[a] + h, r_low);
        _mm256_storeu_pd(out[a] + h + 4, r_high);
        sum0[a] = _mm256_add_pd(sum0[a], r_low);
        sum1[a] = _mm256_add_pd(sum1[a], r_high);
      }
      continue;
    }
    __m256 q[A];
    BlockStrategy(rows, A, h, defaults, q);
    for (int32_t a = 0; a < A; ++a) {
      const __m256d s_low = _mm256_cvtps_pd(_mm256_castps256_ps128(q[a]));
      const __m256d s_high = _mm256_cvtps_pd(_mm256_extractf128_ps(q[a], 1));
      if (strategy_sums) {
        float* row = strategy_sums[a] + h;
        const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(w, s_low), r_low));
        const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(w, s_high), r_high));
        const __m256 added = _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
        _mm256_storeu_ps(row, _mm256_add_ps(_mm256_loadu_ps(row), added));
      }
      const __m256d p_low = _mm256_mul_pd(s_low, r_low);
      const __m256d p_high = _mm256_mul_pd(s_high, r_high);
      _mm256_storeu_pd(out[a] + h, p_low);
      _mm256_storeu_pd(out[a] + h + 4, p_high);
      sum0[a] = _mm256_add_pd(sum0[a], p_low);
      sum1[a] = _mm256_add_pd(sum1[a], p_high);
    }
  }
  // The last hands: exact quotients, as the normalisers take them.
  double sigma[A][8];
  for (int32_t h = whole; h < n; ++h) {
    double one[A];
    OneStrategy(rows, A, h, defaults, one);
    for (int32_t a = 0; a < A; ++a) sigma[a][h - whole] = one[a];
  }
  for (int32_t a = 0; a < A; ++a) {
    double* o = out[a];
    int32_t h = whole;
    if (strategy_sums)
      for (int32_t k = whole; k < n; ++k)
        strategy_sums[a][k] += static_cast<float>((weight * sigma[a][k - whole]) * reach[k]);
    if (h + 4 <= n) {
      const __m256d p = _mm256_mul_pd(_mm256_loadu_pd(sigma[a]), _mm256_loadu_pd(reach + h));
      _mm256_storeu_pd(o + h, p);
      sum0[a] = _mm256_add_pd(sum0[a], p);
      h += 4;
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, _mm256_add_pd(sum0[a], sum1[a]));
    double sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; h < n; ++h) {
      const double p = sigma[a][h - whole] * reach[h];
      o[h] = p;
      sum += p;
    }
    sums[a] = sum;
  }
}


// chosen where the lane of `lanes` is all ones, else other; in logic
// operations, which both builds keep as vector code.
inline __m256d SelectDouble(__m256d lanes, __m256d chosen, __m256d other) {
  return _mm256_or_pd(_mm256_and_pd(lanes, chosen), _mm256_andnot_pd(lanes, other));
}

// The average strategy for a fixed action count, a block of eight hands at a
// time in registers: the float normalisers' quotient of the sums (default 0),
// the 16-bit current strategy, and per hand the first where the quotients add
// up to anything, else the second.
template <int32_t A>
void AverageStrategyFixed(const float* const* sum_rows, const uint16_t* const* regret_rows,
                          int32_t n, const float* uniform, double* const* out) {
  const int32_t whole = n & ~7;
  for (int32_t h = 0; h < whole; h += 8) {
    __m256 v[A];
    v[0] = _mm256_loadu_ps(sum_rows[0] + h);
    __m256 sum = v[0];
    for (int32_t a = 1; a < A; ++a) {
      v[a] = _mm256_loadu_ps(sum_rows[a] + h);
      sum = _mm256_add_ps(sum, v[a]);
    }
    const __m256 usable = _mm256_cmp_ps(sum, _mm256_set1_ps(FLT_MIN), _CMP_GE_OQ);
    const __m256 reciprocal = Reciprocal(sum);
    __m256 q[A];
    BlockStrategy(regret_rows, A, h, uniform, q);
    __m256d average_low[A], average_high[A];
    __m256d total_low, total_high;
    for (int32_t a = 0; a < A; ++a) {
      const __m256 average = _mm256_and_ps(usable, _mm256_mul_ps(v[a], reciprocal));
      average_low[a] = _mm256_cvtps_pd(_mm256_castps256_ps128(average));
      average_high[a] = _mm256_cvtps_pd(_mm256_extractf128_ps(average, 1));
      total_low = a == 0 ? average_low[a] : _mm256_add_pd(total_low, average_low[a]);
      total_high = a == 0 ? average_high[a] : _mm256_add_pd(total_high, average_high[a]);
    }
    const __m256d none_low = _mm256_cmp_pd(total_low, _mm256_setzero_pd(), _CMP_EQ_OQ);
    const __m256d none_high = _mm256_cmp_pd(total_high, _mm256_setzero_pd(), _CMP_EQ_OQ);
    for (int32_t a = 0; a < A; ++a) {
      const __m256d current_low = _mm256_cvtps_pd(_mm256_castps256_ps128(q[a]));
      const __m256d current_high = _mm256_cvtps_pd(_mm256_extractf128_ps(q[a], 1));
      _mm256_storeu_pd(out[a] + h, SelectDouble(none_low, current_low, average_low[a]));
      _mm256_storeu_pd(out[a] + h + 4, SelectDouble(none_high, current_high, average_high[a]));
    }
  }
  for (int32_t h = whole; h < n; ++h) {
    float sum = sum_rows[0][h];
    for (int32_t a = 1; a < A; ++a) sum += sum_rows[a][h];
    double average[A];
    double total = 0.0;
    for (int32_t a = 0; a < A; ++a) {
      average[a] = sum >= FLT_MIN ? static_cast<double>(sum_rows[a][h] / sum) : 0.0;
      total = a == 0 ? average[a] : total + average[a];
    }
    double current[A];
    OneStrategy(regret_rows, A, h, uniform, current);
    for (int32_t a = 0; a < A; ++a) out[a][h] = total == 0.0 ? current[a] : average[a];
  }
}

void AverageStrategy16(const float* const* sum_rows, const uint16_t* const* regret_rows,
                       int32_t actions, int32_t n, const float* uniform, double* const* out) {
  WithActionCount(actions, [&](auto a) {
    AverageStrategyFixed<decltype(a)::value>(sum_rows, regret_rows, n, uniform, out);
  });
}

void OpponentDecision16(const uint16_t* const* rows, int32_t actions, int32_t n,
                        const double* reach, const float* defaults, double* const* out,
                        double* sums, float* const* strategy_sums, double weight) {
  WithActionCount(actions, [&](auto a) {
    OpponentDecisionFixed<decltype(a)::value>(rows, n, reach, defaults, out, sums, strategy_sums,
                                              weight);
  });
}

}  // namespace

const ValueKernels16 kValueKernels16 = {
    .SumValues16 = SumValues16,
    .NormalizeValues16 = NormalizeValues16,
    .NormalizeValues16x2 = NormalizeValues16x2,
    .NormalizeValues16x3 = NormalizeValues16x3,
    .SetActionValues16 = SetActionValues16,
    .UpdateRegrets16 = UpdateRegrets16,
    .AverageValueGroups16 = AverageValueGroups16,
    .UpdateOwnDecision16 = UpdateOwnDecision16,
    .OpponentDecision16 = OpponentDecision16,
    .AverageStrategy16 = AverageStrategy16,
};

#if defined(TDX_ISA_AVX2)
}  // namespace isa_avx2
#else
}  // namespace isa_avx
#endif
