#include "tree/tree_edits.h"

#include "tree/tree_records.h"

void SetEvBoost(GameTree* tree, int32_t node_index, float value) {
  if (!tree || node_index < 0 || static_cast<size_t>(node_index) >= tree->nodes.size()) return;
  tree->nodes[static_cast<size_t>(node_index)].ev_boost = value;
}
