// The four-column showdown kernel, compiled once per instruction set. Per
// column it performs the additions of the single-node path in its order: the
// collecting scan's card sums in two tables by the parity of the entry (the
// count of taken hands before it), added table 0 + table 1; the total from the
// 52 sums in four lanes, halved; then the walk up the strength groups, a
// group's entries added to the running sums once before its hands are valued
// and once after. A hand whose reach is not above zero adds -0.0, which leaves
// every sum as it was (so hands no column takes are skipped), and a group
// without entries in a column leaves that column's total untouched.
//
// The AVX-512 build is this code as it stands, in 256-bit vectors. A 512-bit
// scan (both parity tables in one 64-byte row per card, one add per card of an
// entry) made the kernel about 8% faster on its own but a whole solve 4-6%
// slower on one thread: 512-bit instructions lower the clock of the core for
// everything else it runs.
#include <immintrin.h>

#include <cassert>
#include <cmath>
#include <cstring>

#include "cards/card.h"
#include "platform/fused_multiply_add.h"
#include "solver/end_node_parts.h"
#include "solver/showdown_columns.h"
#include "solver/terminal_kernels.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "showdown_columns.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

constexpr int kColumns = 4;

inline void Zero(double* out, int32_t n) {
  if (out && n > 0) std::memset(out, 0, sizeof(double) * static_cast<size_t>(n));
}

// Per 4-bit column mask, all ones in the lanes of the set bits.
struct LaneMasks {
  alignas(32) uint64_t lanes[16][kColumns];
};
constexpr LaneMasks MakeLaneMasks() {
  LaneMasks m{};
  for (int mask = 0; mask < 16; ++mask)
    for (int k = 0; k < kColumns; ++k) m.lanes[mask][k] = (mask >> k & 1) ? ~uint64_t{0} : 0;
  return m;
}
constexpr LaneMasks kLaneMasks = MakeLaneMasks();
inline __m256d LaneMask(int mask) {
  return _mm256_load_pd(reinterpret_cast<const double*>(kLaneMasks.lanes[mask]));
}

// Keeps a product rounded on its own: the single-node kernels round their
// totals (scalar products) before adding to or subtracting from them, and the
// compiler must not fuse the vector product here into a multiply-add.
inline void Rounded(__m256d& v) { asm("" : "+x"(v)); }

// Rows of four: r0..r3 become the columns (lane k of row i is old row k, lane i).
inline void Transpose4(__m256d& r0, __m256d& r1, __m256d& r2, __m256d& r3) {
  const __m256d t0 = _mm256_unpacklo_pd(r0, r1);  // r0[0] r1[0] r0[2] r1[2]
  const __m256d t1 = _mm256_unpackhi_pd(r0, r1);  // r0[1] r1[1] r0[3] r1[3]
  const __m256d t2 = _mm256_unpacklo_pd(r2, r3);
  const __m256d t3 = _mm256_unpackhi_pd(r2, r3);
  r0 = _mm256_permute2f128_pd(t0, t2, 0x20);
  r1 = _mm256_permute2f128_pd(t1, t3, 0x20);
  r2 = _mm256_permute2f128_pd(t0, t2, 0x31);
  r3 = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Working area per thread. The entries are the hands that some column takes,
// in order (on the narrow reaches of a pass about a third of the board's
// hands; the others would add -0.0, which leaves every sum as it is), or every
// hand when most are taken: per entry its hand, the four columns' payoffs
// (-0.0 in the columns that do not take it), the mask of the columns that take
// it and its card offsets. Per hand: the values before they are spread to the
// outputs, its cards as byte offsets of their rows in a card table of four
// columns (card * 32), and the count of entries below it.
struct ColumnScratch {
  alignas(32) double x[kMaxBoardHands][kColumns];
  alignas(32) double y[kMaxBoardHands][kColumns];
  alignas(32) double p[kCardCount][kColumns];
  alignas(16) uint16_t hand_low[kMaxBoardHands + 8];
  alignas(16) uint16_t hand_high[kMaxBoardHands + 8];
  uint8_t taken[kMaxBoardHands];
  // Room past the end for the scan's whole-block writes.
  int16_t entries[kMaxBoardHands + 4];
  int16_t before[kMaxBoardHands + 8];
  // Per entry its hand's card offsets, low | high << 16.
  uint32_t entry_cards[kMaxBoardHands];
  // One fold's entries while its card sums are made.
  PositiveEntries fold_entries;
};

using CardTable = double[kCardCount][kColumns];
inline double* Row(CardTable& t, uint16_t offset) {
  return reinterpret_cast<double*>(reinterpret_cast<char*>(t) + offset);
}
inline const double* Row(const CardTable& t, uint16_t offset) {
  return reinterpret_cast<const double*>(reinterpret_cast<const char*>(t) + offset);
}

// The hands' card offsets, eight hands a step.
void CardOffsets(ColumnScratch& w, int32_t n, const uint16_t* cards) {
  const __m128i low_byte = _mm_set1_epi16(0xFF);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cards + i));
    _mm_store_si128(reinterpret_cast<__m128i*>(w.hand_low + i),
                    _mm_slli_epi16(_mm_and_si128(c, low_byte), 5));
    _mm_store_si128(reinterpret_cast<__m128i*>(w.hand_high + i),
                    _mm_slli_epi16(_mm_srli_epi16(c, 8), 5));
  }
  for (; i < n; ++i) {
    w.hand_low[i] = static_cast<uint16_t>(LowCard(cards[i]) * 32);
    w.hand_high[i] = static_cast<uint16_t>(HighCard(cards[i]) * 32);
  }
}
thread_local ColumnScratch t_scratch;

