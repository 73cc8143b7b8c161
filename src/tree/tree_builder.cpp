#include "tree/tree_builder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"
#include "tree/deal_tree.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"

Street g_start_street = STREET_FLOP;
int32_t g_effective_stack = 0;
uint8_t g_tree_present = 0;
uint8_t g_tree_without_values = 0;

namespace {

constexpr double kRangeTolerance = 2.220446049250313e-16;

// Whether some pair of hands that share no card both have weight: without one
// nothing can be dealt, and every normalised weight is 0.
bool HasPossibleDeal(const GameTree& tree) {
  for (int p = 0; p < 2; ++p)
    if (std::none_of(tree.normalised_root_weights[p].begin(),
                     tree.normalised_root_weights[p].end(), [](double w) { return w > 0.0; }))
      return false;
  return true;
}

}  // namespace

bool FlattenLines(std::vector<LineEntry>& entries, std::vector<SchematicNode*>& nodes,
                  SchematicNode* node, int32_t parent, double key, Street start_street,
                  double pot) {
  struct Pending {
    SchematicNode* node;
    int32_t parent;
    double key;
    int32_t depth;
  };
  const int32_t first_depth = parent < 0 ? 0 : 1;
  std::vector<Pending> pending{{node, parent, key, first_depth}};
  // Children of each node are pushed last-first so they come off in child order.
  std::vector<Pending> children;
  while (!pending.empty()) {
    const Pending current = pending.back();
    pending.pop_back();
    if (current.depth > kMaxLineActions) return false;
    SchematicNode* n = current.node;
    LineEntry entry;
    entry.parent = current.parent;
    if (!n->children.empty()) {
      entry.kind = DECISION_NODE;
      entry.player = n->player;
      entry.street = static_cast<Street>(start_street + static_cast<int32_t>(n->street));
    } else {
      entry.kind = current.key >= 0.0 ? SHOWDOWN_NODE : FOLD_NODE;
      entry.value = LineEndValue(pot, n->amount);
    }
    const int32_t index = static_cast<int32_t>(entries.size());
    entries.push_back(entry);
    nodes.push_back(n);
    children.clear();
    for (const auto& [child_key, child] : n->children)
      children.push_back({child.get(), index, child_key, current.depth + 1});
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  return true;
}

// Also on a tree that starts later, with that street's switch: its dealing
// merges the suits off the board just as the flop's does, and a range that
// tells them apart would be solved wrongly. Dealing merges suits only below a
// board of one or two suits (two or more suits off it), so on a later street
// any range is fine when the board shows three suits or four.
void CheckRangeConsistency(Street start_street, CardMask board, bool isomorphism) {
  if (start_street < STREET_FLOP || start_street > STREET_RIVER || !isomorphism) return;
  if (start_street > STREET_FLOP && SuitCount(board) >= 3) return;
  static const char* const kPlayerNames[2] = {"OOP", "IP"};
  for (int p = 0; p < 2; ++p) {
    const std::vector<double>& range = g_ranges[p];
    for (int c = 0; c < kHandClassCount; ++c) {
      int reference = -1;
      for (uint16_t combo : g_hand_class_combos[c]) {
        const CardMask cards = g_combo_card_masks[g_hand_order_by_combo[combo]];
        if (cards & board) continue;
        if (reference < 0) {
          reference = combo;
          continue;
        }
        if (std::fabs(range[combo] - range[reference]) > kRangeTolerance) {
          const CardMask reference_cards = g_combo_card_masks[g_hand_order_by_combo[reference]];
          char reason[200];
          std::snprintf(reason, sizeof reason,
                        "inconsistent range: %s P(%s) == %.2g, P(%s) == %.2g, use "
                        "'set_isomorphism 0 0' if intended",
                        kPlayerNames[p], CardMaskToText(reference_cards).c_str(), range[reference],
                        CardMaskToText(cards).c_str(), range[combo]);
          ThrowRefusal(reason);
        }
      }
    }
  }
}

void BuildActionNodes(GameTree& tree, const LineEntry* entries, size_t count) {
  std::vector<TreeNode>& nodes = tree.nodes;
  nodes.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const LineEntry& entry = entries[i];
    TreeNode& node = nodes.emplace_back();
    node.kind = static_cast<int32_t>(entry.kind);
    node.parent_index = entry.parent;
    node.player = entry.player;
    node.street = entry.street;
    node.value = entry.value;
    if (entry.kind != DECISION_NODE) {
      const LineEntry* parent = entry.parent >= 0 ? &entries[entry.parent] : nullptr;
      node.player = parent ? parent->player : PLAYER_OOP;
      node.street = entry.kind == FOLD_NODE && parent ? parent->street : STREET_RIVER;
    }
  }

  tree.max_terminal_value = 0.0;
  for (size_t i = 0; i < count; ++i) {
    TreeNode& node = nodes[i];
    if (node.parent_index < 0) continue;
    TreeNode& parent = nodes[node.parent_index];
    parent.children.push_back(static_cast<int32_t>(i));
    node.parent = &parent;
    if (node.kind != DECISION_NODE)
      tree.max_terminal_value = std::max(tree.max_terminal_value, std::fabs(node.value));
  }

  int32_t max_actions = 0;
  uint64_t decisions = 0, actions = 0;
  for (TreeNode& node : nodes) {
    const bool street_start = !node.parent || node.parent->street < node.street;
    if (node.street == STREET_TURN && street_start) {
      node.turn_mutexes = std::make_unique<std::mutex[]>(kTurnMutexCount);
      if (node.kind == DECISION_NODE) node.card_records = std::make_unique<CardRecord[]>(1);
    } else if (node.street == STREET_RIVER && node.kind == DECISION_NODE && street_start) {
      node.card_records = std::make_unique<CardRecord[]>(kRiverCardRecordCount);
    }
    if (!node.children.empty()) {
      ++decisions;
      actions += node.children.size();
      max_actions = std::max(max_actions, static_cast<int32_t>(node.children.size()));
    }
  }
  tree.max_actions = max_actions;
  tree.average_actions =
      decisions ? static_cast<double>(actions) / static_cast<double>(decisions) : 0.0;
  PrintReply("#actions max %d avg %.2g\n", tree.max_actions, tree.average_actions);
}

