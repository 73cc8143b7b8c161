// End-node kernels, compiled once per instruction set. Both builds compute the
// same formulas in the same order; the AVX2 build fuses the multiply-adds
// (fold add-back, hand-group card sums and dot products).
#include <immintrin.h>

#include <cassert>
#include <cmath>
#include <cstring>

#include "platform/fused_multiply_add.h"
#include "solver/end_node_parts.h"
#include "solver/terminal_kernels.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "terminal_kernels.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

inline void Zero(double* out, int32_t n) {
  if (n > 0) std::memset(out, 0, sizeof(double) * static_cast<size_t>(n));
}

// A copy of a board's hands in which every hand with a faulty card holds the
// cards (0, 0) and no reach: the kernels run on it unchanged, and the faulty
// hands' values are cleared afterwards.
struct CleanHands {
  uint16_t cards[kMaxBoardHands];
  alignas(32) double reach_a[kMaxBoardHands];
  alignas(32) double reach_b[kMaxBoardHands];
  const double* a = nullptr;
  const double* b = nullptr;
};

void CleanFaultyHands(CleanHands& clean, const uint16_t* cards, int32_t n, const double* a,
                      const double* b) {
  for (int32_t i = 0; i < n; ++i) {
    const bool faulty = FaultyHand(cards[i]);
    clean.cards[i] = faulty ? 0 : cards[i];
    if (a) clean.reach_a[i] = faulty ? 0.0 : a[i];
    if (b) clean.reach_b[i] = faulty ? 0.0 : b[i];
  }
  clean.a = a ? clean.reach_a : nullptr;
  clean.b = b ? clean.reach_b : nullptr;
}

void ZeroFaultyHands(double* out, const uint16_t* cards, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (FaultyHand(cards[i])) out[i] = 0.0;
}

// out[i] = t - s[c1(i)] - s[c2(i)] for i in [begin, end).
inline void FillRemoved(double* out, const uint16_t* cards, int32_t begin, int32_t end, double t,
                        const double* s) {
  const __m256d tv = _mm256_set1_pd(t);
  int32_t i = begin;
  for (; i + 4 <= end; i += 4) _mm256_storeu_pd(out + i, Removed4(tv, s, cards + i));
  for (; i < end; ++i) out[i] = Removed1(t, s, cards[i]);
}

// out[i] += t - s[c1(i)] - s[c2(i)] for i in [begin, end).
inline void AddRemoved(double* out, const uint16_t* cards, int32_t begin, int32_t end, double t,
                       const double* s) {
  const __m256d tv = _mm256_set1_pd(t);
  int32_t i = begin;
  for (; i + 4 <= end; i += 4)
    _mm256_storeu_pd(out + i, _mm256_add_pd(_mm256_loadu_pd(out + i), Removed4(tv, s, cards + i)));
  for (; i < end; ++i) out[i] += Removed1(t, s, cards[i]);
}

// out[i] = f * (out[i] - (t - s[c1(i)] - s[c2(i)])) over all n hands.
inline void SubtractRemoved(double* out, const uint16_t* cards, int32_t n, double t,
                            const double* s, double f) {
  const __m256d tv = _mm256_set1_pd(t);
  const __m256d fv = _mm256_set1_pd(f);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4)
    _mm256_storeu_pd(out + i, _mm256_mul_pd(fv, _mm256_sub_pd(_mm256_loadu_pd(out + i),
                                                             Removed4(tv, s, cards + i))));
  for (; i < n; ++i) out[i] = f * (out[i] - Removed1(t, s, cards[i]));
}

inline double Counted(double v, double r) { return v * (r > 0.0 ? r : 0.0); }

