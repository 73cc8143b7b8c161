#pragma once
#include <cstdint>

#include "cards/combo_tables.h"

struct NumArray;
struct SolverState;
struct TreeNode;
struct ValueTarget;

// Per-combination EVs at a node: one targeted pass (mode PASS_NODE_VALUE) over
// the subtree below the node for one player, from both players' reach at the
// node, which one walk down the node's line gives. The line above the node
// costs that walk, not a pass.

// The EV of each of the player's combinations at the node on the board of the
// given real cards (-1 = not dealt), in the engine's value units (the caller
// adds half the pot), and the combination's weight there: the number of
// runouts still to come x its own reach x the opponent reach it can meet.
// 1326 values each, ComboIndex order, real suits; the quiet NaN for a
// combination off the board or outside the player's build-time range. A node
// nobody reaches has EVs and weights 0 on the board's other combinations.
// First brings the state's results (EV and MES of both players) up to date, as
// calc_results would. Without a tree (null) nothing is written.
void ComputeComboEvs(SolverState* state, Player player, int32_t node_index, int32_t turn_card,
                     int32_t river_card, double* evs, double* weights);

// The targeted pass itself: fills the target's values and weights for the
// player. The caller holds g_tree_pass_mutex and has re-solved a forgotten
// street below the target.
void CollectSubtreeEvs(SolverState& state, Player player, ValueTarget& target);

// Both players' reach at the node on the board of the slots (-1 = not dealt):
// the starting reach walked down the node's line. The caller holds
// g_tree_pass_mutex (and the node's river values open). reach[p] stays as it
// was when the line does not arrive on that board.
void ReachAtNode(SolverState& state, const TreeNode& node, int32_t turn_slot, int32_t river_slot,
                 NumArray reach[2]);