// Adds a count to each of four 16-bit lanes.
constexpr uint64_t kEachLane16 = 0x0001000100010001;

// Absent columns read zeros.
const double kNoReach[kMaxBoardHands] = {};

// The four reaches of hands j .. j + 3, one vector per hand.
inline void LoadRows(const double* const* in, int32_t j, __m256d& r0, __m256d& r1, __m256d& r2,
                     __m256d& r3) {
  r0 = _mm256_loadu_pd(in[0] + j);
  r1 = _mm256_loadu_pd(in[1] + j);
  r2 = _mm256_loadu_pd(in[2] + j);
  r3 = _mm256_loadu_pd(in[3] + j);
  Transpose4(r0, r1, r2, r3);
}
inline __m256d LoadRow(const double* const* in, int32_t j) {
  return _mm256_set_pd(in[3][j], in[2][j], in[1][j], in[0][j]);
}

// The collecting scan for four columns: the entries (or every hand, when most
// are taken), per entry the payoffs v * in (-0.0 where not taken) and the mask
// of the columns that take it, and the card sums w.p of each column's entries,
// in two tables by the parity of the entry in its own column, then added.
// Returns the totals (the sums' four lanes of thirteen cards added pairwise,
// halved). Without keep_entries only the card
// sums and totals are made (a fold pass needs no walk).
template <bool keep_entries = true>
[[gnu::always_inline]] inline __m256d CollectColumns(ColumnScratch& w, const double* const* in,
                                                     __m256d vv, int32_t n, const uint16_t* cards) {
  CardOffsets(w, n, cards);
  const __m256d neg_zero = _mm256_set1_pd(-0.0);
  const __m256d zero = _mm256_setzero_pd();
  alignas(32) CardTable part0;
  alignas(32) CardTable part1;
  // Cleared by vector stores (a zero the compiler cannot see, so that the
  // loop does not become a call to memset).
  __m256d cleared = zero;
  asm("" : "+x"(cleared));
  for (int c = 0; c < kCardCount; ++c) {
    _mm256_store_pd(part0[c], cleared);
    _mm256_store_pd(part1[c], cleared);
  }
  // The entries: per block of four hands the mask of those some column
  // takes, their positions appended to the list, and per hand the count of
  // entries before it.
  int32_t m = 0;
  const auto list = [&](int32_t j, int any) {
    uint64_t positions, before;
    std::memcpy(&positions, kCompress.lanes[any], sizeof positions);
    positions += uint64_t(j) * kEachLane16;
    std::memcpy(w.entries + m, &positions, sizeof positions);
    if constexpr (keep_entries) {
      std::memcpy(&before, kCompress.earlier[any], sizeof before);
      before += uint64_t(m) * kEachLane16;
      std::memcpy(w.before + j, &before, sizeof before);
    }
    m += __builtin_popcount(static_cast<unsigned>(any));
  };
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    // The reaches were written by other nodes' work a while ago: fetched
    // ahead so that the scan does not wait on them.
    if (j + 64 < n)
      for (int c = 0; c < kColumns; ++c)
        _mm_prefetch(reinterpret_cast<const char*>(in[c] + j + 64), _MM_HINT_T0);
    const __m256d t0 = _mm256_cmp_pd(_mm256_loadu_pd(in[0] + j), zero, _CMP_GT_OQ);
    const __m256d t1 = _mm256_cmp_pd(_mm256_loadu_pd(in[1] + j), zero, _CMP_GT_OQ);
    const __m256d t2 = _mm256_cmp_pd(_mm256_loadu_pd(in[2] + j), zero, _CMP_GT_OQ);
    const __m256d t3 = _mm256_cmp_pd(_mm256_loadu_pd(in[3] + j), zero, _CMP_GT_OQ);
    list(j, _mm256_movemask_pd(_mm256_or_pd(_mm256_or_pd(t0, t1), _mm256_or_pd(t2, t3))));
  }
  if (j < n) {
    int any = 0;
    for (int32_t i = j; i < n; ++i)
      any |= (_mm256_movemask_pd(_mm256_cmp_pd(LoadRow(in, i), zero, _CMP_GT_OQ)) != 0)
             << (i - j);
    list(j, any);
  }
  __m256d odd = zero;  // columns whose count of entries so far is odd
  // The card sums of entry e (hand h, reaches r).
  const auto take = [&](int32_t e, int32_t h, __m256d r) {
    const __m256d taken = _mm256_cmp_pd(r, zero, _CMP_GT_OQ);
    const __m256d x = _mm256_blendv_pd(neg_zero, _mm256_mul_pd(vv, r), taken);
    const uint16_t low = w.hand_low[h], high = w.hand_high[h];
    if constexpr (keep_entries) {
      _mm256_store_pd(w.x[e], x);
      w.taken[e] = static_cast<uint8_t>(_mm256_movemask_pd(taken));
      w.entry_cards[e] = low | static_cast<uint32_t>(high) << 16;
    }
    const __m256d x1 = _mm256_blendv_pd(neg_zero, x, odd);
    const __m256d x0 = _mm256_blendv_pd(x, neg_zero, odd);
    odd = _mm256_xor_pd(odd, taken);
    double* p0c1 = Row(part0, low);
    double* p0c2 = Row(part0, high);
    double* p1c1 = Row(part1, low);
    double* p1c2 = Row(part1, high);
    _mm256_store_pd(p0c1, _mm256_add_pd(_mm256_load_pd(p0c1), x0));
    _mm256_store_pd(p0c2, _mm256_add_pd(_mm256_load_pd(p0c2), x0));
    _mm256_store_pd(p1c1, _mm256_add_pd(_mm256_load_pd(p1c1), x1));
    _mm256_store_pd(p1c2, _mm256_add_pd(_mm256_load_pd(p1c2), x1));
  };
  if (4 * m >= 3 * n) {
    // Most hands taken: every hand an entry, the reaches read four hands a
    // step (a hand no column takes adds -0.0).
    m = n;
    if constexpr (keep_entries) {
      // Eight counts a step (the last step may write past n, within the room).
      __m128i counts = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
      for (int32_t h = 0; h < n; h += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w.before + h), counts);
        counts = _mm_add_epi16(counts, _mm_set1_epi16(8));
      }
    }
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
      __m256d r0, r1, r2, r3;
      LoadRows(in, i, r0, r1, r2, r3);
      take(i, i, r0);
      take(i + 1, i + 1, r1);
      take(i + 2, i + 2, r2);
      take(i + 3, i + 3, r3);
    }
    for (; i < n; ++i) take(i, i, LoadRow(in, i));
  } else {
    for (int32_t e = 0; e < m; ++e) take(e, w.entries[e], LoadRow(in, w.entries[e]));
  }
  if constexpr (keep_entries) w.before[n] = static_cast<int16_t>(m);
  __m256d acc[4] = {zero, zero, zero, zero};
  for (int c = 0; c < kCardCount; ++c) {
    const __m256d sum = _mm256_add_pd(_mm256_load_pd(part0[c]), _mm256_load_pd(part1[c]));
    _mm256_store_pd(w.p[c], sum);
    acc[c & 3] = _mm256_add_pd(acc[c & 3], sum);
  }
  __m256d total = _mm256_mul_pd(_mm256_set1_pd(0.5), _mm256_add_pd(_mm256_add_pd(acc[0], acc[1]),
                                                                   _mm256_add_pd(acc[2], acc[3])));
  Rounded(total);
  return total;
}