// Per-card sums s of the counted payoffs x_j = v * in[j] of the hands with
// in[j] > 0 (0 for the others: zero and NaN reach are skipped); returns their
// total (each hand is in two card sums). No branch per hand, and four
// interleaved tables, so that neighbouring hands that share a card do not wait
// on each other's sums.
inline double CountedCardSums(double* s, const double* in, int32_t n,
                              const uint16_t* cards, double v) {
  alignas(32) double part[4][kCardCount];
  for (int k = 0; k < 4; ++k)
    for (int c = 0; c < kCardCount; c += 4) _mm256_store_pd(part[k] + c, _mm256_setzero_pd());
  const __m256d vv = _mm256_set1_pd(v);
  const __m256d zero = _mm256_setzero_pd();
  alignas(32) double x[4];
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256d r = _mm256_loadu_pd(in + j);
    const __m256d xv = _mm256_mul_pd(vv, _mm256_and_pd(r, _mm256_cmp_pd(r, zero, _CMP_GT_OQ)));
    _mm256_store_pd(x, xv);
    const uint16_t* c = cards + j;
    for (int k = 0; k < 4; ++k) {
      part[k][LowCard(c[k])] += x[k];
      part[k][HighCard(c[k])] += x[k];
    }
  }
  for (; j < n; ++j) {
    const double xj = Counted(v, in[j]);
    part[0][LowCard(cards[j])] += xj;
    part[0][HighCard(cards[j])] += xj;
  }
  __m256d acc = _mm256_setzero_pd();
  for (int c = 0; c < kCardCount; c += 4) {
    const __m256d sum =
        _mm256_add_pd(_mm256_add_pd(_mm256_load_pd(part[0] + c), _mm256_load_pd(part[1] + c)),
                      _mm256_add_pd(_mm256_load_pd(part[2] + c), _mm256_load_pd(part[3] + c)));
    _mm256_storeu_pd(s + c, sum);
    acc = _mm256_add_pd(acc, sum);
  }
  _mm256_store_pd(x, acc);
  return 0.5 * ((x[0] + x[1]) + (x[2] + x[3]));
}

// The showdown walk, weakest group first. With W the card sums (and wt the
// total) of the counted payoffs x_j = v * in[j] of the groups passed so far,
// and P those of all hands, the showdown value of hand i is
//   D[i] = (M_t - M[c1] - M[c2]) - (P_t - P[c1] - P[c2]),  M = W_before + W_after
// over i's group: weaker hands count +x, stronger ones -x, its own group 0,
// and the card sums remove every hand that shares a card with i (hand i itself
// cancels). The walk writes the first term and returns W = P and wt = P_t; the
// caller subtracts the second term once P is known. Each hand adds to the card
// sums once.
inline void ShowdownWalk(double* out, const double* in, double v, int32_t n,
                         const int16_t* groups, int32_t group_count, const uint16_t* cards,
                         double* w, double& wt) {
  for (int c = 0; c < kCardCount; ++c) w[c] = 0.0;
  wt = 0.0;
  ForEachGroup(groups, group_count, n, [&](int32_t pos, int32_t size) {
    if (size == 1) {
      // M = 2 W + the hand's own payoff on its two cards.
      const int low = LowCard(cards[pos]), high = HighCard(cards[pos]);
      const double x = Counted(v, in[pos]);
      out[pos] = 2.0 * (wt - w[low] - w[high]) - x;
      w[low] += x;
      w[high] += x;
      wt += x;
      return;
    }
    const int32_t end = pos + size;
    FillRemoved(out, cards, pos, end, wt, w);
    double group_total = 0.0;
    for (int32_t j = pos; j < end; ++j) {
      const double xj = Counted(v, in[j]);
      w[LowCard(cards[j])] += xj;
      w[HighCard(cards[j])] += xj;
      group_total += xj;
    }
    wt += group_total;
    AddRemoved(out, cards, pos, end, wt, w);
  });
}

// out[i] = f * (t - s[c1(i)] - s[c2(i)]) for i in [begin, end) in blocks of
// four; the last block may write up to three places past end, which must lie
// below limit and be written again later.
inline void FillRemovedScaled(double* out, const uint16_t* cards, int32_t begin, int32_t end,
                              int32_t limit, double t, const double* s, double f) {
  const __m256d tv = _mm256_set1_pd(t);
  const __m256d fv = _mm256_set1_pd(f);
  int32_t i = begin;
  const int32_t vector_end = end + 3 < limit ? end : limit - 3;
  for (; i < vector_end; i += 4)
    _mm256_storeu_pd(out + i, _mm256_mul_pd(fv, Removed4(tv, s, cards + i)));
  for (; i < end; ++i) out[i] = f * Removed1(t, s, cards[i]);
}

