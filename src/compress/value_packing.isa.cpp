// The packers and unpackers of value arrays, compiled once per instruction
// set (128-bit integer work in both builds). A control byte's 32 values go
// through vector registers; the tail groups are packed value by value.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "compress/value_packing.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "value_packing.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

constexpr int kPrefetchAhead = 2048;

// 16-bit groups

// The largest of eight u16: the smallest of their complements. The
// complement is a saturating subtraction from 0xFFFF, not an exclusive or:
// the AVX-512 build turns that into a three-input logic op that also reads
// its destination register, which chains the four groups of a block.
inline uint16_t GroupMax(__m128i v) {
  const __m128i ones = _mm_set1_epi32(-1);
  return static_cast<uint16_t>(~_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_subs_epu16(ones, v))));
}

inline int BlockCode(uint16_t largest) {
  if (largest == 0) return 0;
  if (largest < 256) return 1;
  if (largest < 4096) return 2;
  return 3;
}

constexpr int kPayloadBytes[4] = {0, 8, 12, 16};

// Eight 12-bit fields, value m in bits 12m ... 12m + 11 of 96 bits: each pair
// becomes 24 bits (x[2i] + 4096 x[2i+1], exact in the signed multiply-add as
// both are below 4096), then the three low bytes of each 32-bit lane.
inline void Pack12(uint8_t* dst, __m128i x) {
  const __m128i pairs = _mm_madd_epi16(x, _mm_set1_epi32(0x10000001));
  const __m128i bytes = _mm_shuffle_epi8(
      pairs, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), bytes);
  const uint32_t last = static_cast<uint32_t>(_mm_extract_epi32(bytes, 2));
  std::memcpy(dst + 8, &last, 4);
}

// Loaded as 8 + 4 bytes straight into the register: a copy through the stack
// would stall on store forwarding, and no byte past the 12 is read.
inline __m128i Unpack12(const uint8_t* src) {
  uint32_t last;
  std::memcpy(&last, src + 8, 4);
  const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)),
                                       _mm_cvtsi32_si128(static_cast<int>(last)));
  // Lane m takes bytes floor(1.5 m) and the one after; odd lanes then drop 4 bits.
  const __m128i pairs = _mm_shuffle_epi8(
      v, _mm_setr_epi8(0, 1, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11));
  const __m128i shifted = _mm_blend_epi16(pairs, _mm_srli_epi16(pairs, 4), 0xAA);
  return _mm_and_si128(shifted, _mm_set1_epi16(0x0FFF));
}

// A group of any code from one 16-byte load, without a branch on the code:
// a byte shuffle puts each value's bytes in its lane (none for code 0, the low
// byte for code 1), then code 2's odd lanes take their bits from 4 higher.
alignas(16) constexpr int8_t kGroupShuffle[4][16] = {
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {0, -1, 1, -1, 2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1},
    {0, 1, 1, 2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 10, 10, 11},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
alignas(16) constexpr uint16_t kGroupKeep[4][8] = {
    {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0x0FFF, 0, 0x0FFF, 0, 0x0FFF, 0, 0x0FFF, 0},
    {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};
alignas(16) constexpr uint16_t kGroupShifted[4][8] = {
    {}, {}, {0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF}, {}};

// Reads 16 bytes at src whatever the code: the caller keeps them inside the input.
inline __m128i UnpackGroup16(const uint8_t* src, int code) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  const __m128i lanes =
      _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(kGroupShuffle[code])));
  const __m128i keep = _mm_load_si128(reinterpret_cast<const __m128i*>(kGroupKeep[code]));
  const __m128i shifted = _mm_load_si128(reinterpret_cast<const __m128i*>(kGroupShifted[code]));
  return _mm_or_si128(_mm_and_si128(lanes, keep), _mm_and_si128(_mm_srli_epi16(lanes, 4), shifted));
}

// 32-bit groups

