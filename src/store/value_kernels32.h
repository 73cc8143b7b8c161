#pragma once
#include <cstdint>

#include "platform/isa_dispatch.h"

// Per-hand kernels on one row of float values (one action on one board), shared
// by the plain, composite and 32-bit arena stores. Each is a member of
// ValueKernels32, one table per build (Kernels<ValueKernels32>() is the one in
// use); blocks of eight hands use the refined approximate reciprocal (square
// root), the remainder exact single-precision arithmetic. A null double pointer
// stands for an absent array (all zeros). mask: one byte per hand, nonzero =
// locked hand, or null.
struct ValueKernels32 {
  // sums[k] += row[k] (single precision).
  void (*SumValues32)(float* sums, const float* row, int32_t n);

  // out[k] = row[k] / sums[k] in single precision, widened; the default where
  // the sum is below FLT_MIN.
  void (*NormalizeValues32)(double* out, const float* row, const float* sums, int32_t n,
                            float default_value);

  // Two- and three-action strategies without a temporary sum array.
  void (*NormalizeValues32x2)(const float* row0, const float* row1, double* out0, double* out1,
                              int32_t n, const float* defaults);
  void (*NormalizeValues32x3)(const float* row0, const float* row1, const float* row2,
                              double* out0, double* out1, double* out2, int32_t n,
                              const float* defaults);

  // row[k] = values[k] rounded to float.
  void (*SetActionValues32)(float* row, const double* values, int32_t n);

  // Float regret update: d = action[k] - node[k] (double, rounded to float),
  // r' = r +/- |d|^0.75, stored as 0 below FLT_MIN. Masked hands keep their
  // value.
  void (*UpdateRegrets32)(float* row, const double* node_values, const double* action_values,
                          int32_t n, const uint8_t* mask);

  // sums[k] += (weight * strategy[k]) * reach[k], formed in double, rounded
  // once, added in single precision; masked hands are skipped. Nothing when
  // weight <= 0 or reach is absent.
  void (*AccumulateStrategy32)(float* sums, const double* strategy, const double* reach,
                               double weight, int32_t n, const uint8_t* mask);
};
TDX_KERNEL_TABLES(ValueKernels32)
