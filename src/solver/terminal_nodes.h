#pragma once
#include "solver/node_cursor.h"
#include "store/num_array.h"

struct RiverDealRecord;

// End nodes of the tree walk (folds and showdowns): per hand of the traverser
// on the cursor's board, the value of the hand against the opponent's reach,
// with card removal.

// Fills the cursor's first output for its end node; in mode 0 (best response)
// the second output becomes a copy of it. The payoff is the node's value, or
// its negation for a fold by the pass player. The cursor's inputs are kept.
void TraverseTerminal(NodeCursor& cursor);

// Fold and showdown values on one river board. An input without data gives an
// output without data of the board's hand count. On a board that works per hand
// group, in holds one reach per group: with grouped set (solving passes) out
// gets one mean value per group; otherwise out is per hand, from the group
// reach spread evenly over the group's hands. While g_current_iteration is
// below zero the per-hand and per-group forms use the uniform variants.
void EvaluateFold(const RiverDealRecord& rec, NumArray& out, const NumArray& in, double v,
                  bool grouped);
void EvaluateShowdown(const RiverDealRecord& rec, NumArray& out, const NumArray& in, double v,
                      bool grouped);

// The last two children of a river decision, a showdown (payoff value_a) and a
// fold (payoff value_b), in one walk over the board: out_a and out_b get the
// board's hand count, or both stay without data when the reach (both reaches)
// has none. A board that works per hand group is evaluated per group, as the
// two end nodes would be in a solving pass.
void EvaluateRiverEndPair(const RiverDealRecord& rec, NumArray& out_a, NumArray& out_b,
                          const NumArray& reach, double value_a, double value_b);
// The same with a separate reach for each child.
void EvaluateRiverEndPairWithReaches(const RiverDealRecord& rec, NumArray& out_a,
                                     NumArray& out_b, const NumArray& reach_a,
                                     const NumArray& reach_b, double value_a, double value_b);