// s[c1] += x and s[c2] += x for the entries [begin, end), in order; returns the
// sum, in order from +0.0, of the x of the entries [own, end). The entries
// before own add +0.0 to it instead, which leaves a sum that starts at +0.0
// unchanged (it can never be -0.0).
inline double AddEntries(double* s, const PositiveEntries& e, int32_t begin, int32_t own,
                         int32_t end) {
  __m128d sum = _mm_setzero_pd();
  // Lane 0 counts the entries up to own: all ones (keep x) once q reaches it.
  __m128i index = _mm_cvtsi64_si128(begin);
  const __m128i last_skipped = _mm_cvtsi64_si128(own - 1);
  const __m128i one = _mm_cvtsi64_si128(1);
  // The card pairs read as bytes: low card, high card.
  const uint8_t* card_bytes = reinterpret_cast<const uint8_t*>(e.cards);
  for (int32_t q = begin; q < end; ++q) {
    const __m128d x = _mm_load_sd(e.x + q);
    s[card_bytes[2 * q]] += _mm_cvtsd_f64(x);
    s[card_bytes[2 * q + 1]] += _mm_cvtsd_f64(x);
    const __m128i keep = _mm_cmpgt_epi64(index, last_skipped);
    sum = _mm_add_sd(sum, _mm_and_pd(x, _mm_castsi128_pd(keep)));
    index = _mm_add_epi64(index, one);
  }
  return _mm_cvtsd_f64(sum);
}

// The showdown walk over the entries, weakest group first, from the card sums
// p and total pt of all entries: the running sums start at -p (every opponent
// hand counted as stronger); a group's entries are added once before its hands
// are valued (the group ties with itself) and once after (it is weaker than
// all that follows). out[i] = f * (T - S[c1] - S[c2]). Hands of groups without
// entries are valued together, since the sums do not move between them.
// The groups with entries are listed first, with no branch per group: the walk
// then loops over them alone. The second adding of a group's entries and the
// first of the next group's are one run when no hands lie between the two
// groups (the entries are consecutive), which saves a loop and its exit.
inline void EntryShowdownWalk(double* out, const PositiveEntries& e, const double* p, double pt,
                              int32_t n, const int16_t* groups, int32_t group_count,
                              const uint16_t* cards, double f) {
  EntryGroup entry_groups[kMaxBoardHands + 1];
  const int32_t listed = ListEntryGroups(entry_groups, e.before, n, groups, group_count);
  double s[kCardCount];
  for (int c = 0; c < kCardCount; ++c) s[c] = -p[c];
  double t = -pt;
  if (listed == 0) return FillRemovedScaled(out, cards, 0, n, n, t, s, f);
  // The first group: the hands below it see the starting sums.
  EntryGroup group = entry_groups[0];
  FillRemovedScaled(out, cards, 0, group.start, n, t, s, f);
  double group_sum = AddEntries(s, e, group.first, group.first, group.last);
  t += group_sum;
  FillRemovedScaled(out, cards, group.start, group.end, n, t, s, f);
  for (int32_t g = 1; g < listed; ++g) {
    // The previous group's entries still owe their second adding.
    const EntryGroup previous = group;
    const double previous_sum = group_sum;
    group = entry_groups[g];
    if (previous.end < group.start) {
      // Hands between the two groups see the sums after the earlier one.
      AddEntries(s, e, previous.first, previous.last, previous.last);
      t += previous_sum;
      FillRemovedScaled(out, cards, previous.end, group.start, n, t, s, f);
      group_sum = AddEntries(s, e, group.first, group.first, group.last);
    } else {
      group_sum = AddEntries(s, e, previous.first, group.first, group.last);
      t += previous_sum;
    }
    t += group_sum;
    FillRemovedScaled(out, cards, group.start, group.end, n, t, s, f);
  }
  if (group.end < n) {
    AddEntries(s, e, group.first, group.last, group.last);
    t += group_sum;
    FillRemovedScaled(out, cards, group.end, n, n, t, s, f);
  }
}

