#pragma once
#include <cstdint>

#include "cards/card.h"
#include "platform/isa_dispatch.h"
#include "store/num_array.h"

struct CardRecord;

// Per-hand array operations of the tree walk. Every array is indexed by the
// hands of one board. An array with a count but no data is absent: it stands
// for zeros of its count and is passed on as absent, which is how vanished
// reach (pruning) travels through the walk.
//
// Counts: an output named `out` takes the count of `a` unless stated; an
// accumulator (`out` of the += and max forms) keeps its count, and when it is
// absent it is given zeros of its count (of the input's count when its count
// is 0). No operation reads an input beyond its count: where counts differ (a
// caller fault) the shorter input counts as zeros past its end. `out` may be
// any of its inputs.
//
// Masks hold one byte per hand of `a` (nonzero = the hand follows its
// strategy); a null mask marks no hand.
//
// The entries are the members of ArrayOpsKernels, one table per build
// (Kernels<ArrayOpsKernels>() is the one in use). The builds agree exactly
// except in the fused forms (MultiplyAddArrays, the strategy-weighted lanes of
// CombineMaxMasked, AccumulateCardReach), which the AVX2 build rounds once per
// multiply-add.
struct ArrayOpsKernels {
  // a[h] *= f; nothing when a is absent.
  void (*ScaleArray)(NumArray& a, double f);
  // out[h] = a[h] * b[h]; out absent with a's count when a or b is absent.
  void (*MultiplyArrays)(NumArray& out, const NumArray& a, const NumArray& b);
  // out[h] = a[h] * b[h], then out's data is freed (out stays absent with a's
  // count) when the sum of the products is below DBL_MIN; an absent b prunes
  // likewise. An absent a makes out absent with a's count; out must then be
  // absent already, a present out ends the process through Fail.
  void (*MultiplyArraysPruned)(NumArray& out, const NumArray& a, const NumArray& b);
  // a[h] *= b[h] with the pruning rule above (a keeps its count); an absent b
  // makes a absent with b's count, as does an absent a.
  void (*MultiplyInPlacePruned)(NumArray& a, const NumArray& b);
  // out[h] += a[h] * b[h] (fused in the AVX2 build) when a and b are present;
  // nothing otherwise.
  void (*MultiplyAddArrays)(NumArray& out, const NumArray& a, const NumArray& b);
  // out[h] += a[h] when a is present; nothing otherwise.
  void (*AccumulateArray)(NumArray& out, const NumArray& a);
  // out[h] = max(out[h], a[h]), max(out[h], 0) when a is absent (a NaN in out
  // gives way to the other operand). out is made present in every case.
  void (*MaxArrays)(NumArray& out, const NumArray& a);
  // out[h] = a[h] * strategy[h] where the mask is set, a[h] elsewhere. An absent
  // a makes out absent with a's count; an absent strategy counts as zeros.
  void (*CombineFirstMasked)(NumArray& out, const NumArray& a, const NumArray& strategy,
                             const uint8_t* mask);
  // Where the mask is set: out[h] += a[h] * strategy[h]; elsewhere out[h] =
  // max(out[h], a[h]). Absent a or strategy count as zeros, so an absent a gives
  // max(out[h], 0) on the unmasked hands. out is made present in every case.
  void (*CombineMaxMasked)(NumArray& out, const NumArray& a, const NumArray& strategy,
                           const uint8_t* mask);
  // a[h] *= p where a[h] >= 0, a[h] *= n where a[h] < 0 (NaN takes n).
  void (*ScaleSigned)(NumArray& a, double p, double n);
  // a[h] *= p where a[h] > 0.
  void (*ScalePositive)(NumArray& a, double p);

  // The node-value target formula. s(h) = the opponent reach summed over the
  // hands that share no card with hand h; then
  //   values[h]  = node_values[h] / s(h) when s(h) > 0, else 0 (node_values'
  //                count; all zeros when node_values is absent),
  //   weights[h] = s(h) * factor * own_reach[h] (own_reach's count; zeros when
  //                own_reach is absent).
  // hand_masks holds the two cards of each of the opponent_reach.count hands; an
  // absent reach gives s = 0 and the masks are not read. s comes from per-card
  // sums by inclusion-exclusion in O(n + 52), see the source.
  void (*CollectTargetValues)(NumArray& values, NumArray& weights, const NumArray& node_values,
                              const NumArray& opponent_reach, const NumArray& own_reach,
                              const CardMask* hand_masks, double factor);

  // Unless the record is frozen: its reach sums of the player (given zeros of
  // the reach's count when they have no data) += weight * reach (fused in the
  // AVX2 build); nothing is added when the reach is absent.
  void (*AccumulateCardReach)(CardRecord& record, int player, const NumArray& reach,
                              double weight);
};
TDX_KERNEL_TABLES(ArrayOpsKernels)
