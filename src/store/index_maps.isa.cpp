// The index-map routines, compiled once per instruction set. Both builds do the
// same additions in the same order, so their results are bit-identical; the
// AVX2 build differs only in expanding to combinations with masked gathers.
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "store/index_maps.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "index_maps.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

constexpr double kQuietNan = std::bit_cast<double>(uint64_t{0x7FF8000000000000});

// Four values src[idx[0..3]] in one vector. Scalar loads in both builds: a
// hardware gather of four doubles measured slower (about 1.8x on the plain
// gather of 1128 hands) than four loads.
inline __m256d Fetch4(const double* src, const int16_t* idx) {
  return _mm256_set_pd(src[idx[3]], src[idx[2]], src[idx[1]], src[idx[0]]);
}

// The sum of src over one group's run of n indices, in the one fixed order:
// lane j of the two vectors holds partial sum j (indices = j mod 8 of the whole
// blocks of eight), the partials are added in the order 0..7, then the 0 to 7
// remaining indices are added from the last one down.
inline double SumRun(const double* src, const int16_t* idx, int32_t n) {
  const int32_t whole = n & ~7;
  __m256d low = _mm256_setzero_pd();
  __m256d high = _mm256_setzero_pd();
  for (int32_t k = 0; k < whole; k += 8) {
    low = _mm256_add_pd(low, Fetch4(src, idx + k));
    high = _mm256_add_pd(high, Fetch4(src, idx + k + 4));
  }
  alignas(32) double partial[8];
  _mm256_store_pd(partial, low);
  _mm256_store_pd(partial + 4, high);
  double total = partial[0];
  for (int j = 1; j < 8; ++j) total += partial[j];
  for (int32_t k = n - 1; k >= whole; --k) total += src[idx[k]];
  return total;
}

// Makes out absent with the given count, without allocating.
inline void MakeAbsent(NumArray& out, int32_t count) {
  out.Free();
  out.count = count;
}

void ExpandHandsToCombos(double* out, const NumArray& src, const int16_t* map,
                         bool nan_for_absent) {
  const double fallback = nan_for_absent ? kQuietNan : 0.0;
  if (!src.data) {
    for (int c = 0; c < kComboMapSize; ++c) out[c] = map[c] >= 0 ? 0.0 : fallback;
    return;
  }
  const double* values = src.data;
#if defined(TDX_ISA_AVX2)
  int c = 0;
  // Single entries up to a 32-byte boundary of the output, for aligned stores.
  for (; c < kComboMapSize && (reinterpret_cast<uintptr_t>(out + c) & 31) != 0; ++c)
    out[c] = map[c] >= 0 ? values[map[c]] : fallback;
  const __m256d fallback4 = _mm256_set1_pd(fallback);
  for (; c + 16 <= kComboMapSize; c += 16) {
    const __m256i map16 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(map + c));
    // The sign bit of ~index is set exactly for the entries that are present.
    const __m256i present16 = _mm256_xor_si256(map16, _mm256_set1_epi32(-1));
    for (int half = 0; half < 2; ++half) {
      const __m128i map8 = half == 0 ? _mm256_castsi256_si128(map16)
                                     : _mm256_extracti128_si256(map16, 1);
      const __m128i present8 = half == 0 ? _mm256_castsi256_si128(present16)
                                         : _mm256_extracti128_si256(present16, 1);
      const __m256i index8 = _mm256_cvtepi16_epi32(map8);
      const __m256i mask8 = _mm256_cvtepi16_epi32(present8);
      for (int quarter = 0; quarter < 2; ++quarter) {
        const __m128i index4 = quarter == 0 ? _mm256_castsi256_si128(index8)
                                            : _mm256_extracti128_si256(index8, 1);
        const __m128i mask4 = quarter == 0 ? _mm256_castsi256_si128(mask8)
                                           : _mm256_extracti128_si256(mask8, 1);
        // Masked-off lanes keep the fallback and read no memory.
        const __m256d gathered = _mm256_mask_i32gather_pd(
            fallback4, values, index4, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(mask4)), 8);
        _mm256_store_pd(out + c + 8 * half + 4 * quarter, gathered);
      }
    }
  }
  for (; c < kComboMapSize; ++c) out[c] = map[c] >= 0 ? values[map[c]] : fallback;
