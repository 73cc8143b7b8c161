// Entries of the index-map routines: each picks the AVX2/FMA build or the plain
// AVX build by the processor's features.
#include "store/index_maps.h"

#include "platform/cpu_features.h"

void ExpandHandsToCombos(double* out, const NumArray& src, const int16_t* map,
                         bool nan_for_absent) {
  if (CpuHasAvx2Fma())
    isa_avx2::ExpandHandsToCombos(out, src, map, nan_for_absent);
  else
    isa_avx::ExpandHandsToCombos(out, src, map, nan_for_absent);
}

void CompactCombosToHands(NumArray& dest, const double* src, const int16_t* map) {
  if (CpuHasAvx2Fma())
    isa_avx2::CompactCombosToHands(dest, src, map);
  else
    isa_avx::CompactCombosToHands(dest, src, map);
}

void GatherSumHandGroups(const HandGroupView& record, NumArray& out, const NumArray& src) {
  if (CpuHasAvx2Fma())
    isa_avx2::GatherSumHandGroups(record, out, src);
  else
    isa_avx::GatherSumHandGroups(record, out, src);
}

void ScatterAddHandGroups(const HandGroupView& record, NumArray& dest, const NumArray& src) {
  if (CpuHasAvx2Fma())
    isa_avx2::ScatterAddHandGroups(record, dest, src);
  else
    isa_avx::ScatterAddHandGroups(record, dest, src);
}

void ScatterAddCombos(NumArray& dest, const NumArray& src, const int16_t* index) {
  if (CpuHasAvx2Fma())
    isa_avx2::ScatterAddCombos(dest, src, index);
  else
    isa_avx::ScatterAddCombos(dest, src, index);
}