void BuildGameTree(GameTree& tree, const LineEntry* entries, size_t count, int flop0,
                   int flop1, int flop2, int turn, int river,
                   const std::vector<double>& oop_range, const std::vector<double>& ip_range,
                   bool isomorphism) {
  BuildActionNodes(tree, entries, count);
  const CardMask flop = CardBit(flop0) | CardBit(flop1) | CardBit(flop2);
  BuildChanceLevels(tree, flop, turn, river, oop_range, ip_range, isomorphism);
  if (!HasPossibleDeal(tree)) ThrowRefusal("ranges leave no hands to deal");
}

TreeLines ReadTreeLines(const uint8_t isomorphism_by_street[4]) {
  TreeLines lines;
  const Street start_street = g_board_river && g_board_turn     ? STREET_RIVER
                              : (g_board_river || g_board_turn) ? STREET_TURN
                                                                : STREET_FLOP;
  lines.start_street = start_street;
  double stack = 0.0;
  for (const auto& [key, child] : g_schematic_root->children)
    stack = std::max(stack, FindMaxLineAmount(child.get(), key));
  lines.effective_stack = static_cast<int32_t>(std::trunc(std::min(stack, double{INT_MAX})));

  if (g_ranges[PLAYER_OOP].size() != kComboCount || g_ranges[PLAYER_IP].size() != kComboCount)
    ThrowRefusal("ranges not set");
  if (CardCount(g_board_flop) != 3) ThrowRefusal("board not set");
  const CardMask board = g_board_flop | (start_street >= STREET_TURN ? g_board_turn : 0) |
                         (start_street >= STREET_RIVER ? g_board_river : 0);
  lines.isomorphism = isomorphism_by_street[start_street] != 0;
  CheckRangeConsistency(start_street, board, lines.isomorphism);

  // A root without lines has nothing to decide (cut_line can leave one).
  if (g_schematic_root->children.empty()) ThrowRefusal("lines not set");
  const double pot = g_pot[2];
  if (!FlattenLines(lines.entries, lines.line_nodes, g_schematic_root, -1, 0.0, start_street, pot))
    ThrowRefusal("invalid line");
  for (const LineEntry& entry : lines.entries)
    if (entry.kind == DECISION_NODE && entry.street > STREET_RIVER) ThrowRefusal("invalid line");
  // Every end value 0 would make the payoff scale infinite.
  if (std::none_of(lines.entries.begin(), lines.entries.end(),
                   [](const LineEntry& e) { return e.kind != DECISION_NODE && e.value != 0.0; }))
    ThrowRefusal("all end values are 0");

  // The flop cards in ascending order; turn and river where the tree needs them.
  CardMask rest = g_board_flop;
  for (int& card : lines.flop_cards) {
    card = LowestCard(rest);
    rest &= rest - 1;
  }
  lines.turn_card = start_street >= STREET_TURN ? LowestCard(g_board_turn) : -1;
  lines.river_card = start_street == STREET_RIVER ? LowestCard(g_board_river) : -1;
  return lines;
}

void CommitTreeLines(const TreeLines& lines) {
  g_start_street = lines.start_street;
  g_effective_stack = lines.effective_stack;
  for (size_t i = 0; i < lines.line_nodes.size(); ++i)
    lines.line_nodes[i]->entry_index = static_cast<uint32_t>(i);
}
