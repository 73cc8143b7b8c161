#pragma once
#include <cstdint>
#include <mutex>

#include "solver/pass_context.h"

struct SolverState;

// Held by a whole-tree pass from start to end, and by whatever else changes or
// reads what passes use (the iteration count, the showdown tables, split
// solving); code outside a pass takes it for river nodes whose line has no
// per-turn-slot mutexes (StreetValuesGuard).
extern std::mutex g_tree_pass_mutex;

// One whole-tree pass for `player` in `mode`, holding g_tree_pass_mutex for its
// whole length. Returns the traverser's values summed over the root hands with
// its normalised root weights: out[0] = value when both players play the
// solver's strategies (EV), out[1] = best-response value (MES; evaluation
// passes only, else 0). A pass that runs out of memory gives up and throws
// std::bad_alloc, its task list cleared.
double* TraverseTree(SolverState* state, double out[2], Player player, PassMode mode);

// Runs every task of the current pass's batch once, in parallel, on the
// scheduler of g_scheduler; returns when all have finished. Throws
// std::bad_alloc, once all have finished, when a task ran out of memory.
void TraverseSubgames();
