#include "commands/preconditions.h"

#include "protocol/command_error.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

void RequireTree() {
  if (!g_tree_present || !g_solver_state) ThrowRefusal("missing/incorrect tree");
}

void RefuseWhileSolverRuns() {
  if (IsSolverRunning()) ThrowRefusal("Can't do that when solver is running");
}
