#pragma once
// Pieces shared by the end-node kernels compiled once per instruction set: the
// cards of a hand, the card check, the runs of strength groups, the blocked
// totals and the fold fill, and the lane tables of the collecting scans. Only
// for *.isa.cpp sources; everything lives in the build's own namespace.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "cards/card.h"
#include "platform/fused_multiply_add.h"
#include "solver/terminal_kernels.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "end_node_parts.h is for sources built with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

// A hand's two cards, packed low | high << 8.
inline int LowCard(uint16_t pair) { return pair & 0xFF; }
inline int HighCard(uint16_t pair) { return pair >> 8; }

// True when some hand holds a card number of 52 or more (16 card bytes a step).
inline bool HasFaultyCards(const uint16_t* cards, int32_t n) {
  __m128i top = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 8 <= n; i += 8)
    top = _mm_max_epu8(top, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cards + i)));
  const __m128i last_good = _mm_set1_epi8(kCardCount - 1);
  const bool vector_bad =
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(top, last_good), last_good)) != 0xFFFF;
  int tail = 0;
  for (; i < n; ++i) tail |= (LowCard(cards[i]) >= kCardCount) | (HighCard(cards[i]) >= kCardCount);
  return vector_bad || tail != 0;
}

inline bool FaultyHand(uint16_t pair) {
  return LowCard(pair) >= kCardCount || HighCard(pair) >= kCardCount;
}

// t - s[c1] - s[c2] for four hands and for one: the opponent total less every
// hand that shares a card with the hand. The card sums are read one by one,
// which also keeps a wide load from waiting on fresh narrow stores to them.
inline __m256d Removed4(__m256d t, const double* s, const uint16_t* c) {
  const __m256d low =
      _mm256_set_pd(s[LowCard(c[3])], s[LowCard(c[2])], s[LowCard(c[1])], s[LowCard(c[0])]);
  const __m256d high =
      _mm256_set_pd(s[HighCard(c[3])], s[HighCard(c[2])], s[HighCard(c[1])], s[HighCard(c[0])]);
  return _mm256_sub_pd(_mm256_sub_pd(t, low), high);
}
inline double Removed1(double t, const double* s, uint16_t c) {
  return t - s[LowCard(c)] - s[HighCard(c)];
}

// out[i] = t - s[c1(i)] - s[c2(i)] + v * r[i] over all n hands, r[i] taken
// only when above zero: hand i itself is in both card sums exactly when its
// reach was counted, and is added back once.
inline void FillFold(double* out, const double* in, const uint16_t* cards, int32_t n, double t,
                     const double* s, double v) {
  const __m256d tv = _mm256_set1_pd(t);
  const __m256d vv = _mm256_set1_pd(v);
  const __m256d zero = _mm256_setzero_pd();
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d r = _mm256_loadu_pd(in + i);
    const __m256d counted = _mm256_and_pd(r, _mm256_cmp_pd(r, zero, _CMP_GT_OQ));
    _mm256_storeu_pd(out + i, MulAdd4(vv, counted, Removed4(tv, s, cards + i)));
  }
  for (; i < n; ++i) {
    const double r = in[i];
    out[i] = MulAdd(v, r > 0.0 ? r : 0.0, Removed1(t, s, cards[i]));
  }
}

// The group sizes as runs over n hands: sizes of zero or below are skipped, a
// run never passes n, and hands past the listed groups form one last run.
template <typename Visit>
inline void ForEachGroup(const int16_t* groups, int32_t group_count, int32_t n, Visit visit) {
  int32_t pos = 0;
  for (int32_t g = 0; pos < n; ++g) {
    int32_t size = g < group_count ? groups[g] : n - pos;
    if (size <= 0) continue;
    if (size > n - pos) size = n - pos;
    visit(pos, size);
    pos += size;
  }
}

// A group of hands with entries: its run of hands [start, end) and of entries
// [first, last).
struct EntryGroup {
  int16_t start, end, first, last;
};

