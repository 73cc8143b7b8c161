#pragma once
#include <cstdint>

struct SolverState;

// The coded blocks of a flop-rooted tree's river stores, reserved before the
// passes need them. Each river subtree holds, per turn slot, player and store
// kind, one block in the store of that player's first river node (the walks'
// order); a block reserves the address space of its largest write (no memory
// until written). Taking all of it where the tree's values are allocated
// makes the memory check exact under an address-space limit: the passes then
// have nothing to reserve, and a tree that cannot have it is refused whole.

// The address space that reserving every river block still takes.
uint64_t RiverBlockNeed(SolverState& state);

// Reserves every river block; false when some address space cannot be had
// (the blocks reserved before stay: they hold nothing and are used as they
// are).
bool ReserveRiverBlocks(SolverState& state);
