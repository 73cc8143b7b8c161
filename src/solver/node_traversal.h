#pragma once
#include <cstdint>

#include "solver/node_cursor.h"
#include "store/num_array.h"

struct TreeNode;

// The recursive walk of a pass over the game tree for the cursor's pass: its
// player, mode and phase (solver/pass_context.h). At each node the
// cursor's first input holds the opponent's reach per hand of the cursor's
// board; the kernels fill the first output with the traverser's values per
// hand and, in evaluation passes, the second output with its best-response
// values. A second input (the traverser's own reach) is handed down where the
// caller gave one.

// The one recursive entry: dispatches on the node (turn deal, river deal, end
// node, the traverser's decision, the opponent's decision), then, in a
// node-value pass outside the collect phase, fills the pass's node-value
// target when the walk finishes the target node on its board.
void TraverseNode(NodeCursor& cursor);

// A decision of the pass player: node value = sum over actions of strategy x
// action value; best response = the per-hand maximum (the strategy for a locked
// board or a hand under a combination lock); regret update in solving passes.
void TraverseOwnDecision(NodeCursor& cursor);

// A decision of the opponent: its strategy scales the reach handed to each
// child (pruning actions whose reach vanishes); strategy sums grow in solving
// passes; the node value is the plain sum of the children's values.
void TraverseOpponentDecision(NodeCursor& cursor);

// Pieces of the decision walks for the river-board pass (solver/river_board_pass.h),
// for solving and evaluation passes.
struct SolverState;
// The payoffs of a river decision's last two children when they are a showdown
// and a fold (the pair valued at the decision); false otherwise.
bool RiverEndPairValues(const SolverState& state, const PassContext& pass, const TreeNode& node,
                        double* showdown_value, double* fold_value);
// Solving passes only: the user's EV boost of a child on its values, widened
// from float.
void ApplyEvBoost(NumArray& values, const TreeNode& node, const TreeNode& child);
// True when the pass player's decision at the cursor can be finished after
// its children (update phase, not locked, no combination mask, no own reach,
// at most kMaxFusedActions actions): with the board's rows where they are
// 16-bit arena rows (the fused way), else with null rows (the general way).
bool OwnDecisionFusedRows(const NodeCursor& cursor, uint16_t** rows, int32_t* hands);
// The rest of that decision once the action values are in (EV boost applied;
// first_count the first one's count): node value into out0 and the regret
// update. The cursor's in0 is the reach the decision was reached with.
void FinishFusedOwnDecision(NodeCursor& cursor, uint16_t* const* rows, int32_t hands,
                            NumArray* action_values, int32_t first_count);
// Evaluation passes: true when the pass player's decision at the cursor is
// neither locked nor under a combination mask on its board and has no own
// reach, so that its best response is the plain per-hand maximum.
bool OwnDecisionEvaluable(const NodeCursor& cursor);
// The rest of such a decision once its children's values and best-response
// values are in (first_count the first action's count): node value into out0,
// best response into out1. The cursor's in0 is the reach it was reached with.
void FinishEvaluatedOwnDecision(NodeCursor& cursor, NumArray* action_values, NumArray* best,
                                int32_t first_count);
// The opponent's decision at the cursor with at most kMaxFusedActions actions:
// each action's reach into strategy[] and, in solving passes, the strategy
// sums grown.
void OpponentDecisionReaches(const NodeCursor& cursor, NumArray* strategy);
