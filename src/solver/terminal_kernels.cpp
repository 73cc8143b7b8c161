// Entries of the end-node kernels: each picks the AVX2/FMA build or the plain
// AVX build by the processor's features.
#include "solver/terminal_kernels.h"

#include <utility>

#include "platform/cpu_features.h"

void ComputeBlockedReach(double* out, const double* in, int32_t n, const uint16_t* cards,
                         double v) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeBlockedReach(out, in, n, cards, v);
  else
    isa_avx::ComputeBlockedReach(out, in, n, cards, v);
}

void ComputeShowdownValues(double* out, const double* in, int32_t n, const int16_t* groups,
                           int32_t group_count, const uint16_t* cards, double v) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeShowdownValues(out, in, n, groups, group_count, cards, v);
  else
    isa_avx::ComputeShowdownValues(out, in, n, groups, group_count, cards, v);
}

void ComputeShowdownAndFold(double* out_a, double* out_b, const double* in, int32_t n,
                            const int16_t* groups, int32_t group_count, const uint16_t* cards,
                            double a, double b) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeShowdownAndFold(out_a, out_b, in, n, groups, group_count, cards, a, b);
  else
    isa_avx::ComputeShowdownAndFold(out_a, out_b, in, n, groups, group_count, cards, a, b);
}

void ComputeShowdownAndFoldPair(double* out_a, double* out_b, const double* in_a,
                                const double* in_b, int32_t n, const int16_t* groups,
                                int32_t group_count, const uint16_t* cards, double a, double b) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeShowdownAndFoldPair(out_a, out_b, in_a, in_b, n, groups, group_count, cards,
                                         a, b);
  else
    isa_avx::ComputeShowdownAndFoldPair(out_a, out_b, in_a, in_b, n, groups, group_count, cards,
                                        a, b);
}

void ComputeGroupBlockedReach(double* out, const double* in, const double* weights, double v,
                              const int16_t* sizes, int32_t m) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeGroupBlockedReach(out, in, weights, v, sizes, m);
  else
    isa_avx::ComputeGroupBlockedReach(out, in, weights, v, sizes, m);
}

void ComputeGroupShowdownValues(double* out, const double* in, const double* weights, double v,
                                int32_t m) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeGroupShowdownValues(out, in, weights, v, m);
  else
    isa_avx::ComputeGroupShowdownValues(out, in, weights, v, m);
}

void ComputeBlockedReachUniform(double* out, const double* in, int32_t n, double v) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeBlockedReachUniform(out, in, n, v);
  else
    isa_avx::ComputeBlockedReachUniform(out, in, n, v);
}

void ComputeShowdownValuesUniform(double* out, const double* in, int32_t n,
                                  const int16_t* groups, int32_t group_count, double v) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeShowdownValuesUniform(out, in, n, groups, group_count, v);
  else
    isa_avx::ComputeShowdownValuesUniform(out, in, n, groups, group_count, v);
}

void ComputeGroupBlockedReachUniform(double* out, const double* in, double v,
                                     const int16_t* sizes, int32_t m) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeGroupBlockedReachUniform(out, in, v, sizes, m);
  else
    isa_avx::ComputeGroupBlockedReachUniform(out, in, v, sizes, m);
}

void ComputeGroupShowdownValuesUniform(double* out, const double* in, double v, int32_t m) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeGroupShowdownValuesUniform(out, in, v, m);
  else
    isa_avx::ComputeGroupShowdownValuesUniform(out, in, v, m);
}

double BlockedReachDot(const double* a, const double* b, NumArray&& vec, const uint16_t* cards,
                       double f) {
  if (CpuHasAvx2Fma()) return isa_avx2::BlockedReachDot(a, b, std::move(vec), cards, f);
  return isa_avx::BlockedReachDot(a, b, std::move(vec), cards, f);
}

double MatchupWeightedMean(const double* a, const double* b, const double* c,
                           const std::vector<CardMask>& masks) {
  if (CpuHasAvx2Fma()) return isa_avx2::MatchupWeightedMean(a, b, c, masks);
  return isa_avx::MatchupWeightedMean(a, b, c, masks);
}