// True when the strength groups are runs of at least one hand that add up to
// n exactly (as the showdown preparation makes them).
inline bool GroupsCoverHands(const int16_t* groups, int32_t group_count, int32_t n) {
  __m128i low = _mm_set1_epi16(1);
  __m128i sum = _mm_setzero_si128();
  int32_t g = 0;
  for (; g + 8 <= group_count; g += 8) {
    const __m128i sizes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups + g));
    low = _mm_min_epi16(low, sizes);
    sum = _mm_add_epi32(sum, _mm_madd_epi16(sizes, _mm_set1_epi16(1)));
  }
  alignas(16) int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
  int64_t total = static_cast<int64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
  int32_t least = _mm_movemask_epi8(_mm_cmpgt_epi16(_mm_set1_epi16(1), low)) ? 0 : 1;
  for (; g < group_count; ++g) {
    total += groups[g];
    if (groups[g] < least) least = groups[g];
  }
  return least >= 1 && total == n;
}

// Lists the groups that hold entries, in order; returns their number. before[j]
// is the count of entries below hand j, for j = 0 ... n. Groups that do not
// cover the hands exactly are read as the runs of ForEachGroup.
inline int32_t ListEntryGroups(EntryGroup* listed_groups, const int16_t* before, int32_t n,
                               const int16_t* groups, int32_t group_count) {
  // A group holds entries when the count of entries below its end differs
  // from the count below its start.
  int32_t listed = 0;
  const auto list = [&](int32_t start, int32_t end) {
    listed_groups[listed] = EntryGroup{static_cast<int16_t>(start), static_cast<int16_t>(end),
                                       before[start], before[end]};
    listed += before[end] != before[start];
  };
  if (!GroupsCoverHands(groups, group_count, n)) [[unlikely]] {
    ForEachGroup(groups, group_count, n, [&](int32_t pos, int32_t size) { list(pos, pos + size); });
    return listed;
  }
  for (int32_t g = 0, pos = 0; g < group_count; pos += groups[g++]) list(pos, pos + groups[g]);
  return listed;
}

// Card sums s of k entries (payoffs x, card pairs cards), in entry order into
// two tables by the entry's parity so that neighbouring entries that share a
// card do not wait on each other's sums, then the tables added; returns the
// total: the 52 sums in four lanes of thirteen, the lanes added pairwise,
// halved. The card pairs are read eight bytes at a time.
inline double EntryCardSums(double* s, const double* x, const uint16_t* cards, int32_t k) {
  alignas(32) double part[2][kCardCount];
  for (int t = 0; t < 2; ++t)
    for (int c = 0; c < kCardCount; c += 4) _mm256_store_pd(part[t] + c, _mm256_setzero_pd());
  int32_t q = 0;
  for (; q + 4 <= k; q += 4) {
    uint64_t pairs;
    std::memcpy(&pairs, cards + q, sizeof pairs);
    const double x0 = x[q], x1 = x[q + 1], x2 = x[q + 2], x3 = x[q + 3];
    part[0][pairs & 0xFF] += x0;
    part[0][pairs >> 8 & 0xFF] += x0;
    part[1][pairs >> 16 & 0xFF] += x1;
    part[1][pairs >> 24 & 0xFF] += x1;
    part[0][pairs >> 32 & 0xFF] += x2;
    part[0][pairs >> 40 & 0xFF] += x2;
    part[1][pairs >> 48 & 0xFF] += x3;
    part[1][pairs >> 56] += x3;
  }
  for (; q < k; ++q) {
    part[q & 1][LowCard(cards[q])] += x[q];
    part[q & 1][HighCard(cards[q])] += x[q];
  }
  __m256d acc = _mm256_setzero_pd();
  for (int c = 0; c < kCardCount; c += 4) {
    const __m256d sum = _mm256_add_pd(_mm256_load_pd(part[0] + c), _mm256_load_pd(part[1] + c));
    _mm256_storeu_pd(s + c, sum);
    acc = _mm256_add_pd(acc, sum);
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, acc);
  return 0.5 * ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3]));
}

// Per 4-bit lane mask: the permutation that moves the taken doubles to the
// front (as float pairs), the byte shuffle that does the same for 16-bit
// values, the taken lanes' numbers packed to the front, and per lane the
// number of taken lanes below it. Plain constants, loaded where used: nothing
// of this build may run before the processor is checked.
struct CompressTables {
  alignas(32) int32_t pairs[16][8];
  alignas(16) int8_t bytes[16][16];
  alignas(16) int16_t earlier[16][8];
  alignas(8) int16_t lanes[16][4];
};