// Four hands' vectors (one lane per column) spread to the columns' outputs
// (null: not written).
inline void SpreadRows(double* const* out, int32_t i, __m256d y0, __m256d y1, __m256d y2,
                       __m256d y3) {
  Transpose4(y0, y1, y2, y3);
  if (out[0]) _mm256_storeu_pd(out[0] + i, y0);
  if (out[1]) _mm256_storeu_pd(out[1] + i, y1);
  if (out[2]) _mm256_storeu_pd(out[2] + i, y2);
  if (out[3]) _mm256_storeu_pd(out[3] + i, y3);
}
inline void SpreadRow(double* const* out, int32_t i, __m256d y) {
  alignas(32) double lanes[kColumns];
  _mm256_store_pd(lanes, y);
  for (int k = 0; k < kColumns; ++k)
    if (out[k]) out[k][i] = lanes[k];
}

// Fold values per column: v * r + (t - s[c1] - s[c2]) with s the card sums,
// t the totals and r the counted reach (in[j] where above zero, else +0.0), as
// the single-node fold fill.
[[gnu::always_inline]] inline void FillFoldColumns(const ColumnScratch& w, double* const* out,
                                                   const double* const* in, int32_t n,
                                                   const CardTable& s, __m256d t, __m256d v) {
  const __m256d zero = _mm256_setzero_pd();
  const auto value = [&](int32_t i, __m256d r) {
    const __m256d counted = _mm256_and_pd(r, _mm256_cmp_pd(r, zero, _CMP_GT_OQ));
    const __m256d lo = _mm256_load_pd(Row(s, w.hand_low[i]));
    const __m256d hi = _mm256_load_pd(Row(s, w.hand_high[i]));
    return MulAdd4(v, counted, _mm256_sub_pd(_mm256_sub_pd(t, lo), hi));
  };
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d r0, r1, r2, r3;
    LoadRows(in, i, r0, r1, r2, r3);
    SpreadRows(out, i, value(i, r0), value(i + 1, r1), value(i + 2, r2), value(i + 3, r3));
  }
  for (; i < n; ++i) SpreadRow(out, i, value(i, LoadRow(in, i)));
}

