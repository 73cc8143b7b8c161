#include "tree/node_path.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "protocol/command_error.h"
#include "solver/solver_state.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/deal_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_queries.h"
#include "tree/tree_records.h"

namespace {

std::string RangeLine(const char* player) {
  std::string line = std::string("set_range ") + player;
  for (int i = 0; i < 1326; ++i) line += " 1";
  return line;
}

// Sets up the situation and builds; the lines are add_line argument texts.
void BuildTree(const std::string& board, const std::vector<std::string>& lines) {
  ASSERT_EQ(RunLine(RangeLine("OOP")), "set_range ok!\n");
  ASSERT_EQ(RunLine(RangeLine("IP")), "set_range ok!\n");
  ASSERT_EQ(RunLine("set_board " + board), "set_board ok!\n");
  ASSERT_EQ(RunLine("set_pot 0 0 100"), "set_pot ok!\n");
  ASSERT_EQ(RunLine("clear_lines"), "clear_lines ok!\n");
  for (const std::string& line : lines) ASSERT_EQ(RunLine("add_line " + line), "add_line ok!\n");
  ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
}

// The bet lines as an independent model builds them, straight from the
// betting rules.
using reference_game::LineNode;

// The node_count reply of the model: every node counted once per board of its
// street from the flop (1, 49, 49 x 48).
std::string ModelNodeCount(const LineNode& root, int start_street) {
  const long long boards[4] = {0, 1, 49, 49 * 48};
  long long dec[2][4] = {{0}, {0}}, split[4] = {0}, end[4] = {0};
  std::function<void(const LineNode&)> visit = [&](const LineNode& node) {
    if (node.children.empty()) return;
    const int s = start_street + node.street;
    dec[node.player][s] += boards[s];
    for (const auto& [key, child] : node.children) {
      if (child->street > node.street) split[s] += boards[s];
      if (child->children.empty()) end[s] += boards[s];
      visit(*child);
    }
  };
  visit(root);
  std::ostringstream out;
  long long total = 1;
  auto block = [&](const char* name, const long long* by_street) {
    const long long sum = by_street[1] + by_street[2] + by_street[3];
    total += sum;
    out << name << ": " << sum << "\nFLOP  " << by_street[1] << "\nTURN  " << by_street[2]
        << "\nRIVER  " << by_street[3] << "\n";
  };
  block("H_DEC", dec[1]);
  block("V_DEC", dec[0]);
  block("SPLIT", split);
  block("END", end);
  out << "ROOT: 1\nFLOP  " << (start_street == STREET_FLOP) << "\nTURN  "
      << (start_street == STREET_TURN) << "\nRIVER " << (start_street == STREET_RIVER)
      << "\nTOTAL: " << total << "\nEND\n";
  return out.str();
}

void ExpectCountMatchesModel(const std::string& board, int start_street,
                             const std::vector<std::vector<double>>& lines) {
  std::vector<std::string> texts;
  LineNode root;
  for (const auto& line : lines) {
    std::string text;
    // Appended piece by piece: GCC 12 takes "x" + std::string for an
    // overlapping copy (-Wrestrict).
    for (double amount : line) {
      if (!text.empty()) text += ' ';
      text += std::to_string(amount);
    }
    texts.push_back(text);
    reference_game::InsertLine(root, line);
  }
  BuildTree(board, texts);
  EXPECT_EQ(g_start_street, start_street);
  EXPECT_EQ(RunLine("node_count"), ModelNodeCount(root, start_street)) << board;
}

TEST(NodeCount, MatchesAnIndependentCountOfTheLines) {
  ExpectCountMatchesModel("Qs Jh 2d", 1,
                          {{10, 30, 90, 90, 100, 100},
                           {0, 0, 20, 20},
                           {10, 10, 25, 25, 50, 50},
                           {10, 10, 10, 10, 10, 10},
                           {0, 12.5, 40},
                           {10, 30, 30, 30, 75}});
  ExpectCountMatchesModel("Qs Jh 2d 7c", 2,
                          {{10, 30, 30, 60, 60}, {0, 0, 15}, {20, 20, 20, 20}, {0, 5, 5}});
  ExpectCountMatchesModel("Qs Jh 2d 7c 3h", 3, {{10, 30, 90}, {0, 0}, {0, 25, 75, 75}});
}

TEST(NodeCount, CountsALineFarDeeperThanAnyStackWithoutRecursion) {
  BuildTree("Qs Jh 2d", {"10"});
  // Raises of one chip at a time: every raise node has a call and a fold end.
  constexpr int kDepth = 300000;
  std::string line = "add_line";
  for (int i = 1; i <= kDepth; ++i) {  // piece by piece, as above
    line += ' ';
    line += std::to_string(i);
  }
  ASSERT_EQ(RunLine(line), "add_line ok!\n");
  NodeCounts counts;
  CountNodes(g_schematic_root, counts);
  // The root, the raises and the bet 10 of the build; two ends below each bet.
  EXPECT_EQ(counts.decisions[0] + counts.decisions[1], kDepth + 2);
  EXPECT_EQ(counts.end_total, 2LL * (kDepth + 1));
  EXPECT_EQ(counts.split_total, 0);
  EXPECT_EQ(counts.total, 3LL * kDepth + 4);
  // Such a path is no node of the built tree: reported from its line alone.
  EXPECT_EQ(RunLine("show_node r:0:b1:b2"),
            "r:0:b1:b2\nOOP_DEC\n2d Jh Qs\n1 2 100\n3 children\nflags: \nEND\n");
  EXPECT_EQ(RunLine("cut_line r:0:b1:b2"), "ERROR: cut_line incorrect path\n");
  ASSERT_EQ(RunLine("clear_lines"), "clear_lines ok!\n");
}

TEST(NodePath, ChildLabelsNameEveryChildExactly) {
  BuildTree("Qs Jh 2d", {"10", "10.5", "0.1", "33.333333333333336", "123456789.125", "100000"});
  const std::string reply = RunLine("show_children r:0");
  std::vector<std::string> paths;
  std::istringstream in(reply);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("r:0:", 0) == 0) paths.push_back(line);
  const std::vector<std::string> expected = {"r:0:b123456789.125", "r:0:b100000",
                                             "r:0:b33.333333333333336", "r:0:b10.5",
                                             "r:0:b10", "r:0:b0.1"};
  EXPECT_EQ(paths, expected);
  for (const std::string& path : paths) {
    const ResolvedPath resolved = ResolveNodePath(g_solver_state.get(), path);
    ASSERT_NE(resolved.node, nullptr);
    EXPECT_EQ("r:0:" + MakeActionLabel(*g_schematic_root, resolved.node->amount), path);
    EXPECT_EQ(GetNodeTypeName(resolved), "IP_DEC");
  }
}

