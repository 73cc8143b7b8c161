// Entries of the float row kernels: each picks the AVX2/FMA build or the plain
// AVX build by the processor's features.
#include "store/value_kernels32.h"

#include "platform/cpu_features.h"

void SumValues32(float* sums, const float* row, int32_t n) {
  if (CpuHasAvx2Fma())
    isa_avx2::SumValues32(sums, row, n);
  else
    isa_avx::SumValues32(sums, row, n);
}

void NormalizeValues32(double* out, const float* row, const float* sums, int32_t n,
                       float default_value) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues32(out, row, sums, n, default_value);
  else
    isa_avx::NormalizeValues32(out, row, sums, n, default_value);
}

void NormalizeValues32x2(const float* row0, const float* row1, double* out0, double* out1,
                         int32_t n, const float* defaults) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues32x2(row0, row1, out0, out1, n, defaults);
  else
    isa_avx::NormalizeValues32x2(row0, row1, out0, out1, n, defaults);
}

void NormalizeValues32x3(const float* row0, const float* row1, const float* row2, double* out0,
                         double* out1, double* out2, int32_t n, const float* defaults) {
  if (CpuHasAvx2Fma())
    isa_avx2::NormalizeValues32x3(row0, row1, row2, out0, out1, out2, n, defaults);
  else
    isa_avx::NormalizeValues32x3(row0, row1, row2, out0, out1, out2, n, defaults);
}

void SetActionValues32(float* row, const double* values, int32_t n) {
  if (CpuHasAvx2Fma())
    isa_avx2::SetActionValues32(row, values, n);
  else
    isa_avx::SetActionValues32(row, values, n);
}

void UpdateRegrets32(float* row, const double* node_values, const double* action_values,
                     int32_t n, const uint8_t* mask) {
  if (CpuHasAvx2Fma())
    isa_avx2::UpdateRegrets32(row, node_values, action_values, n, mask);
  else
    isa_avx::UpdateRegrets32(row, node_values, action_values, n, mask);
}

void AccumulateStrategy32(float* sums, const double* strategy, const double* reach,
                          double weight, int32_t n, const uint8_t* mask) {
  if (CpuHasAvx2Fma())
    isa_avx2::AccumulateStrategy32(sums, strategy, reach, weight, n, mask);
  else
    isa_avx::AccumulateStrategy32(sums, strategy, reach, weight, n, mask);
}
