#pragma once
#include <string>
#include <vector>

#include "cards/combo_tables.h"

struct SolverState;

// A player's range at a node: the root range times the player's own action
// probabilities (as the strategy display shows them) along the path, from the
// node's parent up to the root. Opponent decisions and chance points multiply
// nothing; the node's own decision lies beyond it. 1326 values in ComboIndex
// order: NaN for a combination off the board of one of the player's decisions
// on the way.
//
// The root range is the tree's own copy when a tree exists (what the tree was
// built and solved with), else the set_range weights. Errors of the path
// (no tree, incorrect path) pass through; an empty path needs no tree.
std::vector<double> ComputeNodeRange(SolverState* state, Player player, const std::string& path);

// The share of the player's root range, over the combinations still possible
// on the path's board, that the player's own actions lead to the node.
double ComputeReachProbability(SolverState* state, Player player, const std::string& path);

// The root range ComputeNodeRange starts from; empty when neither a tree nor
// set_range gave one.
const std::vector<double>& RootRange(const SolverState* state, Player player);
