#pragma once
#include <cstdint>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "store/num_array.h"

struct CardRecord;
struct SolverState;

// Split solving: every subgame that begins at a street (2 turns, 3 rivers)
// solved on its own, outside a solver run, from the reach of both players that
// the first decision node of that street keeps per dealt card in its card
// records (filled by forget and by the tree-file reader, accumulated by the
// deal nodes while solving).

// The stored reach of a split's card record for one player, if it fits the
// board before the split's deal (`hands` values): the array, else null.
const NumArray* StoredSplitReach(const CardRecord& record, Player player, int32_t hands);

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
void solve_subgames(Street street);