TEST(NodePath, ParentPathKeepsTheCardsOfTheParentsStreet) {
  BuildTree("Qs Jh 2d", {"10 10 10 10 10 10"});
  const ResolvedPath river = ResolveNodePath(g_solver_state.get(), "r:0:b10:c:Kh:c:c:As");
  EXPECT_EQ(river.turn_card, CardNumber(11, 2));
  EXPECT_EQ(river.river_card, CardNumber(12, 3));
  const ResolvedPath turn_check = GetParentPath(river);
  EXPECT_EQ(turn_check.node, river.node->parent);
  EXPECT_EQ(turn_check.turn_card, CardNumber(11, 2));
  EXPECT_EQ(turn_check.river_card, kNoCard);
  const ResolvedPath flop_bet = GetParentPath(GetParentPath(turn_check));
  EXPECT_EQ(flop_bet.turn_card, kNoCard);
  EXPECT_EQ(GetNodeTypeName(flop_bet), "IP_DEC");
  const ResolvedPath above_root = GetParentPath(GetParentPath(flop_bet));
  EXPECT_EQ(above_root.node, nullptr);
  EXPECT_EQ(GetNodeTypeName(above_root), "ROOT");
  const ResolvedPath chance = ResolveNodePath(g_solver_state.get(), "r:0:b10:c:Kh:c:c");
  EXPECT_EQ(chance.split, 1);
  EXPECT_EQ(MakeChildLabel(chance, 0), "As");
  EXPECT_EQ(MakeChildLabel(chance, 47), "2c");
  EXPECT_EQ(MakeChildLabel(chance, 48), "");
}

TEST(NodePath, ParseCardReadsCardsAndRefusesBadText) {
  EXPECT_EQ(ParseCard(""), 0u);
  EXPECT_EQ(ParseCard("As kd"), CardBit(CardNumber(12, 3)) | CardBit(CardNumber(11, 1)));
  for (const char* bad : {"A", "Ax", "1s", "AsAs", "As K"}) {
    try {
      ParseCard(bad);
      ADD_FAILURE() << bad;
    } catch (const CommandRefusal& refusal) {
      EXPECT_EQ(RefusalReply("show_node", refusal), "ERROR: invalid card\n") << bad;
    }
  }
}

