#include "tree/tree_queries.h"

#include <vector>

#include "tree/deal_tree.h"
#include "tree/node_path.h"
#include "tree/tree_records.h"

namespace {

// Boards a node at an absolute street is played on in a tree dealt from the
// flop; streets past the river (lines beyond it) count nothing.
int64_t BoardMultiplicity(Street street) {
  static constexpr int64_t kBoards[4] = {0, 1, 49, 49 * 48};
  return street >= STREET_FLOP && street <= STREET_RIVER ? kBoards[street] : 0;
}

void AppendWord(std::string& text, const char* word) {
  if (!text.empty()) text += ' ';
  text += word;
}

}  // namespace

std::string GetTreeFlagsText(const GameTree* tree) {
  std::string text;
  if (!tree) return text;
  const uint32_t flags = tree->flags;
  if (flags & INCOMPLETE_TREE) AppendWord(text, "INCOMPLETE_TREE");
  if (flags & ISOMORPHISM_ON) AppendWord(text, "ISOMORPHISM_ON");
  if (flags & NEW_TREE) AppendWord(text, "NEW_TREE");
  return text;
}

std::string GetNodeFlagsText(const GameTree* tree, int32_t node_index, int32_t turn_card,
                             int32_t river_card) {
  std::string text;
  if (!tree || node_index < 0 || static_cast<size_t>(node_index) >= tree->nodes.size())
    return text;
  const TreeNode& node = tree->nodes[node_index];
  if (!node.regret_store) return text;
  int turn_slot = kNoSlot;
  int river_slot = kNoSlot;
  CanonicalizeCombo(*tree, turn_card, river_card, turn_slot, river_slot);
  // A store knows the boards of its own street only; asking it for another
  // board (cards that do not fit the node) would read outside its records.
  if (node.street < STREET_TURN) turn_slot = kNoSlot;
  if (node.street < STREET_RIVER) river_slot = kNoSlot;
  if ((node.street >= STREET_TURN && turn_slot < 0) ||
      (node.street >= STREET_RIVER && river_slot < 0))
    return text;
  const NodeLockRecord* record = node.regret_store->GetLockRecord(turn_slot, river_slot);
  if (!record) return text;
  if (record->flags & LOCKED) AppendWord(text, "LOCKED");
  if (record->flags & COMBO_LOCKED) AppendWord(text, "COMBO_LOCKED");
  return text;
}

void CountNodes(const SchematicNode* node, NodeCounts& counts) {
  // Lines can be hundreds of thousands of nodes deep: an explicit stack, not
  // recursion.
  std::vector<const SchematicNode*> stack{node};
  while (!stack.empty()) {
    const SchematicNode* current = stack.back();
    stack.pop_back();
    if (current->children.empty()) continue;
    const Street street = AbsoluteStreet(current);
    const int64_t boards = BoardMultiplicity(street);
    const Player player = current->player;
    const int street_index = street >= STREET_FLOP && street <= STREET_RIVER ? street : 0;
    counts.decisions[player] += boards;
    counts.decision_streets[player][street_index] += boards;
    counts.total += boards;
    for (const auto& [key, child] : current->children) {
      if (child->street > current->street) {
        counts.split_streets[street_index] += boards;
        counts.split_total += boards;
        counts.total += boards;
      }
      if (child->children.empty()) {
        counts.end_streets[street_index] += boards;
        counts.end_total += boards;
        counts.total += boards;
      }
      stack.push_back(child.get());
    }
  }
}