// The kernel proper, on cards known to be in range and n <= kMaxBoardHands.
void Columns(ShowdownColumn* col, int32_t n, const int16_t* groups, int32_t group_count,
             const uint16_t* cards) {
  ColumnScratch& w = t_scratch;
  const double* in[kColumns];
  // bs: the fold payoff of the fill; ss: the factor of the card sums and the
  // total for the fold (1 for a fold-only column, whose sums carry v).
  alignas(32) double vs[kColumns], fs[kColumns], bs[kColumns], ss[kColumns];
  int present = 0;
  for (int k = 0; k < kColumns; ++k) {
    in[k] = col[k].in ? col[k].in : kNoReach;
    vs[k] = col[k].v;
    fs[k] = col[k].f;
    bs[k] = col[k].fold_only ? col[k].v : col[k].fold_v;
    ss[k] = col[k].fold_only ? 1.0 : col[k].fold_v;
    present |= (col[k].in != nullptr) << k;
  }
  const __m256d neg_zero = _mm256_set1_pd(-0.0);
  const __m256d total = CollectColumns(w, in, _mm256_load_pd(vs), n, cards);
  alignas(32) double totals[kColumns];
  _mm256_store_pd(totals, total);
  int active = 0;
  for (int k = 0; k < kColumns; ++k) {
    col[k].total = (present >> k & 1) ? totals[k] : 0.0;
    if (!(present >> k & 1)) continue;
    if (std::fabs(totals[k]) <= kShowdownTotalFloor && !col[k].walk_small) {
      Zero(col[k].out, n);
      Zero(col[k].fold_out, n);
    } else {
      active |= 1 << k;
    }
  }
  if (!active) return;

  // The walk, weakest group first, from -p and -total.
  alignas(32) CardTable s;
  for (int c = 0; c < kCardCount; ++c)
    _mm256_store_pd(s[c], _mm256_xor_pd(_mm256_load_pd(w.p[c]), neg_zero));
  const __m256d fv = _mm256_load_pd(fs);
  __m256d t = _mm256_xor_pd(total, neg_zero);
  double* out[kColumns];
  double* fold_out[kColumns];
  bool fills_folds = false;
  for (int k = 0; k < kColumns; ++k) {
    const bool on = active >> k & 1;
    out[k] = on ? col[k].out : nullptr;
    fold_out[k] = on ? col[k].fold_out : nullptr;
    fills_folds = fills_folds || fold_out[k];
  }
  // The walk (a lambda for its early return).
  [&] {
    // s[c1] += x and s[c2] += x for the entries [begin, end), in order;
    // returns the sum, in order from +0.0, of the x of the entries [own,
    // end). The entries before own add +0.0 to it instead, which leaves a sum
    // that starts at +0.0 unchanged (it can never be -0.0).
    const auto add_entries = [&](int32_t begin, int32_t own, int32_t end) {
      __m256d sum = _mm256_setzero_pd();
      for (int32_t e = begin; e < end; ++e) {
        const uint32_t pair = w.entry_cards[e];
        const __m256d x = _mm256_load_pd(w.x[e]);
        double* lo = Row(s, static_cast<uint16_t>(pair));
        double* hi = Row(s, static_cast<uint16_t>(pair >> 16));
        _mm256_store_pd(lo, _mm256_add_pd(_mm256_load_pd(lo), x));
        _mm256_store_pd(hi, _mm256_add_pd(_mm256_load_pd(hi), x));
        const __m256d keep = _mm256_castsi256_pd(_mm256_set1_epi64x(-int64_t{e >= own}));
        sum = _mm256_add_pd(sum, _mm256_and_pd(x, keep));
      }
      return sum;
    };
    const auto value_hands = [&](int32_t begin, int32_t end) {
      for (int32_t i = begin; i < end; ++i) {
        const __m256d lo = _mm256_load_pd(Row(s, w.hand_low[i]));
        const __m256d hi = _mm256_load_pd(Row(s, w.hand_high[i]));
        _mm256_store_pd(w.y[i], _mm256_mul_pd(fv, _mm256_sub_pd(_mm256_sub_pd(t, lo), hi)));
      }
    };
    // A group's sum, in the columns that take some entry of it; -0.0 in the
    // others, which leaves their totals alone.
    const auto group_sum_of = [&](const EntryGroup& g, __m256d sum) {
      int columns = 0;
      for (int32_t e = g.first; e < g.last; ++e) columns |= w.taken[e];
      return _mm256_blendv_pd(neg_zero, sum, LaneMask(columns));
    };
    // As the single-node walk: the groups with entries listed first; the
    // hands of groups without entries valued in one run, since the sums do not
    // move between them; the second adding of a group's entries and the first
    // of the next group's one run when no hands lie between the two.
    EntryGroup entry_groups[kMaxBoardHands + 1];
    const int32_t listed_groups = ListEntryGroups(entry_groups, w.before, n, groups, group_count);
    if (listed_groups == 0) return value_hands(0, n);
    EntryGroup group = entry_groups[0];
    value_hands(0, group.start);
    __m256d group_sum = group_sum_of(group, add_entries(group.first, group.first, group.last));
    t = _mm256_add_pd(t, group_sum);
    value_hands(group.start, group.end);
    for (int32_t g = 1; g < listed_groups; ++g) {
      // The previous group's entries still owe their second adding.
      const EntryGroup previous = group;
      const __m256d previous_sum = group_sum;
      group = entry_groups[g];
      __m256d sum;
      if (previous.end < group.start) {
        add_entries(previous.first, previous.last, previous.last);
        t = _mm256_add_pd(t, previous_sum);
        value_hands(previous.end, group.start);
        sum = add_entries(group.first, group.first, group.last);
      } else {
        sum = add_entries(previous.first, group.first, group.last);
        t = _mm256_add_pd(t, previous_sum);
      }
      group_sum = group_sum_of(group, sum);
      t = _mm256_add_pd(t, group_sum);
      value_hands(group.start, group.end);
    }
    if (group.end < n) {
      add_entries(group.first, group.last, group.last);
      t = _mm256_add_pd(t, group_sum);
      value_hands(group.end, n);
    }
  }();
  int32_t i = 0;
  for (; i + 4 <= n; i += 4)
    SpreadRows(out, i, _mm256_load_pd(w.y[i]), _mm256_load_pd(w.y[i + 1]),
               _mm256_load_pd(w.y[i + 2]), _mm256_load_pd(w.y[i + 3]));
  for (; i < n; ++i) SpreadRow(out, i, _mm256_load_pd(w.y[i]));

  // Folds on the same reach: the card sums and the total times the fold payoff.
  if (fills_folds) {
    const __m256d bv = _mm256_load_pd(bs);
    const __m256d sv = _mm256_load_pd(ss);
    for (int c = 0; c < kCardCount; ++c)
      _mm256_store_pd(s[c], _mm256_mul_pd(_mm256_load_pd(w.p[c]), sv));
    __m256d fold_total = _mm256_mul_pd(sv, total);
    Rounded(fold_total);
    FillFoldColumns(w, fold_out, in, n, s, fold_total, bv);
  }
}

