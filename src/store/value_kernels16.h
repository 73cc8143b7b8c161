#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/isa_dispatch.h"
#include "store/num_array.h"

// Per-hand kernels on one row of unsigned 16-bit values (one action on one
// board): the river regrets of trees that start on the flop. A regret counts
// (payoff scale x regret)^0.75 in whole units, saturating at 65535 and never
// negative. Each routine is a member of ValueKernels16, one table per build
// (Kernels<ValueKernels16>() is the one in use); blocks of eight hands use the
// refined approximate reciprocal (square root), the remainder exact
// single-precision arithmetic, so the forms agree except within a few float ulps
// of a quotient or a whole number. mask: one byte per hand, nonzero = locked
// hand, or null.

// The fused decision steps below take at most this many actions.
constexpr int32_t kMaxFusedActions = 8;

struct ValueKernels16 {
  // sums[k] += row[k] in 32-bit integers.
  void (*SumValues16)(uint32_t* sums, const uint16_t* row, int32_t n);

  // out[k] = row[k] / sums[k] in single precision, widened; the default where
  // the sum is 0.
  void (*NormalizeValues16)(const uint16_t* row, const uint32_t* sums, double* out, int32_t n,
                            float default_value);

  // Two- and three-action strategies without a temporary sum array.
  void (*NormalizeValues16x2)(const uint16_t* row0, const uint16_t* row1, double* out0,
                              double* out1, int32_t n, const float* defaults);
  void (*NormalizeValues16x3)(const uint16_t* row0, const uint16_t* row1, const uint16_t* row2,
                              double* out0, double* out1, double* out2, int32_t n,
                              const float* defaults);

  // row[k] = values[k] truncated toward zero and clamped to 0 ... 65535; NaN is
  // 0.
  void (*SetActionValues16)(uint16_t* row, const double* values, int32_t n);

  // The 16-bit regret update of a row of n hands. d = action - node per hand
  // (absent arrays count as zeros); with k = scale^0.75 and t = 1 / scale, d >=
  // t adds trunc(k d^0.75) (saturating at 65535), d <= -t subtracts trunc(k
  // |d|^0.75) (stopping at 0), anything between is dropped. Hands beyond either
  // array's count are left alone. Afterwards, when hand_groups is given, every
  // group of the row is averaged (masked hands included).
  void (*UpdateRegrets16)(uint16_t* row, int32_t n, const NumArray& node_values,
                          const NumArray& action_values, const std::vector<int16_t>* hand_groups,
                          double payoff_scale, const uint8_t* mask);

  // Consecutive runs of the row, one per group size, each set to its integer
  // mean. Groups of size 0 or less take nothing; nothing beyond n is touched.
  void (*AverageValueGroups16)(uint16_t* row, int32_t n, const std::vector<int16_t>& group_sizes);

  // The traverser's river decision in a solving pass on 16-bit regret rows,
  // without the strategy arrays written and read again: one pass over the
  // hands for the strategy (as NormalizeValues16x2 / x3 / NormalizeValues16
  // give it with the defaults) and the node value node[h] = the sum over
  // actions of values[a][h] x strategy (the first present action's product
  // alone, the later ones fused where the build fuses, as MultiplyArrays and
  // MultiplyAddArrays give it; null values count as absent), then each row's
  // UpdateRegrets16 without mask or hand groups. Every array holds n values; at
  // most kMaxFusedActions actions (nothing done otherwise).
  void (*UpdateOwnDecision16)(uint16_t* const* rows, int32_t actions, int32_t n,
                              const double* const* values, double* node, const float* defaults,
                              double payoff_scale);

  // The opponent's river decision in a solving pass on 16-bit regret rows, in
  // one pass over the hands: the strategy sigma of each action (as
  // NormalizeValues16x2 / x3 / NormalizeValues16 give it with the defaults)
  // times the opponent's reach, out[a][h] = sigma x reach[h], as
  // MultiplyInPlacePruned forms it, with sums[a] = the sum of action a's
  // products in that routine's order (its pruning test); where strategy_sums is
  // not null, also strategy_sums[a][h] += (weight x sigma) x reach[h] as
  // AccumulateStrategy32 adds it without a mask. Every array holds n values;
  // 1 ... kMaxFusedActions actions (nothing done otherwise).
  void (*OpponentDecision16)(const uint16_t* const* rows, int32_t actions, int32_t n,
                             const double* reach, const float* defaults, double* const* out,
                             double* sums, float* const* strategy_sums, double weight);

  // A node's average strategy on one river board, from its float strategy-sum
  // rows and its 16-bit regret rows, in one pass over the hands: per hand the
  // sums' strategy (as NormalizeValues32x2 / x3 / NormalizeValues32 give it
  // with defaults 0) where those quotients, widened and added in action order,
  // are not 0, else the current strategy (as the 16-bit normalisers give it
  // with the defaults `uniform`). Every array holds n values; 1 ...
  // kMaxFusedActions actions (nothing done otherwise).
  void (*AverageStrategy16)(const float* const* sum_rows, const uint16_t* const* regret_rows,
                            int32_t actions, int32_t n, const float* uniform,
                            double* const* out);

};
TDX_KERNEL_TABLES(ValueKernels16)
