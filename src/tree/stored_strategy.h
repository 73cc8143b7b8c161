#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "store/num_array.h"
#include "tree/tree_records.h"

class NodeStore;
struct NodeLockRecord;

// Reading a decision node's strategies out of its stores: for the passes, and
// for every query, tree file and walk that shows or follows a strategy.

inline int32_t ChildCount(const TreeNode& node) {
  return static_cast<int32_t>(node.children.size());
}

// A decision node's regret store; a node without one ends the process.
NodeStore& RegretStore(const TreeNode& node);

// 1/n for each of n actions, n from 1 to the fused kernels' largest count:
// a row made once, as those kernels ask for it at every node of every board.
const float* UniformDefaultRow(int32_t n);

// Per-action default strategy handed to a store; lives on the stack for the
// usual action counts.
class ActionDefaults {
 public:
  explicit ActionDefaults(int32_t n) {
    if (n > kInline) heap_.reset(new float[static_cast<size_t>(n)]);
  }
  float* data() { return heap_ ? heap_.get() : inline_; }

 private:
  static constexpr int32_t kInline = 16;
  float inline_[kInline];
  std::unique_ptr<float[]> heap_;
};

// The 16-bit regret rows of a river board, one per action, where the store
// keeps them as plain rows: an arena store, or a block store's open turn slot.
bool RegretRows16(NodeStore& store, int32_t actions, int32_t i, int32_t j, uint16_t** rows,
                  int32_t* hands, const NodeLockRecord** lock);

// The node's average strategy on board (turn_slot, river_slot): the normalised
// strategy sums, and for a hand whose sums are all zero the current strategy
// (uniform where the regrets are all zero).
void GetAverageStrategy(const TreeNode& node, std::vector<NumArray>& out, int32_t turn_slot,
                        int32_t river_slot);