// Faulty cards: the columns on a copy in which every faulty hand holds the
// cards (0, 0) and no reach, their values cleared afterwards (as the
// single-node kernels do).
[[gnu::noinline]] void ColumnsOnCleanHands(ShowdownColumn* col, int32_t n, const int16_t* groups,
                                           int32_t group_count, const uint16_t* cards) {
  assert(!"card number out of range");
  struct Clean {
    uint16_t cards[kMaxBoardHands];
    double reach[kColumns][kMaxBoardHands];
  };
  static thread_local Clean clean;
  ShowdownColumn copy[kColumns];
  for (int k = 0; k < kColumns; ++k) {
    copy[k] = col[k];
    if (!col[k].in) continue;
    for (int32_t i = 0; i < n; ++i) clean.reach[k][i] = FaultyHand(cards[i]) ? 0.0 : col[k].in[i];
    copy[k].in = clean.reach[k];
  }
  for (int32_t i = 0; i < n; ++i) clean.cards[i] = FaultyHand(cards[i]) ? 0 : cards[i];
  Columns(copy, n, groups, group_count, clean.cards);
  for (int k = 0; k < kColumns; ++k) {
    col[k].total = copy[k].total;
    if (!col[k].in) continue;
    for (int32_t i = 0; i < n; ++i) {
      if (!FaultyHand(cards[i])) continue;
      if (col[k].out) col[k].out[i] = 0.0;
      if (col[k].fold_out) col[k].fold_out[i] = 0.0;
    }
  }
}

