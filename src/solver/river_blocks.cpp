#include "solver/river_blocks.h"

#include <new>

#include "solver/node_cursor.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "store/block_store.h"
#include "tree/deal_tree.h"

namespace {

BlockStore* SelectedBlockStore(TreeNode& node, bool strategy_sums) {
  NodeStore* store = strategy_sums ? node.strategy_store.get() : node.regret_store.get();
  return store ? store->AsBlockStore() : nullptr;
}

// The first river decision node of the player at or below `node` that has a
// store of the kind, in the walks' order (pre-order, child order): the node
// whose store holds the player's block (street_values.cpp, WalkBelow).
TreeNode* BlockOwner(SolverState& state, TreeNode& node, int32_t player, bool strategy_sums) {
  if (node.kind != DECISION_NODE) return nullptr;
  if (node.street == STREET_RIVER && node.player == player &&
      (strategy_sums ? node.strategy_store : node.regret_store))
    return &node;
  for (int32_t child : node.children)
    if (TreeNode* owner = BlockOwner(state, state.nodes[static_cast<size_t>(child)], player,
                                     strategy_sums))
      return owner;
  return nullptr;
}

// visit(store, turn slot, count) for every block of the tree, with the count
// the opening walk hands to its owner.
template <typename Visit>
void ForEachRiverBlock(SolverState& state, Visit visit) {
  if (!state.deal_tree) return;
  const int32_t slots = static_cast<int32_t>(state.deal_tree->turn_records.size());
  for (TreeNode& root : state.nodes) {
    const bool river_root = root.kind == DECISION_NODE && root.street == STREET_RIVER &&
                            root.parent && root.parent->street != STREET_RIVER;
    if (!river_root) continue;
    for (const bool sums : {false, true}) {
      BlockStore* owners[2];
      for (int32_t p = 0; p < 2; ++p) {
        TreeNode* owner = BlockOwner(state, root, p, sums);
        owners[p] = owner ? SelectedBlockStore(*owner, sums) : nullptr;
      }
      if (!owners[0] && !owners[1]) continue;
      for (int32_t slot = 0; slot < slots; ++slot) {
        uint64_t counts[2] = {0, 0};
        CountSubtreeValues(NodeCursor(&state, nullptr, &root, slot, -1), sums, counts);
        for (int32_t p = 0; p < 2; ++p)
          if (owners[p]) visit(*owners[p], slot, static_cast<int32_t>(counts[p]));
      }
    }
  }
}

}  // namespace

uint64_t RiverBlockNeed(SolverState& state) {
  uint64_t bytes = 0;
  ForEachRiverBlock(state, [&](BlockStore& store, int32_t slot, int32_t count) {
    bytes += static_cast<uint64_t>(store.BlockNeed(slot, count));
  });
  return bytes;
}

bool ReserveRiverBlocks(SolverState& state) {
  try {
    ForEachRiverBlock(state, [](BlockStore& store, int32_t slot, int32_t count) {
      store.PrepareBlock(slot, count);
    });
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
