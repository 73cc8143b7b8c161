#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "cards/card.h"
#include "solver/node_cursor.h"
#include "solver/subgame_task.h"

// The walk down to the splits of a street (2 turns, 3 rivers): the reach of
// both players arriving at each first decision node of that street on each
// dealt board above it. Forgetting keeps that reach in the card records;
// split solving starts its subgames from what they keep.

// The split tasks of a walk, owned by the list.
using SplitTaskList = std::vector<std::unique_ptr<SubgameTask>>;

// Walks from the cursor's node with the current strategies (the average
// strategies once the strategy sums are in use), multiplying each player's
// reach by the strategy of its actions and carrying it through the dealt cards,
// and appends one split task per first decision node of `street` per dealt
// board above it: the node, the dealt slots (the split street's own slot not
// dealt) and copies of the arriving reach, in1 = OOP's and in0 = IP's. The
// cursor holds OOP's reach in in1 and IP's in in0. Reads only stores of streets
// before `street`, which must exist.
void EvaluateSubtree(NodeCursor* cursor, Street street, SplitTaskList& list);

// The same from the tree's root, with both players' root weights as their
// reach.
void EvaluateFromRoot(SolverState& state, Street street, SplitTaskList& list);
