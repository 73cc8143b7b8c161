#include "tree/tree_edits.h"

#include "tree/tree_records.h"

void SetEvBoost(int32_t node_index, float value) {
  SolverState* state = g_solver_state;
  if (!state || node_index < 0 || static_cast<size_t>(node_index) >= state->nodes.size()) return;
  state->nodes[static_cast<size_t>(node_index)].ev_boost = value;
}