// Largest of eight u32 held in two registers, compared unsigned.
inline uint32_t GroupMax32(__m128i low, __m128i high) {
  __m128i m = _mm_max_epu32(low, high);
  m = _mm_max_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
  m = _mm_max_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(m));
}

inline int BlockCode32(uint32_t largest) {
  if (largest == 0) return 0;
  if (largest < 256) return 1;
  if (largest < 65536) return 2;
  return 3;
}

constexpr int kPayloadBytes32[4] = {0, 8, 16, 32};

// A 32-bit group of any code from two 16-byte loads, without a branch on the
// code: per half a byte shuffle of each load, zero bytes where the code has
// none (code 1 bytes, code 2 u16, code 3 u32).
alignas(16) constexpr int8_t kGroup32Low[4][16] = {
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {0, -1, -1, -1, 1, -1, -1, -1, 2, -1, -1, -1, 3, -1, -1, -1},
    {0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7, -1, -1},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
// The high half from the first load (codes 1 and 2) ...
alignas(16) constexpr int8_t kGroup32HighFirst[4][16] = {
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {4, -1, -1, -1, 5, -1, -1, -1, 6, -1, -1, -1, 7, -1, -1, -1},
    {8, 9, -1, -1, 10, 11, -1, -1, 12, 13, -1, -1, 14, 15, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}};
// ... or from the second (code 3).
alignas(16) constexpr int8_t kGroup32HighSecond[4][16] = {
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};

inline __m128i ShuffleBy(__m128i v, const int8_t* table) {
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

// Reads 32 bytes at src whatever the code: the caller keeps them inside the input.
inline void UnpackGroup32(__m128i* out, const uint8_t* src, int code) {
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
  _mm_storeu_si128(out, ShuffleBy(first, kGroup32Low[code]));
  _mm_storeu_si128(out + 1, _mm_or_si128(ShuffleBy(first, kGroup32HighFirst[code]),
                                         ShuffleBy(second, kGroup32HighSecond[code])));
}

// The tail group's code byte: bit 1 for a value above 65535, bit 0 for one in
// 256 ... 65535.
inline uint8_t TailCode32(const uint32_t* values, int32_t g) {
  uint8_t code = 0;
  for (int32_t k = 0; k < g; ++k) {
    if (values[k] > 65535) code |= 2;
    else if (values[k] > 255) code |= 1;
  }
  return code;
}

uint8_t* PackValues16(uint8_t* dst, const uint16_t* values, int32_t n) {
  int32_t left = n;
  while (left >= 32) {
    __m128i groups[4];
    int codes[4];
    int control = 0;
    for (int g = 0; g < 4; ++g) {
      groups[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * g));
      codes[g] = BlockCode(GroupMax(groups[g]));
      control |= codes[g] << (2 * g);
    }
    *dst++ = static_cast<uint8_t>(control);
    if (control == 0x55) {
      // 32 byte values: the fast path of the common small-regret block.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(groups[0], groups[1]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_packus_epi16(groups[2], groups[3]));
      dst += 32;
    } else if (control != 0) {
      for (int g = 0; g < 4; ++g) {
        switch (codes[g]) {
          case 1:
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(groups[g], groups[g]));
            break;
          case 2:
            Pack12(dst, groups[g]);
            break;
          case 3:
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), groups[g]);
            break;
        }
        dst += kPayloadBytes[codes[g]];
      }
    }
    values += 32;
    left -= 32;
  }
  while (left > 0) {
    const int32_t g = std::min<int32_t>(8, left);
    uint16_t largest = 0;
    for (int32_t k = 0; k < g; ++k) largest = std::max(largest, values[k]);
    if (largest < 256) {
      *dst++ = 1;
      for (int32_t k = 0; k < g; ++k) *dst++ = static_cast<uint8_t>(values[k]);
    } else {
      *dst++ = 3;
      std::memcpy(dst, values, 2 * static_cast<size_t>(g));
      dst += 2 * g;
    }
    values += g;
    left -= g;
  }
  return dst;
}

