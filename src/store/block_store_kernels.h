#pragma once
#include <cstdint>

#include "platform/isa_dispatch.h"

// Row kernels of the block-compressed river stores that the 16-bit kernels
// (store/value_kernels16.h) do not have: the four-action normaliser of 16-bit
// regret rows, and the strategy sums kept as non-negative signed 32-bit
// integers. One table per build (Kernels<BlockStoreKernels>() is the one in
// use); blocks of eight hands use the refined approximate reciprocal, the
// remainder exact single-precision division. mask: one byte per hand, nonzero =
// locked hand, or null.
struct BlockStoreKernels {
  // Four 16-bit rows: out[a][k] = row[a][k] / (sum of the four) in single
  // precision, or defaults[a] where the sum is 0; as NormalizeValues16x3 gives
  // it for three.
  void (*NormalizeValues16x4)(const uint16_t* const* rows, double* const* out, int32_t n,
                              const float* defaults);

  // Integer strategy sums of `actions` rows: per hand s = the exact sum of the
  // rows rounded to a float; out[a][k] = row[a][k] / s in single precision
  // where s >= FLT_MIN, else defaults[a].
  void (*NormalizeIntValues32)(const int32_t* const* rows, int32_t actions, int32_t n,
                               const float* defaults, double* const* out);

  // row[k] = trunc(row[k] + weight x (strategy[k] x reach[k]) + 0.5) in
  // double precision (fused where the build fuses), held within 0 ...
  // INT32_MAX (a sum that would pass 2^31 - 1 stays there instead of
  // wrapping; NaN adds nothing). A null reach: strategy holds the products
  // already (the same bits as strategy x reach). Masked hands are skipped.
  void (*AccumulateValues32)(int32_t* row, const double* strategy, const double* reach,
                             double weight, int32_t n, const uint8_t* mask);

  // The average strategy of a board with integer sums and 16-bit regrets, 1 ...
  // kMaxFusedActions actions, in one pass: per hand the sums' quotients as
  // NormalizeIntValues32 gives them (default 0) where they add up to anything
  // in double precision, else the regrets' current strategy as the 16-bit
  // normalisers give it with the defaults `uniform`. The same bits as the two
  // strategies taken apart and chosen between.
  void (*AverageIntStrategy32)(const int32_t* const* sum_rows, const uint16_t* const* regret_rows,
                               int32_t actions, int32_t n, const float* uniform,
                               double* const* out);
};
TDX_KERNEL_TABLES(BlockStoreKernels)