#else
  // Two combinations per step (1326 is even).
  for (int c = 0; c < kComboMapSize; c += 2) {
    const int16_t m0 = map[c], m1 = map[c + 1];
    const double v0 = m0 >= 0 ? values[m0] : fallback;
    const double v1 = m1 >= 0 ? values[m1] : fallback;
    _mm_storeu_pd(out + c, _mm_set_pd(v1, v0));
  }
#endif
}

void CompactCombosToHands(NumArray& dest, const double* src, const int16_t* map) {
  dest.MaterializeZeros();
  double* values = dest.data;
  // Two combinations per step; a negative entry is never written, so a NaN
  // placed on a board combination cannot reach the hands.
  for (int c = 0; c < kComboMapSize; c += 2) {
    const int16_t m0 = map[c], m1 = map[c + 1];
    if (m0 >= 0) values[m0] = src[c];
    if (m1 >= 0) values[m1] = src[c + 1];
  }
}

void GatherSumHandGroups(const HandGroupView& record, NumArray& out, const NumArray& src) {
  const std::vector<std::vector<int16_t>>* lists = record.card_lists;
  const bool have_list = lists && !lists->empty();
  if (record.hand_group_flag != 0) {
    const int32_t groups =
        record.group_sizes ? static_cast<int32_t>(record.group_sizes->size()) : 0;
    // Absent source: the group sums are zeros, passed on as absent like the
    // plain branch does, so the subgame prunes instead of summing zeros.
    if (!src.data || !have_list) {
      MakeAbsent(out, groups);
      return;
    }
    out.Resize(groups);
    if (groups == 0) return;
    const int16_t* sizes = record.group_sizes->data();
    const int16_t* list0 = (*lists)[0].data();
    int32_t start = 0;
    for (int32_t g = 0; g < groups; ++g) {
      const int32_t n = sizes[g] > 0 ? sizes[g] : 0;
      out.data[g] = SumRun(src.data, list0 + start, n);
      start += n;
    }
    return;
  }
  const int32_t n = record.hand_count;
  if (!src.data || !have_list) {
    MakeAbsent(out, n);
    return;
  }
  out.Resize(n);
  const double* values = src.data;
  const int16_t* list0 = (*lists)[0].data();
  double* result = out.data;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) _mm256_store_pd(result + i, Fetch4(values, list0 + i));
  for (; i < n; ++i) result[i] = values[list0[i]];
}

void ScatterAddCombos(NumArray& dest, const NumArray& src, const int16_t* index) {
  if (!src.data || src.count <= 0) return;
  dest.MaterializeZeros();
  double* target = dest.data;
  const double* values = src.data;
  const int32_t n = src.count;
  for (int32_t i = 0; i < n; ++i) target[index[i]] += values[i];
}

void ScatterAddHandGroups(const HandGroupView& record, NumArray& dest, const NumArray& src) {
  const std::vector<std::vector<int16_t>>* lists = record.card_lists;
  if (!src.data || !lists) return;
  if (src.count != record.hand_count) {
    // One value per group: each adds into every parent entry of its run.
    if (!record.group_sizes) return;
    const int32_t groups = static_cast<int32_t>(record.group_sizes->size());
    // Never read past the values the subgame delivered.
    const int32_t used = groups < src.count ? groups : src.count;
    if (used <= 0) return;
    dest.MaterializeZeros();
    double* target = dest.data;
    const int16_t* sizes = record.group_sizes->data();
    for (const std::vector<int16_t>& list : *lists) {
      const int16_t* index = list.data();
      int32_t start = 0;
      for (int32_t g = 0; g < used; ++g) {
        const int32_t n = sizes[g] > 0 ? sizes[g] : 0;
        const double value = src.data[g];
        for (int32_t j = start; j < start + n; ++j) target[index[j]] += value;
        start += n;
      }
    }
    return;
  }
  for (const std::vector<int16_t>& list : *lists) ScatterAddCombos(dest, src, list.data());
}

}  // namespace

const IndexMapsKernels kIndexMapsKernels = {
    .ExpandHandsToCombos = ExpandHandsToCombos,
    .CompactCombosToHands = CompactCombosToHands,
    .GatherSumHandGroups = GatherSumHandGroups,
    .ScatterAddHandGroups = ScatterAddHandGroups,
    .ScatterAddCombos = ScatterAddCombos,
};

}  // namespace isa_avx2 / isa_avx