const uint8_t* UnpackValues16(uint16_t* out, int32_t n, const uint8_t* src, size_t length) {
  const uint8_t* p = src;
  const uint8_t* const end = src + length;
  int32_t left = n;
  while (left >= 32) {
    if (p == end) return nullptr;
    // The rows stream in from memory much larger than the caches, and the
    // hardware prefetcher stops at each page: ask 2 KB ahead, about a memory
    // latency's worth of blocks at this rate (a prefetch never faults, past
    // the end included).
    _mm_prefetch(reinterpret_cast<const char*>(p) + kPrefetchAhead, _MM_HINT_T0);
    const int control = *p++;
    __m128i* o = reinterpret_cast<__m128i*>(out);
    if (control == 0) {
      const __m128i zero = _mm_setzero_si128();
      for (int g = 0; g < 4; ++g) _mm_storeu_si128(o + g, zero);
    } else if (control == 0x55) {
      if (end - p < 32) return nullptr;
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      _mm_storeu_si128(o, _mm_cvtepu8_epi16(low));
      _mm_storeu_si128(o + 1, _mm_cvtepu8_epi16(_mm_srli_si128(low, 8)));
      _mm_storeu_si128(o + 2, _mm_cvtepu8_epi16(high));
      _mm_storeu_si128(o + 3, _mm_cvtepu8_epi16(_mm_srli_si128(high, 8)));
      p += 32;
    } else if (end - p >= 64 + 16) {
      // Room for the widest block and a 16-byte load past it: mixed codes
      // without a branch per group.
      for (int g = 0; g < 4; ++g) {
        const int code = (control >> (2 * g)) & 3;
        _mm_storeu_si128(o + g, UnpackGroup16(p, code));
        p += kPayloadBytes[code];
      }
    } else {
      const int need = kPayloadBytes[control & 3] + kPayloadBytes[(control >> 2) & 3] +
                       kPayloadBytes[(control >> 4) & 3] + kPayloadBytes[control >> 6];
      if (end - p < need) return nullptr;
      for (int g = 0; g < 4; ++g) {
        const int code = (control >> (2 * g)) & 3;
        switch (code) {
          case 0:
            _mm_storeu_si128(o + g, _mm_setzero_si128());
            break;
          case 1:
            _mm_storeu_si128(o + g, _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
            break;
          case 2:
            _mm_storeu_si128(o + g, Unpack12(p));
            break;
          case 3:
            _mm_storeu_si128(o + g, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
            break;
        }
        p += kPayloadBytes[code];
      }
    }
    out += 32;
    left -= 32;
  }
  while (left > 0) {
    const int32_t g = std::min<int32_t>(8, left);
    if (p == end) return nullptr;
    const uint8_t flag = *p++;
    if (flag == 1) {
      if (end - p < g) return nullptr;
      for (int32_t k = 0; k < g; ++k) out[k] = p[k];
      p += g;
    } else {
      if (end - p < 2 * g) return nullptr;
      std::memcpy(out, p, 2 * static_cast<size_t>(g));
      p += 2 * g;
    }
    out += g;
    left -= g;
  }
  return p;
}

uint8_t* PackValues32(uint8_t* dst, const uint32_t* values, int32_t n) {
  int32_t left = n;
  while (left >= 32) {
    __m128i halves[8];
    int codes[4];
    int control = 0;
    for (int g = 0; g < 4; ++g) {
      halves[2 * g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * g));
      halves[2 * g + 1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * g + 4));
      codes[g] = BlockCode32(GroupMax32(halves[2 * g], halves[2 * g + 1]));
      control |= codes[g] << (2 * g);
    }
    *dst++ = static_cast<uint8_t>(control);
    // Bytes and u16 come from the signed saturating packs, exact here: every
    // value packed that way is below 65536.
    for (int g = 0; g < 4; ++g) {
      const __m128i low = halves[2 * g], high = halves[2 * g + 1];
      switch (codes[g]) {
        case 1: {
          const __m128i words = _mm_packus_epi32(low, high);
          _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(words, words));
          break;
        }
        case 2:
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi32(low, high));
          break;
        case 3:
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), low);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), high);
          break;
      }
      dst += kPayloadBytes32[codes[g]];
    }
    values += 32;
    left -= 32;
  }
  while (left > 0) {
    const int32_t g = std::min<int32_t>(8, left);
    const uint8_t code = TailCode32(values, g);
    *dst++ = code;
    for (int32_t k = 0; k < g; ++k) {
      if (code == 0) {
        *dst++ = static_cast<uint8_t>(values[k]);
      } else if (code == 1) {
        const uint16_t v = static_cast<uint16_t>(values[k]);
        std::memcpy(dst, &v, 2);
        dst += 2;
      } else {
        std::memcpy(dst, values + k, 4);
        dst += 4;
      }
    }
    values += g;
    left -= g;
  }
  return dst;
}

