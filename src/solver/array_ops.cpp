// Entries of the per-hand array operations: each picks the AVX2/FMA build or
// the plain AVX build by the processor's features.
#include "solver/array_ops.h"

#include "platform/cpu_features.h"

void ScaleArray(NumArray& a, double f) {
  if (CpuHasAvx2Fma())
    isa_avx2::ScaleArray(a, f);
  else
    isa_avx::ScaleArray(a, f);
}

void MultiplyArrays(NumArray& out, const NumArray& a, const NumArray& b) {
  if (CpuHasAvx2Fma())
    isa_avx2::MultiplyArrays(out, a, b);
  else
    isa_avx::MultiplyArrays(out, a, b);
}

void MultiplyArraysPruned(NumArray& out, const NumArray& a, const NumArray& b) {
  if (CpuHasAvx2Fma())
    isa_avx2::MultiplyArraysPruned(out, a, b);
  else
    isa_avx::MultiplyArraysPruned(out, a, b);
}

void MultiplyInPlacePruned(NumArray& a, const NumArray& b) {
  if (CpuHasAvx2Fma())
    isa_avx2::MultiplyInPlacePruned(a, b);
  else
    isa_avx::MultiplyInPlacePruned(a, b);
}

void MultiplyAddArrays(NumArray& out, const NumArray& a, const NumArray& b) {
  if (CpuHasAvx2Fma())
    isa_avx2::MultiplyAddArrays(out, a, b);
  else
    isa_avx::MultiplyAddArrays(out, a, b);
}

void AccumulateArray(NumArray& out, const NumArray& a) {
  if (CpuHasAvx2Fma())
    isa_avx2::AccumulateArray(out, a);
  else
    isa_avx::AccumulateArray(out, a);
}

void MaxArrays(NumArray& out, const NumArray& a) {
  if (CpuHasAvx2Fma())
    isa_avx2::MaxArrays(out, a);
  else
    isa_avx::MaxArrays(out, a);
}

void CombineFirstMasked(NumArray& out, const NumArray& a, const NumArray& strategy,
                        const uint8_t* mask) {
  if (CpuHasAvx2Fma())
    isa_avx2::CombineFirstMasked(out, a, strategy, mask);
  else
    isa_avx::CombineFirstMasked(out, a, strategy, mask);
}

void CombineMaxMasked(NumArray& out, const NumArray& a, const NumArray& strategy,
                      const uint8_t* mask) {
  if (CpuHasAvx2Fma())
    isa_avx2::CombineMaxMasked(out, a, strategy, mask);
  else
    isa_avx::CombineMaxMasked(out, a, strategy, mask);
}

void ScaleSigned(NumArray& a, double p, double n) {
  if (CpuHasAvx2Fma())
    isa_avx2::ScaleSigned(a, p, n);
  else
    isa_avx::ScaleSigned(a, p, n);
}

void ScalePositive(NumArray& a, double p) {
  if (CpuHasAvx2Fma())
    isa_avx2::ScalePositive(a, p);
  else
    isa_avx::ScalePositive(a, p);
}

void CollectTargetValues(NumArray& values, NumArray& weights, const NumArray& node_values,
                         const NumArray& opponent_reach, const NumArray& own_reach,
                         const CardMask* hand_masks, double factor) {
  if (CpuHasAvx2Fma())
    isa_avx2::CollectTargetValues(values, weights, node_values, opponent_reach, own_reach,
                                  hand_masks, factor);
  else
    isa_avx::CollectTargetValues(values, weights, node_values, opponent_reach, own_reach,
                                  hand_masks, factor);
}

void AccumulateCardReach(CardRecord& record, int player, const NumArray& reach, double weight) {
  if (CpuHasAvx2Fma())
    isa_avx2::AccumulateCardReach(record, player, reach, weight);
  else
    isa_avx::AccumulateCardReach(record, player, reach, weight);
}
