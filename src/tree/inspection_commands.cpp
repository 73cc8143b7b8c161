#include "tree/inspection_commands.h"

#include <vector>

#include "cards/situation.h"
#include "cards/suit_isomorphism.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

void RequireTree() {
  if (!g_tree_present || !g_solver_state) ThrowRefusal("missing/incorrect tree");
}

// Boards a node at an absolute street is played on in a tree dealt from the
// flop; streets outside 1..3 (lines beyond the river) count nothing.
int64_t BoardMultiplicity(int32_t street) {
  static constexpr int64_t kBoards[4] = {0, 1, 49, 49 * 48};
  return street >= 0 && street < 4 ? kBoards[street] : 0;
}

void AppendWord(std::string& text, const char* word) {
  if (!text.empty()) text += ' ';
  text += word;
}

void PrintStreetLines(const int64_t streets[4], const char* river_format) {
  PrintReply("FLOP  %lld\n", static_cast<long long>(streets[1]));
  PrintReply("TURN  %lld\n", static_cast<long long>(streets[2]));
  PrintReply(river_format, static_cast<long long>(streets[3]));
}

}  // namespace

void PrintBoard(const ResolvedPath& path) {
  std::string text = CardMaskToText(g_board_flop);
  if (path.turn_card != kNoCard) text += " " + CardText(path.turn_card);
  if (path.river_card != kNoCard) text += " " + CardText(path.river_card);
  text += '\n';
  PrintReplyText(text);
}

std::string GetTreeFlagsText() {
  std::string text;
  if (!g_solver_state) return text;
  const uint32_t flags = g_solver_state->flags;
  if (flags & INCOMPLETE_TREE) AppendWord(text, "INCOMPLETE_TREE");
  if (flags & ISOMORPHISM_ON) AppendWord(text, "ISOMORPHISM_ON");
  if (flags & NEW_TREE) AppendWord(text, "NEW_TREE");
  return text;
}

std::string GetNodeFlagsText(int32_t node_index, int32_t turn_card, int32_t river_card) {
  std::string text;
  const SolverState* state = g_solver_state;
  if (!state || node_index < 0 || static_cast<size_t>(node_index) >= state->nodes.size())
    return text;
  const TreeNode& node = state->nodes[node_index];
  if (!node.regret_store) return text;
  int turn_slot = kNoSlot;
  int river_slot = kNoSlot;
  CanonicalizeCombo(*state, turn_card, river_card, turn_slot, river_slot);
  // A store knows the boards of its own street only; asking it for another
  // board (cards that do not fit the node) would read outside its records.
  if (node.street < 2) turn_slot = kNoSlot;
  if (node.street < 3) river_slot = kNoSlot;
  if ((node.street >= 2 && turn_slot < 0) || (node.street >= 3 && river_slot < 0)) return text;
  const NodeLockRecord* record = node.regret_store->GetLockRecord(turn_slot, river_slot);
  if (!record) return text;
  if (record->flags & LOCKED) AppendWord(text, "LOCKED");
  if (record->flags & COMBO_LOCKED) AppendWord(text, "COMBO_LOCKED");
  return text;
}

void PrintNodeInfo(const std::string& path_text, const ResolvedPath& path) {
  PrintReplyText(path_text + "\n");
  PrintReply("%s\n", GetNodeTypeName(path).c_str());
  PrintBoard(path);
  const double oop = path.node ? path.node->commitment[0] : 0.0;
  const double ip = path.node ? path.node->commitment[1] : 0.0;
  PrintReply("%g %g %g\n", oop, ip, g_pot[2]);
  size_t children = 1;
  if (path.node && path.split)
    children = AbsoluteStreet(path.node) == 2 ? 49 : 48;
  else if (path.node)
    children = path.node->children.size();
  PrintReply("%zu children\n", children);
  if (!path.node) {
    PrintReply("flags: %s\n", GetTreeFlagsText().c_str());
  } else if (path.split) {
    PrintReply("flags:\n");
  } else if (IsStaleNode(path.node)) {
    // A child added to the lines since the build has no node to report on.
    PrintReply("flags: \n");
  } else {
    PrintReply("flags: %s\n", GetNodeFlagsText(static_cast<int32_t>(path.node->entry_index),
                                                path.turn_card, path.river_card)
                                   .c_str());
  }
}