// Kernels on a cleaned copy of hands that hold faulty cards (never inlined: the
// copy lives only in this rarely used frame).
[[gnu::noinline]] void BlockedReachOnCleanHands(double* out, const double* in, int32_t n,
                                                const uint16_t* cards, double v);
[[gnu::noinline]] void ShowdownOnCleanHands(double* out, const double* in, int32_t n,
                                            const int16_t* groups, int32_t group_count,
                                            const uint16_t* cards, double v);
[[gnu::noinline]] void ShowdownAndFoldOnCleanHands(double* out_a, double* out_b,
                                                   const double* in_a, const double* in_b,
                                                   bool pair, int32_t n, const int16_t* groups,
                                                   int32_t group_count, const uint16_t* cards,
                                                   double a, double b);

// Per hand-group card sums: 52 doubles as 13 vectors.
constexpr int kCardVectors = kCardCount / 4;

inline void ClearCards(__m256d* c) {
  for (int k = 0; k < kCardVectors; ++k) c[k] = _mm256_setzero_pd();
}

// c[card] += x * w[card].
inline void AddScaledRow(__m256d* c, const double* w, double x) {
  const __m256d xv = _mm256_set1_pd(x);
  for (int k = 0; k < kCardVectors; ++k) c[k] = MulAdd4(xv, _mm256_loadu_pd(w + 4 * k), c[k]);
}

// Sum over the cards of w[card] * c[card], lanes added in one fixed order.
inline double DotRow(const double* w, const __m256d* c) {
  __m256d acc = _mm256_mul_pd(_mm256_loadu_pd(w), c[0]);
  for (int k = 1; k < kCardVectors; ++k) acc = MulAdd4(_mm256_loadu_pd(w + 4 * k), c[k], acc);
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, acc);
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

void ComputeBlockedReach(double* out, const double* in, int32_t n, const uint16_t* cards,
                         double v) {
  if (n <= 0) return;
  if (!in) return Zero(out, n);
  double s[kCardCount];
  double t;
  if (n <= kMaxBoardHands) {
    PositiveEntries entries;
    if (!CollectPositive<false>(entries, s, in, n, cards, v, t)) [[unlikely]]
      return BlockedReachOnCleanHands(out, in, n, cards, v);
  } else {
    if (HasFaultyCards(cards, n)) return BlockedReachOnCleanHands(out, in, n, cards, v);
    t = CountedCardSums(s, in, n, cards, v);
  }
  if (std::fabs(t) <= kFoldTotalFloor) return Zero(out, n);
  FillFold(out, in, cards, n, t, s, v);
}

// Lists longer than the entry area (no board has one) walk every hand.
void ComputeShowdownValues(double* out, const double* in, int32_t n, const int16_t* groups,
                           int32_t group_count, const uint16_t* cards, double v) {
  if (n <= 0) return;
  if (!in) return Zero(out, n);
  double w[kCardCount];
  double total;
  if (n <= kMaxBoardHands) {
    PositiveEntries entries;
    if (!CollectPositive<true>(entries, w, in, n, cards, v, total)) [[unlikely]]
      return ShowdownOnCleanHands(out, in, n, groups, group_count, cards, v);
    if (std::fabs(total) <= kShowdownTotalFloor) return Zero(out, n);
    return EntryShowdownWalk(out, entries, w, total, n, groups, group_count, cards, 1.0);
  }
  if (HasFaultyCards(cards, n))
    return ShowdownOnCleanHands(out, in, n, groups, group_count, cards, v);
  ShowdownWalk(out, in, v, n, groups, group_count, cards, w, total);
  if (std::fabs(total) <= kShowdownTotalFloor) return Zero(out, n);
  SubtractRemoved(out, cards, n, total, w, 1.0);
}

