#pragma once
#include "solver/node_cursor.h"

// Deal nodes: a cursor whose node is on the turn (river) street while its turn
// (river) slot is not dealt yet stands where that card is dealt. The subtree
// below each dealt card is the same node with the slot set. The kernels turn
// the cursor into one subgame per dealt card (tasks of the pass's batch; below
// the turn of a flop-rooted tree the river cards are walked in line inside the
// turn's task), average the per-card results over the cards that can come
// (1/45 on the turn, 1/44 on the river, for every hand pair), and keep per-card
// values and reach in the node's card records.

// Called by TraverseNode for a cursor on a node of street 2 or later whose turn
// slot is -1.
void TraverseTurnDeal(NodeCursor& cursor);
// Called by TraverseNode for a cursor on a node of street 3 whose turn slot is
// dealt and river slot is -1.
void TraverseRiverDeal(NodeCursor& cursor);
