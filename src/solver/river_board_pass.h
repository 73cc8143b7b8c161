#pragma once
#include <atomic>

#include "solver/node_cursor.h"

// A solving or evaluation pass over one river board (the cursor's turn and
// river slot, its node the board's first decision), the usual case taken in
// three sweeps:
//  1. down the board's decisions, computing each opponent decision's action
//     reaches (and, solving, growing its strategy sums) and noting every
//     showdown;
//  2. the showdowns, four at a time, by the four-column kernel;
//  3. up again, each decision combining its children's values (the pass
//     player's with its fused regret update when solving, with the per-hand
//     best response when evaluating).
// Per node the work and its arithmetic are those of the recursive walk; only
// the order in which different nodes are worked changes, and no node reads
// another node's rows. Boards outside the usual case (node-value passes, hand
// groups, the uniform start, an own reach, faulty cards) take TraverseNode;
// inside the sweeps a decision that cannot take its way (locked, masked, not a
// 16-bit store when solving, too many actions) takes TraverseNode for its
// subtree.
void TraverseRiverBoard(NodeCursor& cursor);

// Off: every board takes TraverseNode (the tests compare the two ways).
inline std::atomic<bool> g_river_board_sweeps{true};
