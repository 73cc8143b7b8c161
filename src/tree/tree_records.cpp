#include "tree/tree_records.h"

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

GameTree::~GameTree() {
  deal_tree.reset();
  std::vector<TreeNode>().swap(nodes);
}