// The lock record of a node's board, as the solver's stores hold it.
NodeLockRecord* LockRecordAt(const std::string& path) {
  const ResolvedPath resolved = ResolveNodePath(g_solver_state.get(), path);
  TreeNode& node = g_solver_state->nodes[resolved.node->entry_index];
  int turn_slot = -1, river_slot = -1;
  CanonicalizeCombo(*g_solver_state, resolved.turn_card, resolved.river_card, turn_slot,
                    river_slot);
  return node.regret_store->GetLockRecord(turn_slot, river_slot);
}

std::string FlagsLine(const std::string& path) {
  std::istringstream in(RunLine("show_node " + path));
  std::string line, flags;
  while (std::getline(in, line))
    if (line.rfind("flags:", 0) == 0) flags = line;
  return flags;
}

TEST(NodeFlags, ShowTheLockOfTheBoardInCanonicalSuits) {
  // A one-suited flop: the other three suits are interchangeable.
  BuildTree("Qs Js 2s", {"10 10 10 10 10 10"});
  EXPECT_EQ(GetTreeFlagsText(g_solver_state.get()), "ISOMORPHISM_ON NEW_TREE");

  LockRecordAt("r:0")->flags = LOCKED;
  EXPECT_EQ(FlagsLine("r:0"), "flags: LOCKED");
  EXPECT_EQ(GetNodeFlagsText(g_solver_state.get(), 0, -1, -1), "LOCKED");

  LockRecordAt("r:0:b10:c:Kh")->flags = LOCKED | COMBO_LOCKED;
  EXPECT_EQ(FlagsLine("r:0:b10:c:Kh"), "flags: LOCKED COMBO_LOCKED");
  EXPECT_EQ(FlagsLine("r:0:b10:c:Kc"), "flags: LOCKED COMBO_LOCKED");
  EXPECT_EQ(FlagsLine("r:0:b10:c:Ks"), "flags: ");
  EXPECT_EQ(FlagsLine("r:0:b10:c:Ah"), "flags: ");
  EXPECT_EQ(FlagsLine("r:0:b10:c"), "flags:");

  // River boards: only the order in which new suits appear matters.
  LockRecordAt("r:0:b10:c:Kh:c:c:Ad")->flags = COMBO_LOCKED;
  EXPECT_EQ(FlagsLine("r:0:b10:c:Kh:c:c:Ad"), "flags: COMBO_LOCKED");
  EXPECT_EQ(FlagsLine("r:0:b10:c:Kd:c:c:Ac"), "flags: COMBO_LOCKED");
  EXPECT_EQ(FlagsLine("r:0:b10:c:Kh:c:c:Ah"), "flags: ");
  // An end node has no stores.
  EXPECT_EQ(FlagsLine("r:0:b10:f"), "flags: ");

  // Cards that do not fit the node's street read no record.
  const int32_t turn_node = ResolveNodePath(g_solver_state.get(), "r:0:b10:c:Kh").node->entry_index;
  EXPECT_EQ(GetNodeFlagsText(g_solver_state.get(), turn_node, -1, -1), "");
  const int32_t past_end = static_cast<int32_t>(g_solver_state->nodes.size());
  EXPECT_EQ(GetNodeFlagsText(g_solver_state.get(), past_end, -1, -1), "");
}

TEST(NodePath, WithoutATreeNothingResolves) {
  std::unique_ptr<SolverState> kept = std::move(g_solver_state);
  const uint8_t present = g_tree_present;
  g_tree_present = 0;
  EXPECT_EQ(RunLine("show_node r"), "ERROR: show_node missing/incorrect tree\n");
  EXPECT_EQ(RunLine("show_children r"), "ERROR: show_children missing/incorrect tree\n");
  EXPECT_EQ(RunLine("is_tree_present"), "false\n");
  EXPECT_EQ(GetTreeFlagsText(g_solver_state.get()), "");
  EXPECT_EQ(GetNodeFlagsText(g_solver_state.get(), 0, -1, -1), "");
  g_solver_state = std::move(kept);
  g_tree_present = present;
}

}  // namespace