// One lane mask's byte shuffle (the taken lanes' 16-bit values to the front,
// -1 elsewhere) and per lane the count of taken lanes below it.
constexpr void FillLaneShuffle(int mask, int lanes, int8_t* bytes, int16_t* earlier) {
  for (int b = 0; b < 16; ++b) bytes[b] = -1;
  int k = 0;
  for (int lane = 0; lane < lanes; ++lane) {
    earlier[lane] = static_cast<int16_t>(k);
    if (mask >> lane & 1) {
      bytes[2 * k] = static_cast<int8_t>(2 * lane);
      bytes[2 * k + 1] = static_cast<int8_t>(2 * lane + 1);
      ++k;
    }
  }
}

constexpr CompressTables MakeCompressTables() {
  CompressTables t{};
  for (int mask = 0; mask < 16; ++mask) {
    FillLaneShuffle(mask, 4, t.bytes[mask], t.earlier[mask]);
    int k = 0;
    for (int lane = 0; lane < 4; ++lane)
      if (mask >> lane & 1) {
        t.pairs[mask][2 * k] = 2 * lane;
        t.pairs[mask][2 * k + 1] = 2 * lane + 1;
        t.lanes[mask][k] = static_cast<int16_t>(lane);
        ++k;
      }
  }
  return t;
}

inline constexpr CompressTables kCompress = MakeCompressTables();

// The hands whose reach is above zero, in hand order, with their payoff-weighted
// reach: the only hands that add to card sums. A solving pass prunes most of the
// opponent's hands deep in the tree, so the walks touch the card sums
// once per such entry instead of once per hand.
struct PositiveEntries {
  int32_t count = 0;
  // Room past the last entry for the scan's whole-block writes (four payoffs,
  // eight card pairs).
  alignas(32) double x[kMaxBoardHands + 4];
  uint16_t cards[kMaxBoardHands + 8];
  // before[j]: the entries of the hands below position j, for j = 0 ... n; a
  // run of hands [a, b) holds the entries before[a] ... before[b] - 1.
  alignas(16) int16_t before[kMaxBoardHands + 8];
};

#if defined(TDX_ISA_AVX2)
// The same for eight hands at a time (8-bit lane masks): the byte shuffle of
// their eight card pairs and per lane the taken lanes below it.
struct CompressTables8 {
  alignas(16) int8_t bytes[256][16];
  alignas(16) int16_t earlier[256][8];
};

constexpr CompressTables8 MakeCompressTables8() {
  CompressTables8 t{};
  for (int mask = 0; mask < 256; ++mask) FillLaneShuffle(mask, 8, t.bytes[mask], t.earlier[mask]);
  return t;
}

inline constexpr CompressTables8 kCompress8 = MakeCompressTables8();
#endif

