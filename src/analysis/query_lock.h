#pragma once
#include <cstdint>
#include <mutex>
#include <optional>

#include "solver/street_values.h"

struct SolverState;
struct TreeNode;

// What a query holds while it reads or writes a node's stores outside a pass:
// the lock a solver pass holds for its whole length, so that no query meets
// values a running pass is writing, and the node's river values opened through
// StreetValuesGuard. The pass lock is taken first and only once: where the
// guard itself falls back to it (lines without per-turn-slot mutexes), the
// guard's lock is the one held.
class NodeValuesAccess {
 public:
  NodeValuesAccess(SolverState& state, TreeNode& node, int32_t turn_slot, StreetAccess access);
  NodeValuesAccess(const NodeValuesAccess&) = delete;
  NodeValuesAccess& operator=(const NodeValuesAccess&) = delete;

  // Closes the river values now, so that an error of the close reaches the
  // caller; the locks go with the object.
  void Close() { guard_->Close(); }

 private:
  std::unique_lock<std::mutex> pass_lock_;
  std::optional<StreetValuesGuard> guard_;
};

// True when StreetValuesGuard locks the pass mutex itself for this node.
bool GuardTakesPassLock(const TreeNode& node);
