#include "analysis/query_lock.h"

#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "tree/tree_records.h"

bool GuardTakesPassLock(const TreeNode& node) {
  if (node.street != STREET_RIVER) return false;
  // The rule of the guard: the first node of the turn of the line keeps one
  // mutex per turn slot; lines without one share the pass mutex.
  const TreeNode* top = &node;
  while (top->parent && top->parent->street >= STREET_TURN) top = top->parent;
  return !top->turn_mutexes;
}

NodeValuesAccess::NodeValuesAccess(SolverState& state, TreeNode& node, int32_t turn_slot,
                                   StreetAccess access) {
  if (!GuardTakesPassLock(node)) pass_lock_ = std::unique_lock<std::mutex>(g_tree_pass_mutex);
  guard_.emplace(state, node, turn_slot, access);
}