const uint8_t* UnpackValues32(uint32_t* out, int32_t n, const uint8_t* src, size_t length) {
  const uint8_t* p = src;
  const uint8_t* const end = src + length;
  int32_t left = n;
  while (left >= 32) {
    if (p == end) return nullptr;
    _mm_prefetch(reinterpret_cast<const char*>(p) + kPrefetchAhead, _MM_HINT_T0);  // as for 16 bits
    const int control = *p++;
    __m128i* o = reinterpret_cast<__m128i*>(out);
    if (end - p >= 128 + 32) {
      // Room for the widest block and a 32-byte load past it.
      for (int g = 0; g < 4; ++g, o += 2) {
        const int code = (control >> (2 * g)) & 3;
        UnpackGroup32(o, p, code);
        p += kPayloadBytes32[code];
      }
      out += 32;
      left -= 32;
      continue;
    }
    const int need = kPayloadBytes32[control & 3] + kPayloadBytes32[(control >> 2) & 3] +
                     kPayloadBytes32[(control >> 4) & 3] + kPayloadBytes32[control >> 6];
    if (end - p < need) return nullptr;
    for (int g = 0; g < 4; ++g, o += 2) {
      const int code = (control >> (2 * g)) & 3;
      switch (code) {
        case 0:
          _mm_storeu_si128(o, _mm_setzero_si128());
          _mm_storeu_si128(o + 1, _mm_setzero_si128());
          break;
        case 1: {
          const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
          _mm_storeu_si128(o, _mm_cvtepu8_epi32(bytes));
          _mm_storeu_si128(o + 1, _mm_cvtepu8_epi32(_mm_srli_si128(bytes, 4)));
          break;
        }
        case 2: {
          const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
          _mm_storeu_si128(o, _mm_cvtepu16_epi32(words));
          _mm_storeu_si128(o + 1, _mm_cvtepu16_epi32(_mm_srli_si128(words, 8)));
          break;
        }
        case 3:
          _mm_storeu_si128(o, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
          _mm_storeu_si128(o + 1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
          break;
      }
      p += kPayloadBytes32[code];
    }
    out += 32;
    left -= 32;
  }
  while (left > 0) {
    const int32_t g = std::min<int32_t>(8, left);
    if (p == end) return nullptr;
    const uint8_t code = *p++;
    const int32_t width = code == 0 ? 1 : code == 1 ? 2 : 4;
    if (end - p < width * g) return nullptr;
    for (int32_t k = 0; k < g; ++k, p += width) {
      if (width == 1) {
        out[k] = *p;
      } else if (width == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        out[k] = v;
      } else {
        std::memcpy(out + k, p, 4);
      }
    }
    out += g;
    left -= g;
  }
  return p;
}

}  // namespace

const ValuePackingKernels kValuePackingKernels = {
    .PackValues16 = PackValues16,
    .UnpackValues16 = UnpackValues16,
    .PackValues32 = PackValues32,
    .UnpackValues32 = UnpackValues32,
};

}  // namespace isa_avx2 / isa_avx
