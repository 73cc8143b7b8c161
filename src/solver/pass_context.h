#pragma once
#include <cstdint>

#include "cards/combo_tables.h"

struct ValueTarget;

// What one whole-tree pass is doing, for every node it walks: built by the
// pass's entry point (TraverseTree, split solving, the evaluation walks) on its
// own stack and reached from each cursor, so that nothing of a pass is written
// into the shared solver state. The kernels read it once per node.

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

struct PassContext {
  Player player = PLAYER_OOP;  // the traverser
  PassMode mode = PASS_EVALUATE;
  // Changed by the entry point between the phases, never during a batch.
  PassPhase phase = PHASE_COLLECT;
  // Node-value passes: the request the walk fills; null otherwise.
  ValueTarget* value_target = nullptr;
};
