#pragma once
#include <cstdint>

#include "cards/card.h"

struct SolverState;

// Forgetting and rebuilding later streets. A solved tree gives back the memory
// of its turn or river stores: the results are brought up to date, the reach of
// both players arriving at each first decision node of the forgotten street is
// kept in that node's card records (per turn card on the river), and the stores
// of that street and every later one are deleted. The tree is then incomplete:
// it can be queried (the analysis code re-solves forgotten subgames from the
// kept reach) but not solved further until its streets are rebuilt.

// Forgets `street` (2 or 3) and every later street of the current tree.
// False, with nothing changed, when the values needed to bring the results up
// to date cannot be allocated.
bool ForgetStreets(Street street);

// The same on a given state. The caller has made sure that no street at or
// before `street` is forgotten and that the tree starts before it.
bool ForgetStreetsKernel(SolverState& state, Street street);

// Makes and allocates the stores of every node of the forgotten streets that is
// not materialised, recounts the storage figures over the whole tree, and marks
// the tree complete with no street forgotten. Nothing when no street is
// forgotten. The river blocks are reserved with them (ReserveRiverBlocks).
// False when the values of the stores to make do not fit the memory available
// or, with the blocks' reservations, the address-space limit
// (MemoryRequestFits), or a value area or reservation cannot be had: the
// stores made by this call are deleted again and the tree stays as it was.
bool RebuildStreets();
bool RebuildStreetsOfState(SolverState& state);

// The storage counters and totals as a fresh preparation of the whole tree
// would count them: the values of every river decision node's layout (heap
// stores count nothing before they hold values), totals at 2 bytes per value
// without strategy sums and 6 with them.
void RecountStorage(SolverState& state);
