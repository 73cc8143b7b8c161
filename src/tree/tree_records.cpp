#include "tree/tree_records.h"

SolverState* g_solver_state = nullptr;

void DestroyTreeNode(TreeNode& node) {
  if (node.owns_data) {
    node.regret_store.reset();
    node.strategy_store.reset();
    node.turn_mutexes.reset();
    node.card_records.reset();
  } else {
    // Borrowed from whoever made them: drop the pointers, free nothing.
    (void)node.regret_store.release();
    (void)node.strategy_store.release();
    (void)node.turn_mutexes.release();
    (void)node.card_records.release();
  }
  std::vector<int32_t>().swap(node.children);
}

TreeNode::~TreeNode() { DestroyTreeNode(*this); }

void DeleteNumArrayPair(NumArrayPair* pair) { delete pair; }
void DeleteNumArray(NumArray* array) { delete array; }
void DeleteNumArrayQuad(NumArrayQuad* quad) { delete quad; }

SolverState::SolverState(int32_t storage_kind_arg, int32_t deal_flag_arg)
    : storage_kind(storage_kind_arg), deal_flag(deal_flag_arg) {
  result_cache.max_load_factor(1.0f);
  result_cache.rehash(8);
}

SolverState::~SolverState() {
  deal_tree.reset();
  for (auto& entry : result_cache) DeleteNumArrayPair(entry.second);
  std::unordered_map<uint64_t, NumArrayPair*>().swap(result_cache);
  for (int p = 0; p < 2; ++p) std::vector<double>().swap(ranges[p]);
  for (int p = 0; p < 2; ++p) std::vector<double>().swap(normalised_root_weights[p]);
  for (int p = 0; p < 2; ++p) std::vector<double>().swap(root_hand_weights[p]);
  for (TreeNode& node : nodes) DestroyTreeNode(node);
  std::vector<TreeNode>().swap(nodes);
  // The river stores point at the layouts, so the layouts go after the nodes.
  std::vector<std::unique_ptr<BoardLayout>>().swap(board_layouts);
}

void DestroySolverState(SolverState* state) { delete state; }

void FreeSolverState() {
  if (!g_solver_state) return;
  DestroySolverState(g_solver_state);
  g_solver_state = nullptr;
}
