#include "tree/node_stores.h"

#include <utility>
#include <vector>

#include "store/store_factory.h"
#include "tree/tree_records.h"

void CreateNodeStores(TreeNode& node, const DealTree& deal, const BoardLayout* layout,
                      uint64_t counters[4], bool make_second, Street root_street,
                      const CompressionKinds& kinds, bool format_at_least_5) {
  if (node.kind != DECISION_NODE) return;
  node.regret_store.reset();
  node.strategy_store.reset();
  node.materialised = 0;

  const int32_t actions = static_cast<int32_t>(node.children.size());
  DecisionStores stores =
      MakeDecisionStores(node.street, actions, static_cast<int32_t>(deal.hands.size()),
                         deal.turn_hand_counts, layout, make_second, root_street, kinds,
                         format_at_least_5);
  node.regret_store = std::move(stores.regret);
  node.strategy_store = std::move(stores.strategy);
  // Heap stores have no values yet, so only river stores add to the counters.
  counters[node.street] += static_cast<uint64_t>(node.regret_store->GetValueCount(-1));
}

void CreateNodeStoresOfState(GameTree& tree, TreeNode& node) {
  const size_t actions = node.children.size();
  const BoardLayout* layout =
      actions < tree.board_layouts.size() ? tree.board_layouts[actions].get() : nullptr;
  const CompressionKinds kinds{tree.coder_kinds[0], tree.coder_kinds[1]};
  CreateNodeStores(node, *tree.deal_tree, layout, tree.storage_counters, tree.storage_kind != 0,
                   tree.nodes[0].street, kinds, tree.format_version >= 5);
}

uint64_t NodeAllocationBytes(TreeNode& node) {
  uint64_t bytes = 0;
  if (node.regret_store) bytes += node.regret_store->AllocationBytes();
  if (node.strategy_store) bytes += node.strategy_store->AllocationBytes();
  return bytes;
}

void MaterializeNode(GameTree& tree, TreeNode& node, bool force) {
  if (tree.first_forgotten_street == STREET_NONE) return;
  // Pre-order over the subtree without recursion: lines can be deep.
  std::vector<TreeNode*> pending{&node};
  while (!pending.empty()) {
    TreeNode* current = pending.back();
    pending.pop_back();
    if (current->kind == DECISION_NODE && (!current->materialised || force)) {
      CreateNodeStoresOfState(tree, *current);
      bool ok = current->regret_store->Allocate();
      if (ok && current->strategy_store) ok = current->strategy_store->Allocate();
      if (ok) current->materialised = 1;
    }
    for (size_t c = current->children.size(); c-- > 0;)
      pending.push_back(&tree.nodes[current->children[c]]);
  }
}

void CreateAllNodeStores(GameTree& tree) {
  for (uint64_t& counter : tree.storage_counters) counter = 0;
  const int32_t forgotten = tree.first_forgotten_street;
  for (TreeNode& node : tree.nodes)
    if (forgotten == STREET_NONE || node.street < forgotten) CreateNodeStoresOfState(tree, node);
  tree.stores_allocated = 0;
  const uint64_t bytes_per_value = tree.storage_kind == 0 ? 2 : 6;
  for (int s = 0; s < 4; ++s) tree.storage_totals[s] = tree.storage_counters[s] * bytes_per_value;
}
