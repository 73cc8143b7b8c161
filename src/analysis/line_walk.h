#pragma once
#include <cstdint>
#include <vector>

#include "store/num_array.h"

struct NodeCursor;
struct TreeNode;

// The walk of both players' reach from the root of the tree down one line to
// a target node: each player's reach multiplied by the strategy of the
// actions taken on the line, and carried through the cards the line deals
// into the hands of the target's board.
//
// The cursor starts at the root with the starting board's slots, OOP's reach
// in in1 and IP's in in0 (one value per hand of the starting board). path
// holds, for each decision node on the line, the index of the child taken,
// the child nearest the root last; the walk consumes it. The target's slots
// are those with which the line arrives there. On return reach[PLAYER_OOP]
// and reach[PLAYER_IP] hold the reach at the target, one value per hand of its
// board; a line that ends at an end node before the target leaves them as
// they were.
//
// Strategies are read as the passes read them: the average strategy once the
// strategy sums are in use, else the current one. The caller holds
// g_tree_pass_mutex (and the river values open where a line reaches the river
// of block-compressed stores); the walk keeps no state of its own, so several
// may run at once.
void WalkSubtree(NodeCursor& cursor, const TreeNode& target, int32_t target_turn_slot,
                 int32_t target_river_slot, std::vector<int32_t>& path, NumArray reach[2]);
