#pragma once
#include <cstdint>

#include "platform/isa_dispatch.h"

// Showdown values of up to four end nodes of one river board at once: the same
// traverser's hands, strength groups and cards, each column with its own
// opponent reach and payoffs. The card sums are kept as s[card][column], so a
// hand adds to all four columns with one vector add, and every column gets the
// same bits as its own single-node kernel call (ComputeShowdownValues or
// ComputeShowdownAndFold), since per column the same additions run in the same
// order (a column whose reach is not positive adds -0.0, which changes nothing).
struct ShowdownColumn {
  const double* in = nullptr;  // opponent reach; null: an absent column, nothing written
  double* out = nullptr;       // n showdown values
  double v = 1.0;              // payoff applied to the reach before the walk
  double f = 1.0;              // factor applied to each value after it
  // A fold on the same reach, from the same card sums (as ComputeShowdownAndFold).
  double* fold_out = nullptr;
  double fold_v = 0.0;
  // Walk even when the total is at or under the floor (the pair kernel's
  // showdown when its fold's total is above it).
  bool walk_small = false;
  // Only a fold (out null): v * in are the fold's payoffs, summed as the fold
  // half of a pair sums them, and fold_out gets the values of
  // FinishShowdownFoldPair(.., in, n, cards, v, ..) when not zeroed; fold_v
  // is not used. With walk_small set it is never zeroed here: the caller
  // zeroes the pair when both totals are at or under the floor.
  bool fold_only = false;
  // Set by the kernel: the column's total (after v), 0 for an absent column.
  double total = 0.0;
};

// The fold half of a pair (ComputeShowdownAndFoldPair) whose showdown ran as a
// column with walk_small set, for FinishShowdownFoldColumns.
struct FoldPairColumn {
  const double* in = nullptr;      // fold reach; null: an absent column, nothing written
  double* out = nullptr;           // n fold values
  double* showdown_out = nullptr;  // the pair's showdown values (zeroed with out when both
                                   // totals are at or under the floor)
  double v = 0.0;                  // fold payoff
  double showdown_total = 0.0;     // the showdown column's reported total
};
// The kernels are the members of ShowdownColumnsKernels, one table per build
// (Kernels<ShowdownColumnsKernels>() is the one in use).
struct ShowdownColumnsKernels {
  // Columns as ComputeShowdownValues(out, in, n, ..., v) when f is 1 and there
  // is no fold, and as ComputeShowdownAndFold(out, fold_out, in, n, ..., f,
  // fold_v) when v is 1. Other combinations are the same formulas with both
  // factors.
  void (*ComputeShowdownColumns)(ShowdownColumn* columns, int32_t n, const int16_t* groups,
                                 int32_t group_count, const uint16_t* cards);

  // The fold half of ComputeShowdownAndFoldPair once its showdown ran as a
  // column with walk_small set (showdown_total its reported total): fold values
  // of in_b with payoff b into out_b, or, when both totals are at or under the
  // floor, zeros in out_a and out_b. Cards must be in range and n at most
  // kMaxBoardHands (else zeros).
  void (*FinishShowdownFoldPair)(double* out_a, double* out_b, const double* in_b, int32_t n,
                                 const uint16_t* cards, double b, double showdown_total);

  // The fold halves of up to four pairs at once: per present column the same
  // bits as FinishShowdownFoldPair(showdown_out, out, in, n, cards, v,
  // showdown_total), from one four-column collecting scan of the fold reaches.
  void (*FinishShowdownFoldColumns)(const FoldPairColumn* folds, int32_t n,
                                    const uint16_t* cards);
};
TDX_KERNEL_TABLES(ShowdownColumnsKernels)
