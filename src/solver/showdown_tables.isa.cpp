// Kernels of the showdown tables, compiled once per instruction set. The
// table columns are built with 128-bit integer steps in both builds; the
// product adds in double, fused in the AVX2 build.
#include <immintrin.h>

#include <cstring>

#include "platform/fused_multiply_add.h"
#include "solver/showdown_tables.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "showdown_tables.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

// Four table cells widened to doubles.
inline __m256d Cells4(const int8_t* cells) {
  int32_t bytes;
  std::memcpy(&bytes, cells, sizeof bytes);
  return _mm256_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(bytes)));
}

void AddShowdownSigns(int16_t* column, int32_t n, const int16_t* groups, const uint64_t* masks,
                      int16_t group, uint64_t mask) {
  const __m128i g = _mm_set1_epi16(group);
  const __m128i m = _mm_set1_epi64x(static_cast<long long>(mask));
  const __m128i zero = _mm_setzero_si128();
  const __m128i none = _mm_set1_epi16(-1);
  int32_t a = 0;
  for (; a + 8 <= n; a += 8) {
    const __m128i ga = _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups + a));
    // +1 where the hand is stronger, -1 where it is weaker, 0 on a tie.
    const __m128i sign = _mm_sub_epi16(_mm_cmpgt_epi16(g, ga), _mm_cmpgt_epi16(ga, g));
    // Hands off this board (group -1) and hands sharing a card count nothing.
    __m128i keep = _mm_andnot_si128(_mm_cmpeq_epi16(ga, none), _mm_set1_epi16(-1));
    __m128i free4[4];
    for (int k = 0; k < 4; ++k) {
      const __m128i hands =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + a + 2 * k));
      free4[k] = _mm_cmpeq_epi64(_mm_and_si128(hands, m), zero);
    }
    // Four pairs of 64-bit lanes to eight 16-bit lanes.
    const __m128i free16 = _mm_packs_epi32(_mm_packs_epi32(free4[0], free4[1]),
                                           _mm_packs_epi32(free4[2], free4[3]));
    keep = _mm_and_si128(keep, free16);
    __m128i* out = reinterpret_cast<__m128i*>(column + a);
    _mm_storeu_si128(out, _mm_add_epi16(_mm_loadu_si128(out), _mm_and_si128(sign, keep)));
  }
  for (; a < n; ++a) {
    const int16_t ga = groups[a];
    if (ga < 0 || (masks[a] & mask) != 0) continue;
    column[a] = static_cast<int16_t>(column[a] + (ga > group) - (ga < group));
  }
}

void AddShowdownColumns(double* out, int32_t n, const int8_t* table, int32_t stride,
                        const int32_t* columns, const double* weights, int32_t count) {
  int32_t k = 0;
  // Four columns at a time: out is read and written once per four.
  for (; k + 4 <= count; k += 4) {
    const int8_t* c0 = table + static_cast<int64_t>(columns[k]) * stride;
    const int8_t* c1 = table + static_cast<int64_t>(columns[k + 1]) * stride;
    const int8_t* c2 = table + static_cast<int64_t>(columns[k + 2]) * stride;
    const int8_t* c3 = table + static_cast<int64_t>(columns[k + 3]) * stride;
    const __m256d w0 = _mm256_set1_pd(weights[k]), w1 = _mm256_set1_pd(weights[k + 1]);
    const __m256d w2 = _mm256_set1_pd(weights[k + 2]), w3 = _mm256_set1_pd(weights[k + 3]);
    int32_t a = 0;
    for (; a + 4 <= n; a += 4) {
      __m256d sum = _mm256_loadu_pd(out + a);
      sum = MulAdd4(Cells4(c0 + a), w0, sum);
      sum = MulAdd4(Cells4(c1 + a), w1, sum);
      sum = MulAdd4(Cells4(c2 + a), w2, sum);
      sum = MulAdd4(Cells4(c3 + a), w3, sum);
      _mm256_storeu_pd(out + a, sum);
    }
    for (; a < n; ++a) {
      double sum = out[a];
      sum += c0[a] * weights[k];
      sum += c1[a] * weights[k + 1];
      sum += c2[a] * weights[k + 2];
      sum += c3[a] * weights[k + 3];
      out[a] = sum;
    }
  }
  for (; k < count; ++k) {
    const int8_t* c = table + static_cast<int64_t>(columns[k]) * stride;
    const __m256d w = _mm256_set1_pd(weights[k]);
    int32_t a = 0;
    for (; a + 4 <= n; a += 4)
      _mm256_storeu_pd(out + a, MulAdd4(Cells4(c + a), w, _mm256_loadu_pd(out + a)));
    for (; a < n; ++a) out[a] += c[a] * weights[k];
  }
}

}  // namespace

const ShowdownTablesKernels kShowdownTablesKernels = {
    .AddShowdownSigns = AddShowdownSigns,
    .AddShowdownColumns = AddShowdownColumns,
};

}  // namespace isa_*
