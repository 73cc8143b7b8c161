#pragma once
#include <cstdint>
#include <vector>

#include "cards/card.h"
#include "platform/isa_dispatch.h"
#include "store/num_array.h"

// End-node kernels: per hand of one board, the value of that hand against the
// opponent's reach, with card removal (opponent hands that share a card with
// the hand do not count). Exact kernels work in O(n + 52): the fold kernel from
// 52 per-card reach sums and inclusion-exclusion, the showdown kernels by one
// walk up the board's strength order keeping per-card sums of the hands passed.
//
// Common arguments:
// - n: hand count; hands are in the board's order (weakest first for showdowns).
// - cards: per hand, low card number in the low byte, high card in the high
//   byte (the records' hand cards). A card number of 52 or more is a fault: it
//   asserts in debug builds; release builds skip the hand (no reach taken from
//   it, value 0).
// - groups, group_count: sizes of the runs of equal strength along the hands,
//   weakest first, adding up to n.
// - in: the opponent's reach per hand (never negative); null stands for zeros.
//   The exact per-hand kernels take only entries above zero (zero and NaN are
//   skipped).
// - v, a, b: payoffs.
// The kernels need no working area that grows with n: 52 card sums, the walk's
// state and, while few hands have reach, the list of the hands that do (a stack
// area of kMaxBoardHands entries; longer lists walk every hand instead). The
// fallback for faulty cards copies the hands into a stack area of the same size
// (a longer list with faulty cards gives zeros).
// Counts of zero or below write nothing.

// Every two-card combination may be in play on a board.
constexpr int32_t kMaxBoardHands = 1326;

// C(45,2) / C(47,2): of the 1081 hands that the 47 cards off a river board make,
// 990 avoid the two cards of a given hand.
constexpr double kUniformBlockFactor = 990.0 / 1081.0;

// Below these totals the kernels answer zeros rather than rounding noise.
constexpr double kFoldTotalFloor = 2.2250738585072014e-308;      // DBL_MIN
constexpr double kShowdownTotalFloor = 1.1754943508222875e-38;   // FLT_MIN

// The kernels are the members of TerminalKernels, one table per build
// (Kernels<TerminalKernels>() is the one in use).
struct TerminalKernels {
  // out[i] = v * (sum of in[j] over hands j sharing no card with i); zeros when
  // in is null or |v * total| <= DBL_MIN.
  void (*ComputeBlockedReach)(double* out, const double* in, int32_t n, const uint16_t* cards,
                              double v);
  // out[i] = v * (reach of weaker disjoint hands - reach of stronger disjoint
  // hands); equal strength counts zero. Zeros when in is null or |v * total| <=
  // FLT_MIN.
  void (*ComputeShowdownValues)(double* out, const double* in, int32_t n, const int16_t* groups,
                                int32_t group_count, const uint16_t* cards, double v);
  // out_a = showdown values with payoff a, out_b = fold values with payoff b,
  // both from in; both zero when in is null or the raw total is <= FLT_MIN.
  void (*ComputeShowdownAndFold)(double* out_a, double* out_b, const double* in, int32_t n,
                                 const int16_t* groups, int32_t group_count,
                                 const uint16_t* cards, double a, double b);
  // out_a = showdown values of in_a with payoff a, out_b = fold values of in_b
  // with payoff b; both zero when both totals (after payoff) are <= FLT_MIN.
  void (*ComputeShowdownAndFoldPair)(double* out_a, double* out_b, const double* in_a,
                                     const double* in_b, int32_t n, const int16_t* groups,
                                     int32_t group_count, const uint16_t* cards, double a,
                                     double b);

  // Hand groups: m groups, in[g] the group's summed reach, weights 52 doubles
  // per group (the share of the group's hands holding each card), sizes the
  // hands per group. out[g] is the mean over the group's hands of the per-hand
  // value when each group's reach is spread evenly over its hands. No zero
  // threshold.
  void (*ComputeGroupBlockedReach)(double* out, const double* in, const double* weights,
                                   double v, const int16_t* sizes, int32_t m);
  // Earlier groups count as weaker, later ones as stronger, the group itself
  // ties.
  void (*ComputeGroupShowdownValues)(double* out, const double* in, const double* weights,
                                     double v, int32_t m);

  // Without exact card removal: every opponent hand is taken as avoiding the
  // hand's cards with probability kUniformBlockFactor. Sums take every entry.
  void (*ComputeBlockedReachUniform)(double* out, const double* in, int32_t n, double v);
  void (*ComputeShowdownValuesUniform)(double* out, const double* in, int32_t n,
                                       const int16_t* groups, int32_t group_count, double v);
  void (*ComputeGroupBlockedReachUniform)(double* out, const double* in, double v,
                                          const int16_t* sizes, int32_t m);
  void (*ComputeGroupShowdownValuesUniform)(double* out, const double* in, double v, int32_t m);

  // Reductions with no caller in the engine.
  // f * sum over i of b[i] * (card-removed total of a seen by hand i), taking
  // every entry of a; n = vec.count. vec is taken over and freed.
  double (*BlockedReachDot)(const double* a, const double* b, NumArray&& vec,
                            const uint16_t* cards, double f);
  // (sum of a[i] * b[i]) / (sum over i of b[i] * sum of c[j] over hands j whose
  // mask shares no card with i's), by direct pairwise tests; 0 when n is 0 or
  // the divisor is 0.
  double (*MatchupWeightedMean)(const double* a, const double* b, const double* c,
                                const std::vector<CardMask>& masks);
};
TDX_KERNEL_TABLES(TerminalKernels)