void ComputeShowdownAndFold(double* out_a, double* out_b, const double* in, int32_t n,
                            const int16_t* groups, int32_t group_count, const uint16_t* cards,
                            double a, double b) {
  if (n <= 0) return;
  if (!in) {
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  // One walk on the raw reach: its card sums serve the fold as well, and the
  // threshold is on the raw total, before either payoff.
  double p[kCardCount];
  double total;
  if (n <= kMaxBoardHands) {
    PositiveEntries entries;
    if (!CollectPositive<true>(entries, p, in, n, cards, 1.0, total)) [[unlikely]]
      return ShowdownAndFoldOnCleanHands(out_a, out_b, in, nullptr, false, n, groups,
                                         group_count, cards, a, b);
    if (std::fabs(total) <= kShowdownTotalFloor) {
      Zero(out_a, n);
      return Zero(out_b, n);
    }
    EntryShowdownWalk(out_a, entries, p, total, n, groups, group_count, cards, a);
    for (int c = 0; c < kCardCount; ++c) p[c] *= b;
    return FillFold(out_b, in, cards, n, b * total, p, b);
  }
  if (HasFaultyCards(cards, n))
    return ShowdownAndFoldOnCleanHands(out_a, out_b, in, nullptr, false, n, groups, group_count,
                                       cards, a, b);
  ShowdownWalk(out_a, in, 1.0, n, groups, group_count, cards, p, total);
  if (std::fabs(total) <= kShowdownTotalFloor) {
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  SubtractRemoved(out_a, cards, n, total, p, a);
  for (int c = 0; c < kCardCount; ++c) p[c] *= b;
  FillFold(out_b, in, cards, n, b * total, p, b);
}

void ComputeShowdownAndFoldPair(double* out_a, double* out_b, const double* in_a,
                                const double* in_b, int32_t n, const int16_t* groups,
                                int32_t group_count, const uint16_t* cards, double a, double b) {
  if (n <= 0) return;
  const bool fits = n <= kMaxBoardHands;
  // The collecting scans check the cards; without a reach to scan, or on a
  // list too long for them, a separate check.
  if ((!fits || (!in_a && !in_b)) && HasFaultyCards(cards, n)) [[unlikely]]
    return ShowdownAndFoldOnCleanHands(out_a, out_b, in_a, in_b, true, n, groups, group_count,
                                       cards, a, b);
  double w[kCardCount], fold_sums[kCardCount];
  double showdown_total = 0.0;
  double fold_total = 0.0;
  PositiveEntries entries;
  bool cards_ok = true;
  if (in_a && fits) cards_ok = CollectPositive<true>(entries, w, in_a, n, cards, a, showdown_total);
  if (in_a && !fits)
    ShowdownWalk(out_a, in_a, a, n, groups, group_count, cards, w, showdown_total);
  if (in_b && cards_ok) {
    // The fold needs only card sums (the showdown's entries are still needed,
    // so a second area).
    if (fits) {
      PositiveEntries fold_entries;
      cards_ok = CollectPositive<false>(fold_entries, fold_sums, in_b, n, cards, b, fold_total);
    } else {
      fold_total = CountedCardSums(fold_sums, in_b, n, cards, b);
    }
  }
  if (!cards_ok) [[unlikely]]
    return ShowdownAndFoldOnCleanHands(out_a, out_b, in_a, in_b, true, n, groups, group_count,
                                       cards, a, b);
  if (std::fabs(showdown_total) <= kShowdownTotalFloor &&
      std::fabs(fold_total) <= kShowdownTotalFloor) {
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  if (in_a && fits)
    EntryShowdownWalk(out_a, entries, w, showdown_total, n, groups, group_count, cards, 1.0);
  else if (in_a)
    SubtractRemoved(out_a, cards, n, showdown_total, w, 1.0);
  else
    Zero(out_a, n);
  if (in_b)
    FillFold(out_b, in_b, cards, n, fold_total, fold_sums, b);
  else
    Zero(out_b, n);
}

void ComputeGroupBlockedReach(double* out, const double* in, const double* weights, double v,
                              const int16_t* sizes, int32_t m) {
  if (m <= 0) return;
  if (!in) return Zero(out, m);
  __m256d c[kCardVectors];
  ClearCards(c);
  double t = 0.0;
  for (int32_t g = 0; g < m; ++g) {
    const double x = in[g];
    if (x != 0.0) {
      t += x;
      AddScaledRow(c, weights + static_cast<size_t>(kCardCount) * g, x);
    }
  }
  for (int32_t g = 0; g < m; ++g) {
    // The group's own hands are in the card sums twice and added back once, as
    // their mean share of the group's reach.
    const double own = sizes[g] > 0 ? in[g] / sizes[g] : 0.0;
    out[g] = v * (t + own - DotRow(weights + static_cast<size_t>(kCardCount) * g, c));
  }
}

void ComputeGroupShowdownValues(double* out, const double* in, const double* weights, double v,
                                int32_t m) {
  if (m <= 0) return;
  if (!in) return Zero(out, m);
  __m256d c[kCardVectors];
  ClearCards(c);
  double total = 0.0;
  for (int32_t g = 0; g < m; ++g) {
    const double* row = weights + static_cast<size_t>(kCardCount) * g;
    out[g] = v * (total - DotRow(row, c));
    total += in[g];
    AddScaledRow(c, row, in[g]);
  }
  ClearCards(c);
  total = 0.0;
  for (int32_t g = m - 1; g >= 0; --g) {
    const double* row = weights + static_cast<size_t>(kCardCount) * g;
    out[g] -= v * (total - DotRow(row, c));
    total += in[g];
    AddScaledRow(c, row, in[g]);
  }
}

void ComputeBlockedReachUniform(double* out, const double* in, int32_t n, double v) {
  if (n <= 0) return;
  if (!in) return Zero(out, n);
  double t = 0.0;
  for (int32_t j = 0; j < n; ++j) t += in[j];
  if (std::fabs(t) <= kFoldTotalFloor) return Zero(out, n);
  const double value = t * v * kUniformBlockFactor;
  for (int32_t i = 0; i < n; ++i) out[i] = value;
}

void ComputeShowdownValuesUniform(double* out, const double* in, int32_t n,
                                  const int16_t* groups, int32_t group_count, double v) {
  if (n <= 0) return;
  if (!in) return Zero(out, n);
  double t = 0.0;
  ForEachGroup(groups, group_count, n, [&](int32_t pos, int32_t size) {
    double sum = 0.0;
    for (int32_t j = pos; j < pos + size; ++j) sum += in[j];
    t -= sum;
  });
  if (std::fabs(t) <= kShowdownTotalFloor) return Zero(out, n);
  ForEachGroup(groups, group_count, n, [&](int32_t pos, int32_t size) {
    double sum = 0.0;
    for (int32_t j = pos; j < pos + size; ++j) sum += in[j];
    t += sum;
    const double value = kUniformBlockFactor * v * t;
    for (int32_t i = pos; i < pos + size; ++i) out[i] = value;
    t += sum;
  });
}

void ComputeGroupBlockedReachUniform(double* out, const double* in, double v,
                                     const int16_t* sizes, int32_t m) {
  if (m <= 0) return;
  if (!in) return Zero(out, m);
  double total = 0.0;
  for (int32_t g = 0; g < m; ++g) total += in[g];
  const double value = v * kUniformBlockFactor * total;
  for (int32_t g = 0; g < m; ++g) out[g] = value;
}

void ComputeGroupShowdownValuesUniform(double* out, const double* in, double v, int32_t m) {
  if (m <= 0) return;
  if (!in) return Zero(out, m);
  double later = 0.0;
  for (int32_t g = 0; g < m; ++g) later += in[g];
  double earlier = 0.0;
  for (int32_t g = 0; g < m; ++g) {
    later -= in[g];
    out[g] = kUniformBlockFactor * v * (earlier - later);
    earlier += in[g];
  }
}

double BlockedReachDot(const double* a, const double* b, NumArray&& vec, const uint16_t* cards,
                       double f) {
  NumArray taken = std::move(vec);
  const int32_t n = taken.count;
  taken.Free();
  if (n <= 0 || !a || !b) return 0.0;
  double s[kCardCount] = {};
  double t = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    if (FaultyHand(cards[j])) {
      assert(!"card number out of range");
      continue;
    }
    t += a[j];
    s[LowCard(cards[j])] += a[j];
    s[HighCard(cards[j])] += a[j];
  }
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    if (FaultyHand(cards[i])) continue;
    sum = MulAdd(b[i], t - s[LowCard(cards[i])] - s[HighCard(cards[i])] + a[i], sum);
  }
  return f * sum;
}

double MatchupWeightedMean(const double* a, const double* b, const double* c,
                           const std::vector<CardMask>& masks) {
  const int32_t n = static_cast<int32_t>(masks.size());
  if (n == 0) return 0.0;
  double numerator = 0.0;
  double divisor = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double unblocked = 0.0;
    for (int32_t j = 0; j < n; ++j)
      if ((masks[i] & masks[j]) == 0) unblocked += c[j];
    divisor = MulAdd(b[i], unblocked, divisor);
    numerator = MulAdd(a[i], b[i], numerator);
  }
  // No unblocked matchup at all: nothing to average.
  if (divisor == 0.0) return 0.0;
  return numerator / divisor;
}

