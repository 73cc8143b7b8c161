#include "analysis/store_readiness.h"

#include "analysis/dealt_board.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "tree/tree_records.h"

void EnsureStoresAllocated(SolverState& state) {
  if (state.stores_allocated) return;
  // A failure leaves the mark clear, so the next query tries again.
  AllocateStoreValues(state);
}

TreeNode& ForgottenStreetRoot(SolverState& state, TreeNode& node) {
  TreeNode* root = &node;
  while (root->parent && root->parent->street >= state.first_forgotten_street)
    root = root->parent;
  return *root;
}

void RebuildForgottenSubtree(SolverState& state, TreeNode& node, const DealtBoard& board) {
  const Street forgotten = state.first_forgotten_street;
  if (forgotten == STREET_NONE || node.street < forgotten) return;
  if (node.street >= STREET_RIVER && board.river_slot < 0) return;
  if (node.street >= STREET_TURN && board.turn_slot < 0) return;
  // Re-solving a forgotten subtree comes with the re-solve kernel.
}
