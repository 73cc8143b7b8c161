// Entry of the four-column showdown kernel: the AVX2/FMA build or the plain AVX
// build by the processor's features.
#include "solver/showdown_columns.h"

#include "platform/cpu_features.h"

void ComputeShowdownColumns(ShowdownColumn* columns, int32_t n, const int16_t* groups,
                            int32_t group_count, const uint16_t* cards) {
  if (CpuHasAvx2Fma())
    isa_avx2::ComputeShowdownColumns(columns, n, groups, group_count, cards);
  else
    isa_avx::ComputeShowdownColumns(columns, n, groups, group_count, cards);
}

void FinishShowdownFoldPair(double* out_a, double* out_b, const double* in_b, int32_t n,
                            const uint16_t* cards, double b, double showdown_total) {
  if (CpuHasAvx2Fma())
    isa_avx2::FinishShowdownFoldPair(out_a, out_b, in_b, n, cards, b, showdown_total);
  else
    isa_avx::FinishShowdownFoldPair(out_a, out_b, in_b, n, cards, b, showdown_total);
}

void FinishShowdownFoldColumns(const FoldPairColumn* folds, int32_t n, const uint16_t* cards) {
  if (CpuHasAvx2Fma())
    isa_avx2::FinishShowdownFoldColumns(folds, n, cards);
  else
    isa_avx::FinishShowdownFoldColumns(folds, n, cards);
}