void BlockedReachOnCleanHands(double* out, const double* in, int32_t n, const uint16_t* cards,
                              double v) {
  assert(!"card number out of range");
  if (n > kMaxBoardHands) return Zero(out, n);
  CleanHands clean;
  CleanFaultyHands(clean, cards, n, in, nullptr);
  ComputeBlockedReach(out, clean.a, n, clean.cards, v);
  ZeroFaultyHands(out, cards, n);
}

void ShowdownOnCleanHands(double* out, const double* in, int32_t n, const int16_t* groups,
                          int32_t group_count, const uint16_t* cards, double v) {
  assert(!"card number out of range");
  if (n > kMaxBoardHands) return Zero(out, n);
  CleanHands clean;
  CleanFaultyHands(clean, cards, n, in, nullptr);
  ComputeShowdownValues(out, clean.a, n, groups, group_count, clean.cards, v);
  ZeroFaultyHands(out, cards, n);
}

void ShowdownAndFoldOnCleanHands(double* out_a, double* out_b, const double* in_a,
                                 const double* in_b, bool pair, int32_t n, const int16_t* groups,
                                 int32_t group_count, const uint16_t* cards, double a, double b) {
  assert(!"card number out of range");
  if (n > kMaxBoardHands) {
    Zero(out_a, n);
    return Zero(out_b, n);
  }
  CleanHands clean;
  CleanFaultyHands(clean, cards, n, in_a, in_b);
  if (pair)
    ComputeShowdownAndFoldPair(out_a, out_b, clean.a, clean.b, n, groups, group_count,
                               clean.cards, a, b);
  else
    ComputeShowdownAndFold(out_a, out_b, clean.a, n, groups, group_count, clean.cards, a, b);
  ZeroFaultyHands(out_a, cards, n);
  ZeroFaultyHands(out_b, cards, n);
}

}  // namespace

const TerminalKernels kTerminalKernels = {
    .ComputeBlockedReach = ComputeBlockedReach,
    .ComputeShowdownValues = ComputeShowdownValues,
    .ComputeShowdownAndFold = ComputeShowdownAndFold,
    .ComputeShowdownAndFoldPair = ComputeShowdownAndFoldPair,
    .ComputeGroupBlockedReach = ComputeGroupBlockedReach,
    .ComputeGroupShowdownValues = ComputeGroupShowdownValues,
    .ComputeBlockedReachUniform = ComputeBlockedReachUniform,
    .ComputeShowdownValuesUniform = ComputeShowdownValuesUniform,
    .ComputeGroupBlockedReachUniform = ComputeGroupBlockedReachUniform,
    .ComputeGroupShowdownValuesUniform = ComputeGroupShowdownValuesUniform,
    .BlockedReachDot = BlockedReachDot,
    .MatchupWeightedMean = MatchupWeightedMean,
};

}  // namespace isa_*
