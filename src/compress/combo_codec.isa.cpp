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

// Running sums a vector at a time: the sums within the vector by shifted
// adds (and, in 256 bits, the low half's total added to the high half), then
// the carry from the vectors before; the carry's chain is one add a vector.
#if defined(TDX_ISA_AVX2)
inline __m256i Sums32(__m256i x) {
  x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
  x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
  const __m256i low_total = _mm256_shuffle_epi32(x, 0xFF);
  return _mm256_add_epi32(x, _mm256_permute2x128_si256(low_total, low_total, 0x08));
}
inline __m256i Last32(__m256i x) {
  const __m256i last = _mm256_shuffle_epi32(x, 0xFF);
  return _mm256_permute2x128_si256(last, last, 0x11);
}
inline __m256i Sums16(__m256i x) {
  x = _mm256_add_epi16(x, _mm256_slli_si256(x, 2));
  x = _mm256_add_epi16(x, _mm256_slli_si256(x, 4));
  x = _mm256_add_epi16(x, _mm256_slli_si256(x, 8));
  const __m256i low_total = _mm256_shuffle_epi32(_mm256_shufflehi_epi16(x, 0xFF), 0xFF);
  return _mm256_add_epi16(x, _mm256_permute2x128_si256(low_total, low_total, 0x08));
}
inline __m256i Last16(__m256i x) {
  const __m256i last = _mm256_shuffle_epi32(_mm256_shufflehi_epi16(x, 0xFF), 0xFF);
  return _mm256_permute2x128_si256(last, last, 0x11);
}
inline __m256i Add32(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
inline __m256i Add16(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
inline __m256i LoadAny(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline void StoreAny(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
using Vector = __m256i;
#else
inline __m128i Sums32(__m128i x) {
  x = _mm_add_epi32(x, _mm_slli_si128(x, 4));
  return _mm_add_epi32(x, _mm_slli_si128(x, 8));
}
inline __m128i Last32(__m128i x) { return _mm_shuffle_epi32(x, 0xFF); }
inline __m128i Sums16(__m128i x) {
  x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
  x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
  return _mm_add_epi16(x, _mm_slli_si128(x, 8));
}
inline __m128i Last16(__m128i x) { return _mm_shuffle_epi32(_mm_shufflehi_epi16(x, 0xFF), 0xFF); }
inline __m128i Add32(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
inline __m128i Add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline __m128i LoadAny(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void StoreAny(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
using Vector = __m128i;
#endif

#if defined(TDX_ISA_AVX2)
inline Vector Broadcast(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
inline Vector Broadcast(uint16_t v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
inline uint32_t LowLane(Vector v) { return static_cast<uint32_t>(_mm256_cvtsi256_si32(v)); }
#else
inline Vector Broadcast(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
inline Vector Broadcast(uint16_t v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }
inline uint32_t LowLane(Vector v) { return static_cast<uint32_t>(_mm_cvtsi128_si32(v)); }
#endif
inline Vector Sums(Vector x, uint32_t) { return Sums32(x); }
inline Vector Sums(Vector x, uint16_t) { return Sums16(x); }
inline Vector Last(Vector x, uint32_t) { return Last32(x); }
inline Vector Last(Vector x, uint16_t) { return Last16(x); }
inline Vector Add(Vector a, Vector b, uint32_t) { return Add32(a, b); }
inline Vector Add(Vector a, Vector b, uint16_t) { return Add16(a, b); }

template <typename T>
void PrefixSums(T* out, const T* reference, const T* deltas, int32_t count, T start) {
  constexpr int32_t kStep = static_cast<int32_t>(sizeof(Vector) / sizeof(T));
  const T tag = 0;
  Vector carry = Broadcast(start);
  int32_t i = 0;
  for (; i + kStep <= count; i += kStep) {
    const Vector sums = Sums(LoadAny(deltas + i), tag);
    Vector v = Add(sums, carry, tag);
    if (reference) v = Add(v, LoadAny(reference + i), tag);
    StoreAny(out + i, v);
    carry = Add(carry, Last(sums, tag), tag);
  }
  T running = static_cast<T>(LowLane(carry));
  for (; i < count; ++i) {
    running = static_cast<T>(running + deltas[i]);
    out[i] = reference ? static_cast<T>(reference[i] + running) : running;
  }
}

void PrefixSums32(uint32_t* out, const uint32_t* reference, const uint32_t* deltas, int32_t count,
                  uint32_t start) {
  PrefixSums(out, reference, deltas, count, start);
}

void PrefixSums16(uint16_t* out, const uint16_t* reference, const uint16_t* deltas, int32_t count,
                  uint16_t start) {
  PrefixSums(out, reference, deltas, count, start);
}

}  // namespace

const ComboCodecKernels kComboCodecKernels = {
    .ComputeComboDeltas = ComputeComboDeltas,
    .ComputeComboDeltas16 = ComputeComboDeltas16,
    .FindNonzeroGroups = FindNonzeroGroups,
    .PrefixSums32 = PrefixSums32,
    .PrefixSums16 = PrefixSums16,
};

}  // namespace isa_avx2 / isa_avx
