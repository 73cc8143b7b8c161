#include "tree/tree_records.h"

GameTree::~GameTree() {
  deal_tree.reset();
  std::vector<TreeNode>().swap(nodes);
}
