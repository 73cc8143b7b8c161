// The codec's kernels, compiled once per instruction set: the AVX2 build works
// on eight 32-bit lanes, the AVX build on four (AVX has no 256-bit integer
// operations). Both give exactly the scalar results.
#include <immintrin.h>

#include "compress/combo_codec.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "combo_codec.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

#if defined(TDX_ISA_AVX2)
constexpr int32_t kLanes = 8;
using Lanes = __m256i;
inline Lanes Load32(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline Lanes Load16(const uint16_t* p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
inline void Store(uint32_t* p, Lanes v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline Lanes Sub(Lanes a, Lanes b) { return _mm256_sub_epi32(a, b); }
inline Lanes ZigzagLanes(Lanes d) {
  return _mm256_xor_si256(_mm256_slli_epi32(d, 1), _mm256_srai_epi32(d, 31));
}
// One bit per lane that holds zero.
inline uint32_t ZeroLanes(Lanes v) {
  return static_cast<uint32_t>(
      _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256()))));
}
#else
constexpr int32_t kLanes = 4;
using Lanes = __m128i;
inline Lanes Load32(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline Lanes Load16(const uint16_t* p) {
  return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
inline void Store(uint32_t* p, Lanes v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline Lanes Sub(Lanes a, Lanes b) { return _mm_sub_epi32(a, b); }
inline Lanes ZigzagLanes(Lanes d) { return _mm_xor_si128(_mm_slli_epi32(d, 1), _mm_srai_epi32(d, 31)); }
inline uint32_t ZeroLanes(Lanes v) {
  return static_cast<uint32_t>(
      _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_setzero_si128()))));
}
#endif

inline uint32_t Load(const uint32_t* p, int32_t i) { return p[i]; }
inline uint32_t Load(const uint16_t* p, int32_t i) { return p[i]; }
inline Lanes LoadLanes(const uint32_t* p) { return Load32(p); }
inline Lanes LoadLanes(const uint16_t* p) { return Load16(p); }

template <typename T>
bool Deltas(uint32_t* reference_form, uint32_t* plain, const T* v, const T* r, int32_t n) {
  if (n <= 0) return false;
  if (!r) {
    plain[0] = Zigzag(Load(v, 0));
    int32_t i = 1;
    for (; i + kLanes <= n; i += kLanes)
      Store(plain + i, ZigzagLanes(Sub(LoadLanes(v + i), LoadLanes(v + i - 1))));
    for (; i < n; ++i) plain[i] = Zigzag(Load(v, i) - Load(v, i - 1));
    return false;
  }
  plain[0] = reference_form[0] = Zigzag(Load(v, 0) - Load(r, 0));
  // Zero entries of each form; the nonzero counts compare the other way round.
  int32_t plain_zeros = plain[0] == 0, reference_zeros = plain_zeros;
  int32_t i = 1;
  for (; i + kLanes <= n; i += kLanes) {
    const Lanes dv = Sub(LoadLanes(v + i), LoadLanes(v + i - 1));
    const Lanes dr = Sub(LoadLanes(r + i), LoadLanes(r + i - 1));
    const Lanes p = ZigzagLanes(dv);
    const Lanes q = ZigzagLanes(Sub(dv, dr));
    Store(plain + i, p);
    Store(reference_form + i, q);
    plain_zeros += __builtin_popcount(ZeroLanes(p));
    reference_zeros += __builtin_popcount(ZeroLanes(q));
  }
  for (; i < n; ++i) {
    const uint32_t dv = Load(v, i) - Load(v, i - 1);
    const uint32_t dr = Load(r, i) - Load(r, i - 1);
    plain[i] = Zigzag(dv);
    reference_form[i] = Zigzag(dv - dr);
    plain_zeros += plain[i] == 0;
    reference_zeros += reference_form[i] == 0;
  }
  return reference_zeros > plain_zeros;
}

bool ComputeComboDeltas(uint32_t* reference_form, uint32_t* plain, const uint32_t* values,
                        const uint32_t* reference, int32_t count) {
  return Deltas(reference_form, plain, values, reference, count);
}

bool ComputeComboDeltas16(uint32_t* reference_form, uint32_t* plain, const uint16_t* values,
                          const uint16_t* reference, int32_t count) {
  return Deltas(reference_form, plain, values, reference, count);
}

void FindNonzeroGroups(const uint32_t* values, int32_t count, uint8_t* masks) {
  int32_t g = 0;
  for (; g + 8 <= count; g += 8) {
#if defined(TDX_ISA_AVX2)
    const uint32_t zeros = ZeroLanes(Load32(values + g));
#else
    const uint32_t zeros = ZeroLanes(Load32(values + g)) | ZeroLanes(Load32(values + g + 4)) << 4;
#endif
    *masks++ = static_cast<uint8_t>(~zeros);
  }
  if (g < count) {
    uint32_t mask = 0;
    for (int32_t k = 0; g + k < count; ++k) mask |= static_cast<uint32_t>(values[g + k] != 0) << k;
    *masks = static_cast<uint8_t>(mask);
  }
}

}  // namespace

const ComboCodecKernels kComboCodecKernels = {
    .ComputeComboDeltas = ComputeComboDeltas,
    .ComputeComboDeltas16 = ComputeComboDeltas16,
    .FindNonzeroGroups = FindNonzeroGroups,
};

}  // namespace isa_avx2 / isa_avx
