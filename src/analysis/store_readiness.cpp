#include "analysis/store_readiness.h"

#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "tree/tree_records.h"

void EnsureStoresAllocated(SolverState& state) {
  if (state.stores_allocated) return;
  // A failure leaves the mark clear, so the next query tries again.
  AllocateStoreValues(state);
}

Street ForgottenStreet(const SolverState& state) {
  return (state.flags & INCOMPLETE_TREE) ? state.first_forgotten_street : STREET_NONE;
}

TreeNode& ForgottenStreetRoot(SolverState& state, TreeNode& node) {
  TreeNode* root = &node;
  while (root->parent && root->parent->street >= state.first_forgotten_street)
    root = root->parent;
  return *root;
}

void RebuildForgottenSubtree(SolverState& state, TreeNode& node, const DealtBoard& board) {
  const Street forgotten = ForgottenStreet(state);
  if (forgotten == STREET_NONE || node.street < forgotten) return;
  if (node.street >= STREET_RIVER && board.river_slot < 0) return;
  if (node.street >= STREET_TURN && board.turn_slot < 0) return;
  TreeNode& root = ForgottenStreetRoot(state, node);
  // A subtree whose values cannot all be had is not solved: the query reads
  // what exists.
  if (!PrepareForgottenSubtree(state, root)) return;
  ResolveForgottenSubgame(state, root, board.turn_slot, board.river_slot, false);
}