void CmdShowNode(const WordList& words) {
  const ResolvedPath path = ResolveNodePath(words[1], true);
  PrintNodeInfo(words[1], path);
  PrintReply("END\n");
}

void CmdShowChildren(const WordList& words) {
  const std::string& text = words[1];
  const ResolvedPath path = ResolveNodePath(text, true);
  if (!path.node) {
    ResolvedPath root = path;
    root.node = g_schematic_root;
    PrintReply("child 0:\n");
    PrintNodeInfo("r:0", root);
  } else if (path.split) {
    const bool turn_comes = AbsoluteStreet(path.node) == 2;
    int index = 0;
    for (const int32_t card : ListNextCards(path)) {
      ResolvedPath child = path;
      child.split = 0;
      (turn_comes ? child.turn_card : child.river_card) = card;
      PrintReply("child %d:\n", index++);
      PrintNodeInfo(text + ":" + CardText(card), child);
    }
  } else {
    int index = 0;
    for (const auto& [key, child_node] : path.node->children) {
      ResolvedPath child = path;
      child.node = child_node.get();
      child.split = IsChanceStep(*path.node, *child_node) ? 1 : 0;
      PrintReply("child %d:\n", index++);
      PrintNodeInfo(text + ":" + MakeActionLabel(*path.node, key), child);
    }
  }
  PrintReply("END\n");
}

void CountNodes(const SchematicNode* node, NodeCounts& counts) {
  // Lines can be hundreds of thousands of nodes deep: an explicit stack, not
  // recursion.
  std::vector<const SchematicNode*> stack{node};
  while (!stack.empty()) {
    const SchematicNode* current = stack.back();
    stack.pop_back();
    if (current->children.empty()) continue;
    const int32_t street = AbsoluteStreet(current);
    const int64_t boards = BoardMultiplicity(street);
    const int player = current->player == 1 ? 1 : 0;
    const int street_index = street >= 0 && street < 4 ? street : 0;
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

void CmdNodeCount(const WordList& words) {
  RequireTree();
  NodeCounts counts;
  CountNodes(g_schematic_root, counts);
  PrintReply("H_DEC: %lld\n", static_cast<long long>(counts.decisions[1]));
  PrintStreetLines(counts.decision_streets[1], "RIVER  %lld\n");
  PrintReply("V_DEC: %lld\n", static_cast<long long>(counts.decisions[0]));
  PrintStreetLines(counts.decision_streets[0], "RIVER  %lld\n");
  PrintReply("SPLIT: %lld\n", static_cast<long long>(counts.split_total));
  PrintStreetLines(counts.split_streets, "RIVER  %lld\n");
  PrintReply("END: %lld\n", static_cast<long long>(counts.end_total));
  PrintStreetLines(counts.end_streets, "RIVER  %lld\n");
  PrintReply("ROOT: 1\n");
  const int64_t root_streets[4] = {0, g_start_street == 1, g_start_street == 2,
                                   g_start_street == 3};
  PrintStreetLines(root_streets, "RIVER %lld\n");
  PrintReply("TOTAL: %lld\n", static_cast<long long>(counts.total + 1));
  PrintReply("END\n");
}

void CmdShowEffectiveStack(const WordList& words) {
  RequireTree();
  PrintReply("%d\n", static_cast<int>(g_effective_stack));
}

void CmdIsTreePresent(const WordList& words) { PrintReply(g_tree_present ? "true\n" : "false\n"); }

void CmdShowSettings(const WordList& words) { PrintReply("END\n"); }

void CmdShowTreeParams(const WordList& words) {
  ResolvedPath board;
  board.turn_card = LowestCard(g_board_turn);
  board.river_card = LowestCard(g_board_river);
  PrintReply("board: ");
  PrintBoard(board);
  PrintReply("pot: ");
  PrintReply("%g %g %g\n", 0.0, 0.0, g_pot[2]);
  PrintReply("bet_sizes: \n");
  PrintReply("donk_bet: FALSE\n");
  PrintReply("END\n");
}
