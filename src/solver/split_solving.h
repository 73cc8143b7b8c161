#pragma once
#include <cstdint>
#include <vector>

#include "solver/node_cursor.h"
#include "solver/subgame_task.h"

struct CardRecord;
struct SolverState;

// Split solving: every subgame that begins at a street (2 turns, 3 rivers)
// solved on its own, outside a solver run, from the reach of both players that
// the first decision node of that street keeps per dealt card in its card
// records (filled by forget and by the tree-file reader, accumulated by the
// deal nodes while solving).

// Walks from the cursor's node with the current strategies (the average
// strategies once the strategy sums are in use), multiplying each player's
// reach by the strategy of its actions and carrying it through the dealt cards,
// and appends one split task per first decision node of `street` per dealt
// board above it: the node, the dealt slots (the split street's own slot not
// dealt) and copies of the arriving reach, in1 = OOP's and in0 = IP's. The
// cursor holds OOP's reach in in1 and IP's in in0. Reads only stores of streets
// before `street`, which must exist. The caller owns the tasks (delete each).
void EvaluateSubtree(NodeCursor* cursor, int32_t street, std::vector<SubgameTask*>& list);

// Deletes every task of the list and empties it.
void DestroySplitTasks(std::vector<SubgameTask*>& list);

// The stored reach of a split's card record for one player, if it fits the
// board before the split's deal (`hands` values): the array, else null.
const NumArray* StoredSplitReach(const CardRecord& record, int player, int32_t hands);

// Re-solves every subgame that begins at `street` from the stored reach, as
// many iterations per subgame as the tree has had (one at least), on the
// calling thread and its OpenMP team, holding g_tree_pass_mutex. The tree's
// iteration count is the same afterwards; no street counts as forgotten. A
// forgotten street at or after `street` has its stores made and allocated
// first, which makes the tree complete again.
// Refusals (CommandRefusal), thrown before anything changes: an
// earlier street forgotten, a street that starts the tree, a street whose card
// records hold no stored reach, and value areas that cannot be allocated.
// Needs a tree and no running solver (the caller checks).
void solve_subgames(int32_t street);