// Fills the entries x_j = v * in[j] of the hands with in[j] > 0 (zero and NaN
// skipped; n <= kMaxBoardHands) and their card sums s, and sets total to their
// total. Lanes are written unconditionally and the count advances only for
// taken ones, so the scan has no branch per hand. The scan also checks the
// cards of every hand: it returns false, with nothing summed, when one of them
// is out of range (the callers then work on a cleaned copy).
// kPositions: also fill e.before (the showdown walk needs it, a fold does not).
template <bool kPositions>
inline bool CollectPositive(PositiveEntries& e, double* s, const double* in, int32_t n,
                            const uint16_t* cards, double v, double& total) {
#if !defined(TDX_ISA_AVX2)
  if (HasFaultyCards(cards, n)) return false;
#endif
  const __m256d vv = _mm256_set1_pd(v);
  const __m256d zero = _mm256_setzero_pd();
  int32_t k = 0;
  int32_t j = 0;
#if defined(TDX_ISA_AVX2)
  __m128i top = _mm_setzero_si128();  // the highest card byte seen
  // Eight hands a step: one shuffle for their cards, one store of their
  // positions, the payoffs as two blocks of four.
  for (; j + 8 <= n; j += 8) {
    const __m256d r0 = _mm256_loadu_pd(in + j);
    const __m256d r1 = _mm256_loadu_pd(in + j + 4);
    const int taken0 = _mm256_movemask_pd(_mm256_cmp_pd(r0, zero, _CMP_GT_OQ));
    const int taken1 = _mm256_movemask_pd(_mm256_cmp_pd(r1, zero, _CMP_GT_OQ));
    const int taken = taken0 | taken1 << 4;
    if constexpr (kPositions) {
      const __m128i earlier =
          _mm_load_si128(reinterpret_cast<const __m128i*>(kCompress8.earlier[taken]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(e.before + j),
                       _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(k)), earlier));
    }
    const __m128i hand_cards = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cards + j));
    top = _mm_max_epu8(top, hand_cards);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(e.cards + k),
                     _mm_shuffle_epi8(hand_cards, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                      kCompress8.bytes[taken]))));
    const __m256i pairs0 =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.pairs[taken0]));
    const __m256i pairs1 =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.pairs[taken1]));
    _mm256_storeu_pd(e.x + k, _mm256_castps_pd(_mm256_permutevar8x32_ps(
                                  _mm256_castpd_ps(_mm256_mul_pd(vv, r0)), pairs0)));
    k += __builtin_popcount(static_cast<unsigned>(taken0));
    _mm256_storeu_pd(e.x + k, _mm256_castps_pd(_mm256_permutevar8x32_ps(
                                  _mm256_castpd_ps(_mm256_mul_pd(vv, r1)), pairs1)));
    k += __builtin_popcount(static_cast<unsigned>(taken1));
  }
#endif
  for (; j + 4 <= n; j += 4) {
    const __m256d r = _mm256_loadu_pd(in + j);
    const int taken = _mm256_movemask_pd(_mm256_cmp_pd(r, zero, _CMP_GT_OQ));
#if defined(TDX_ISA_AVX2)
    // The taken lanes moved to the front: payoffs by a float-pair permutation,
    // cards by a byte shuffle; four entries are written, the count advances by
    // the taken ones.
    const __m256i pairs =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress.pairs[taken]));
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(kCompress.bytes[taken]));
    if constexpr (kPositions) {
      const __m128i earlier =
          _mm_load_si128(reinterpret_cast<const __m128i*>(kCompress.earlier[taken]));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(e.before + j),
                       _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(k)), earlier));
    }
    _mm256_storeu_pd(e.x + k, _mm256_castps_pd(_mm256_permutevar8x32_ps(
                                  _mm256_castpd_ps(_mm256_mul_pd(vv, r)), pairs)));
    const __m128i hand_cards = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cards + j));
    top = _mm_max_epu8(top, hand_cards);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(e.cards + k), _mm_shuffle_epi8(hand_cards, bytes));
    k += __builtin_popcount(static_cast<unsigned>(taken));
#else
    alignas(32) double x[4];
    _mm256_store_pd(x, _mm256_mul_pd(vv, r));
    for (int b = 0; b < 4; ++b) {
      if constexpr (kPositions) e.before[j + b] = static_cast<int16_t>(k);
      e.x[k] = x[b];
      e.cards[k] = cards[j + b];
      k += (taken >> b) & 1;
    }
#endif
  }
  const int32_t tail = j;  // the hands scanned one by one
  for (; j < n; ++j) {
    if constexpr (kPositions) e.before[j] = static_cast<int16_t>(k);
    if (in[j] > 0.0) {
      e.x[k] = v * in[j];
      e.cards[k] = cards[j];
      ++k;
    }
  }
  if constexpr (kPositions) e.before[n] = static_cast<int16_t>(k);
  e.count = k;
#if defined(TDX_ISA_AVX2)
  const __m128i last_good = _mm_set1_epi8(kCardCount - 1);
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(top, last_good), last_good)) != 0xFFFF ||
      HasFaultyCards(cards + tail, n - tail)) [[unlikely]]
    return false;
#else
  (void)tail;
#endif
  total = EntryCardSums(s, e.x, e.cards, k);
  return true;
}

}  // namespace isa_avx2 / isa_avx
