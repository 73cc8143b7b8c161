#pragma once

struct SolverState;

// What every query runs first, before it reads a node's stores: the values of
// every store allocated. (A node on a forgotten street also needs its subtree
// brought back: analysis/forgotten_subgames.h.)

// Allocates the values of every store not yet allocated (once per tree: the
// tree's all-stores-ready mark). A store that cannot be allocated stops the
// allocation quietly; the query goes on and reads what exists.
void EnsureStoresAllocated(SolverState& state);
