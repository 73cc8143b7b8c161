// Entries of the 16-bit row kernels: each picks the AVX2/FMA build or the plain
// AVX build by the processor's features.
#include "store/value_kernels16.h"

#include "platform/cpu_features.h"

void SumValues16(uint32_t* sums, const uint16_t* row, int32_t n) {
  if (CpuHasAvx2Fma())
    isa_avx2::SumValues16(sums, row, n);
  else
    isa_avx::SumValues16(sums, row, n);
}

void NormalizeValues16(const uint16_t* row, const uint32_t* sums, double* out, int32_t n,
                       float default_value) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues16(row, sums, out, n, default_value);
  else
    isa_avx::NormalizeValues16(row, sums, out, n, default_value);
}

void NormalizeValues16x2(const uint16_t* row0, const uint16_t* row1, double* out0, double* out1,
                         int32_t n, const float* defaults) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues16x2(row0, row1, out0, out1, n, defaults);
  else
    isa_avx::NormalizeValues16x2(row0, row1, out0, out1, n, defaults);
}

void NormalizeValues16x3(const uint16_t* row0, const uint16_t* row1, const uint16_t* row2,
                         double* out0, double* out1, double* out2, int32_t n,
                         const float* defaults) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues16x3(row0, row1, row2, out0, out1, out2, n, defaults);
  else
    isa_avx::NormalizeValues16x3(row0, row1, row2, out0, out1, out2, n, defaults);
}

void SetActionValues16(uint16_t* row, const double* values, int32_t n) {
  if (CpuHasAvx2Fma())
    isa_avx2::SetActionValues16(row, values, n);
  else
    isa_avx::SetActionValues16(row, values, n);
}

void UpdateRegrets16(uint16_t* row, int32_t n, const NumArray& node_values,
                     const NumArray& action_values, const std::vector<int16_t>* hand_groups,
                     double payoff_scale, const uint8_t* mask) {
  if (CpuHasAvx2Fma())
    isa_avx2::UpdateRegrets16(row, n, node_values, action_values, hand_groups, payoff_scale, mask);
  else
    isa_avx::UpdateRegrets16(row, n, node_values, action_values, hand_groups, payoff_scale, mask);
}

void AverageValueGroups16(uint16_t* row, int32_t n, const std::vector<int16_t>& group_sizes) {
  if (CpuHasAvx2Fma())
    isa_avx2::AverageValueGroups16(row, n, group_sizes);
  else
    isa_avx::AverageValueGroups16(row, n, group_sizes);
}

void UpdateOwnDecision16(uint16_t* const* rows, int32_t actions, int32_t n,
                         const double* const* values, double* node, const float* defaults,
                         double payoff_scale) {
  if (CpuHasAvx2Fma())
    isa_avx2::UpdateOwnDecision16(rows, actions, n, values, node, defaults, payoff_scale);
  else
    isa_avx::UpdateOwnDecision16(rows, actions, n, values, node, defaults, payoff_scale);
}

void OpponentDecision16(const uint16_t* const* rows, int32_t actions, int32_t n,
                        const double* reach, const float* defaults, double* const* out,
                        double* sums, float* const* strategy_sums, double weight) {
  if (CpuHasAvx2Fma())
    isa_avx2::OpponentDecision16(rows, actions, n, reach, defaults, out, sums, strategy_sums, weight);
  else
    isa_avx::OpponentDecision16(rows, actions, n, reach, defaults, out, sums, strategy_sums, weight);
}

void AverageStrategy16(const float* const* sum_rows, const uint16_t* const* regret_rows,
                       int32_t actions, int32_t n, const float* uniform, double* const* out) {
  if (CpuHasAvx2Fma())
    isa_avx2::AverageStrategy16(sum_rows, regret_rows, actions, n, uniform, out);
  else
    isa_avx::AverageStrategy16(sum_rows, regret_rows, actions, n, uniform, out);
}