void FinishShowdownFoldPair(double* out_a, double* out_b, const double* in_b, int32_t n,
                            const uint16_t* cards, double b, double showdown_total) {
  if (n <= 0) return;
  double s[kCardCount];
  double fold_total = 0.0;
  if (n > kMaxBoardHands ||
      !CollectPositive<false>(t_scratch.fold_entries, s, in_b, n, cards, b, fold_total))
      [[unlikely]] {
    assert(!"fold half outside its range");
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  if (std::fabs(showdown_total) <= kShowdownTotalFloor &&
      std::fabs(fold_total) <= kShowdownTotalFloor) {
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  FillFold(out_b, in_b, cards, n, fold_total, s, b);
}

// The columns' card sums come from the four-column scan, which makes the
// entries' additions of CollectFoldCardSums per column in the same order (a
// hand not taken adds -0.0), and the fill is FillFold's formula per lane.
void FinishShowdownFoldColumns(const FoldPairColumn* folds, int32_t n, const uint16_t* cards) {
  if (n <= 0) return;
  if (n > kMaxBoardHands || HasFaultyCards(cards, n)) [[unlikely]] {
    assert(!"fold halves outside their range");
    for (int k = 0; k < kColumns; ++k) {
      if (!folds[k].in) continue;
      Zero(folds[k].showdown_out, n);
      Zero(folds[k].out, n);
    }
    return;
  }
  ColumnScratch& w = t_scratch;
  const double* in[kColumns];
  alignas(32) double vs[kColumns];
  for (int k = 0; k < kColumns; ++k) {
    in[k] = folds[k].in ? folds[k].in : kNoReach;
    vs[k] = folds[k].v;
  }
  const __m256d v = _mm256_load_pd(vs);
  const __m256d total = CollectColumns<false>(w, in, v, n, cards);
  alignas(32) double totals[kColumns];
  _mm256_store_pd(totals, total);
  double* out[kColumns] = {};
  bool fills = false;
  for (int k = 0; k < kColumns; ++k) {
    if (!folds[k].in) continue;
    if (std::fabs(folds[k].showdown_total) <= kShowdownTotalFloor &&
        std::fabs(totals[k]) <= kShowdownTotalFloor) {
      Zero(folds[k].showdown_out, n);
      Zero(folds[k].out, n);
    } else {
      out[k] = folds[k].out;
      fills = true;
    }
  }
  if (fills) FillFoldColumns(w, out, in, n, w.p, total, v);
}

void ComputeShowdownColumns(ShowdownColumn* columns, int32_t n, const int16_t* groups,
                            int32_t group_count, const uint16_t* cards) {
  for (int k = 0; k < kColumns; ++k) columns[k].total = 0.0;
  if (n <= 0) return;
  if (n > kMaxBoardHands) {
    // No board has so many hands: the single-node kernels' long-list walk.
    for (int k = 0; k < kColumns; ++k) {
      ShowdownColumn& c = columns[k];
      if (!c.in) continue;
      if (c.fold_only)
        Zero(c.fold_out, n);  // as FinishShowdownFoldPair on such a list
      else if (c.fold_out)
        kTerminalKernels.ComputeShowdownAndFold(c.out, c.fold_out, c.in, n, groups, group_count,
                                                cards, c.f, c.fold_v);
      else
        kTerminalKernels.ComputeShowdownValues(c.out, c.in, n, groups, group_count, cards, c.v);
    }
    return;
  }
  if (HasFaultyCards(cards, n)) [[unlikely]]
    return ColumnsOnCleanHands(columns, n, groups, group_count, cards);
  Columns(columns, n, groups, group_count, cards);
}

}  // namespace

const ShowdownColumnsKernels kShowdownColumnsKernels = {
    .ComputeShowdownColumns = ComputeShowdownColumns,
    .FinishShowdownFoldPair = FinishShowdownFoldPair,
    .FinishShowdownFoldColumns = FinishShowdownFoldColumns,
};

}  // namespace isa_*
