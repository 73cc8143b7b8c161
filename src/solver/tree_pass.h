#pragma once
#include <cstdint>
#include <mutex>

struct SolverState;

// Held by a whole-tree pass from start to end, and by whatever else changes or
// reads what passes use (the iteration count, the showdown tables, split
// solving); code outside a pass takes it for river nodes whose line has no
// per-turn-slot mutexes (StreetValuesGuard).
extern std::mutex g_tree_pass_mutex;

// Pass modes: what the kernels compute and update.
enum PassMode : int32_t {
  PASS_EVALUATE = 0,    // values of the strategies and best-response values
  PASS_SOLVE = 1,       // regret and strategy-sum updates
  PASS_NODE_VALUE = 2,  // values collected for the node-value target
};

// Pass phases of the walk.
enum PassPhase : uint32_t {
  PHASE_COLLECT = 0,  // walk to the deal nodes, which record subgame tasks
  PHASE_RUN = 1,      // run the tasks in parallel
  PHASE_COMBINE = 2,  // walk again, deal nodes take their tasks' results back
};

// One whole-tree pass for `player` in `mode`, holding g_tree_pass_mutex for its
// whole length. Returns the traverser's values summed over the root hands with
// its normalised root weights: out[0] = value when both players play the
// solver's strategies (EV), out[1] = best-response value (MES; evaluation
// passes only, else 0). A pass that runs out of memory gives up and throws
// std::bad_alloc, its task list cleared.
double* TraverseTree(SolverState* state, double out[2], int32_t player, int32_t mode);

// Runs every task of the current pass's batch once, in parallel, on the
// scheduler of g_scheduler; returns when all have finished. Throws
// std::bad_alloc, once all have finished, when a task ran out of memory.
void TraverseSubgames();
