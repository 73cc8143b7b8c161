#include "commands/tree_commands.h"

#include <cmath>

#include "cards/situation.h"
#include "commands/preconditions.h"
#include "commands/tree_build.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/solver_state.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_edits.h"
#include "tree/tree_queries.h"
#include "tree/tree_records.h"

namespace {

constexpr double kLowestEvBoost = -0.99;
constexpr double kHighestEvBoost = 1.0;

void InsertLine(const WordList& words, bool force) {
  LineCursor line = StartLine();
  // Each amount is read as the walk reaches it: the steps before a bad word stay.
  for (size_t i = 1; i < words.size(); ++i)
    if (!ExtendLine(line, ParseLineAmountWord(words[i]), force)) ThrowArgumentError(words[0]);
  PrintOkReply(words[0]);
}

void PrintStreetLines(const int64_t streets[4], const char* river_format) {
  PrintReply("FLOP  %lld\n", static_cast<long long>(streets[1]));
  PrintReply("TURN  %lld\n", static_cast<long long>(streets[2]));
  PrintReply(river_format, static_cast<long long>(streets[3]));
}

}  // namespace

void CmdAddLine(const WordList& words) { InsertLine(words, false); }

void CmdForceLine(const WordList& words) { InsertLine(words, true); }

void CmdRemoveLine(const WordList& words) {
  SchematicNode* node = g_schematic_root;
  double previous_key = 0.0;
  for (size_t i = 1; i < words.size(); ++i) {
    const double value = ParseDoubleWord(words[i]);
    // No line has a NaN amount (and the ordered lookup must never see one).
    if (std::isnan(value)) ThrowRefusal("Specified line doesn't exists.");
    // Amounts are totals, so a 0 after a bet can only be the fold.
    const double key = (value == 0.0 && previous_key > 0.0) ? -1.0 : value;
    SchematicNode* child = FindSchematicChild(node, key);
    if (!child) ThrowRefusal("Specified line doesn't exists.");
    if (i + 1 == words.size()) {
      EraseSchematicSubtree(child);
    } else {
      node = child;
      previous_key = key;
    }
  }
  PrintOkReply(words[0]);
}

void CmdClearLines(const WordList& words) {
  ReplaceSchematicRoot();
  PrintOkReply(words[0]);
}

void CmdFreeSchematicTree(const WordList& words) { CmdClearLines(words); }

void CmdBuildTree(const WordList& words) {
  RefuseWhileSolverRuns();
  if (g_ranges[PLAYER_OOP].empty() || g_ranges[PLAYER_IP].empty()) ThrowRefusal("ranges not set");
  if (CardCount(g_board_flop) != 3) ThrowRefusal("board not set");
  if (g_schematic_root->children.empty()) ThrowRefusal("lines not set");
  BuildTreeFromLines(1);
  // Cleared only with the new tree in place: a refused build keeps the old
  // tree together with what is known about it.
  g_tree_without_values = 0;
  PrintOkReply(words[0]);
}

void CmdSetEvBoost(const WordList& words) {
  RequireTree();
  const ResolvedPath path = ResolveNodePath(g_solver_state.get(), words[1]);
  const std::string type = GetNodeTypeName(path);
  if (type != "OOP_DEC" && type != "IP_DEC") ThrowArgumentError(words[0]);
  // NaN would pass the range test and poison the node's values.
  const double value = ParseNumberWord(words[2]);
  if (value < kLowestEvBoost || value > kHighestEvBoost) ThrowArgumentError(words[0]);
  SetEvBoost(g_solver_state.get(), static_cast<int32_t>(path.node->entry_index),
             static_cast<float>(value));
  PrintOkReply(words[0]);
}

void CmdCutLine(const WordList& words) {
  RefuseWhileSolverRuns();
  RequireTree();
  CutLine(ResolveNodePath(g_solver_state.get(), words[1]).node);
  PrintOkReply(words[0]);
}

void CmdFreeTree(const WordList& words) {
  RefuseWhileSolverRuns();
  FreeGameTree();
  PrintOkReply(words[0]);
}

void PrintBoard(const ResolvedPath& path) {
  std::string text = CardMaskToText(g_board_flop);
  for (const int card : {path.turn_card, path.river_card}) {
    if (card == kNoCard) continue;
    text += ' ';
    text += CardText(card);
  }
  text += '\n';
  PrintReplyText(text);
}

void PrintNodeInfo(const std::string& path_text, const ResolvedPath& path) {
  PrintReplyText(path_text + "\n");
  PrintReply("%s\n", GetNodeTypeName(path).c_str());
  PrintBoard(path);
  const double oop = path.node ? path.node->commitment[PLAYER_OOP] : 0.0;
  const double ip = path.node ? path.node->commitment[PLAYER_IP] : 0.0;
  PrintReply("%g %g %g\n", oop, ip, g_pot[2]);
  size_t children = 1;
  if (path.node && path.split)
    children = AbsoluteStreet(path.node) == STREET_TURN ? 49 : 48;
  else if (path.node)
    children = path.node->children.size();
  PrintReply("%zu children\n", children);
  if (!path.node) {
    PrintReply("flags: %s\n", GetTreeFlagsText(g_solver_state.get()).c_str());
  } else if (path.split) {
    PrintReply("flags:\n");
  } else if (IsStaleNode(g_solver_state.get(), path.node)) {
    // A child added to the lines since the build has no node to report on.
    PrintReply("flags: \n");
  } else {
    const std::string flags =
        GetNodeFlagsText(g_solver_state.get(), static_cast<int32_t>(path.node->entry_index),
                         path.turn_card, path.river_card);
    PrintReply("flags: %s\n", flags.c_str());
  }
}

void CmdShowNode(const WordList& words) {
  const ResolvedPath path = ResolveNodePath(g_solver_state.get(), words[1], true);
  PrintNodeInfo(words[1], path);
  PrintReply("END\n");
}

void CmdShowChildren(const WordList& words) {
  const std::string& text = words[1];
  const ResolvedPath path = ResolveNodePath(g_solver_state.get(), text, true);
  if (!path.node) {
    ResolvedPath root = path;
    root.node = g_schematic_root;
    PrintReply("child 0:\n");
    PrintNodeInfo("r:0", root);
  } else if (path.split) {
    const bool turn_comes = AbsoluteStreet(path.node) == STREET_TURN;
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
  const int64_t root_streets[4] = {0, g_start_street == STREET_FLOP,
                                   g_start_street == STREET_TURN, g_start_street == STREET_RIVER};
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
