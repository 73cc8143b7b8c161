#include "tree/tree_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "solver/solver_preparation.h"
#include "solver/solver_state.h"
#include "tree/build_fixture.h"
#include "tree/schematic_tree.h"

namespace {

using TreeBuilder = TreeBuildTest;

void AppendAmount(std::string& line, int amount) {
  line += ' ';
  line += std::to_string(amount);
}

TEST_F(TreeBuilder, OneBetGivesRootBetCallAndFold) {
  FullRanges();
  Situation("As Kd 7h", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  const SolverState& state = State();
  ASSERT_EQ(state.nodes.size(), 4u);
  const TreeNode& root = state.nodes[0];
  EXPECT_EQ(root.kind, DECISION_NODE);
  EXPECT_EQ(root.parent_index, -1);
  EXPECT_EQ(root.parent, nullptr);
  EXPECT_EQ(root.player, 0);
  EXPECT_EQ(root.street, 1);
  EXPECT_EQ(root.children, (std::vector<int32_t>{1}));
  const TreeNode& bet = state.nodes[1];
  EXPECT_EQ(bet.kind, DECISION_NODE);
  EXPECT_EQ(bet.player, 1);
  EXPECT_EQ(bet.street, 1);
  EXPECT_EQ(bet.parent, &root);
  EXPECT_EQ(bet.children, (std::vector<int32_t>{2, 3}));
  const TreeNode& call = state.nodes[2];
  EXPECT_EQ(call.kind, SHOWDOWN_NODE);
  EXPECT_EQ(call.street, 3);
  EXPECT_EQ(call.player, 1);
  EXPECT_DOUBLE_EQ(call.value, 60.0);
  const TreeNode& fold = state.nodes[3];
  EXPECT_EQ(fold.kind, FOLD_NODE);
  EXPECT_EQ(fold.street, 1);
  EXPECT_EQ(fold.player, 1);
  EXPECT_DOUBLE_EQ(fold.value, 50.0);
  EXPECT_DOUBLE_EQ(state.max_terminal_value, 60.0);
  EXPECT_DOUBLE_EQ(state.payoff_scale, 125.0 / 60.0);
  EXPECT_EQ(state.max_actions, 2);
  EXPECT_DOUBLE_EQ(state.average_actions, 1.5);
  for (const TreeNode& node : state.nodes) {
    EXPECT_EQ(node.turn_mutexes, nullptr);
    EXPECT_EQ(node.card_records, nullptr);
  }
  // The bet lines now point at their nodes.
  const SchematicNode* bet_line = FindSchematicChild(g_schematic_root, 10.0);
  ASSERT_NE(bet_line, nullptr);
  EXPECT_EQ(bet_line->entry_index, 1u);
  EXPECT_EQ(FindSchematicChild(bet_line, -1.0)->entry_index, 3u);
}

TEST_F(TreeBuilder, FirstNodesOfTurnAndRiverCarryMutexesAndCardRecords) {
  FullRanges();
  Situation("As Kd 7h", {"0 0 0 0 10", "5 5 20"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  int turn_tops = 0, river_tops = 0;
  for (const TreeNode& node : State().nodes) {
    const bool street_start = !node.parent || node.parent->street < node.street;
    const bool turn_top = node.street == STREET_TURN && street_start;
    const bool river_top =
        node.kind == DECISION_NODE && node.street == STREET_RIVER && street_start;
    turn_tops += turn_top;
    river_tops += river_top;
    EXPECT_EQ(node.turn_mutexes != nullptr, turn_top);
    EXPECT_EQ(node.card_records != nullptr, (turn_top && node.kind == DECISION_NODE) || river_top);
    if (node.kind != DECISION_NODE) {
      EXPECT_EQ(node.card_records, nullptr);
    }
  }
  // Two lines reach the turn (after check-check and after 5 call); one the river.
  EXPECT_EQ(turn_tops, 2);
  EXPECT_EQ(river_tops, 1);
}

TEST_F(TreeBuilder, StartStreetFollowsTheBoard) {
  FullRanges();
  Situation("As Kd 7h", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_start_street, 1);
  EXPECT_EQ(State().nodes[0].street, 1);
  EXPECT_EQ(State().start_turn_slot, -1);

  Situation("As Kd 7h 4c", {});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_start_street, 2);
  EXPECT_EQ(State().nodes[0].street, 2);
  EXPECT_EQ(State().nodes[2].street, 3);  // the call is a showdown
  EXPECT_NE(State().nodes[0].turn_mutexes, nullptr);
  EXPECT_GE(State().start_turn_slot, 0);
  EXPECT_EQ(State().start_river_slot, -1);

  Situation("As Kd 7h 4c 2d", {});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_start_street, 3);
  EXPECT_EQ(State().nodes[0].street, 3);
  EXPECT_NE(State().nodes[0].card_records, nullptr);
  EXPECT_GE(State().start_river_slot, 0);
  EXPECT_EQ(State().board_mask, ParseCardText("As Kd 7h 4c 2d"));
}

TEST_F(TreeBuilder, EffectiveStackIsTheLargestAmountTruncated) {
  FullRanges();
  Situation("As Kd 7h 4c 2d", {"10 30 150.7", "20"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_effective_stack, 150);
}

TEST_F(TreeBuilder, InconsistentRangeIsReportedWhileIsomorphismIsOn) {
  FullRanges();
  g_ranges[0][Combo("AdKd")] = 0.5;
  Situation("Ks 7s 2c", {"10"});
  EXPECT_EQ(Run("build_tree"),
            "ERROR: build_tree inconsistent range: OOP P(Kc Ac) == 1, P(Kd Ad) == 0.5, use "
            "'set_isomorphism 0 0' if intended\n");
  EXPECT_EQ(g_solver_state, nullptr);
  EXPECT_EQ(g_tree_present, 0);
  g_isomorphism_by_street[1] = 0;
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(State().flags & ISOMORPHISM_ON, 0u);
}

TEST_F(TreeBuilder, InconsistentRangeNamesThePlayerAndIgnoresBoardCards) {
  FullRanges();
  // A difference that involves a board card is no asymmetry of the rest.
  g_ranges[0][Combo("KsAs")] = 0.25;
  Situation("Ks 7s 2c", {"10"});
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
  g_ranges[1][Combo("7h7d")] = 3.0;
  EXPECT_EQ(Run("build_tree"),
            "ERROR: build_tree inconsistent range: IP P(7c 7d) == 1, P(7d 7h) == 3, use "
            "'set_isomorphism 0 0' if intended\n");
}

TEST_F(TreeBuilder, TurnRootedTreesAreCheckedWithTheTurnSwitch) {
  // Hearts and diamonds are off the board: their river cards are dealt as one.
  FullRanges();
  g_ranges[0][Combo("AhKh")] = 0.5;
  Situation("Ks 7s 2c 9s", {"10"});
  g_isomorphism_by_street[1] = 0;  // the flop switch has no say here
  g_isomorphism_by_street[2] = 1;
  EXPECT_EQ(Run("build_tree"),
            "ERROR: build_tree inconsistent range: OOP P(Kc Ac) == 1, P(Kh Ah) == 0.5, use "
            "'set_isomorphism 0 0' if intended\n");
  g_isomorphism_by_street[2] = 0;
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
  // The turn card touches the differing combination: not reported.
  FullRanges();
  g_ranges[1][Combo("9sAs")] = 0.5;
  g_isomorphism_by_street[2] = 1;
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_NE(State().flags & ISOMORPHISM_ON, 0u);
  // A board of three suits leaves one off it, which nothing merges with: any
  // range builds.
  FullRanges();
  g_ranges[0][Combo("AhKh")] = 0.5;
  Situation("Ks 7s 2c 9d", {"10"});
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
}

TEST_F(TreeBuilder, LinesBeyondTheRiverAreInvalid) {
  FullRanges();
  Situation("As Kd 7h", {"0 0 0 0 0 0 10"});
  EXPECT_EQ(Run("build_tree"), "ERROR: build_tree invalid line\n");
  EXPECT_EQ(g_solver_state, nullptr);
}

TEST_F(TreeBuilder, OverlongLinesAreInvalidAndLeaveTheOldTree) {
  FullRanges();
  Situation("As Kd 7h 4c 2d", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  const SolverState* old_state = g_solver_state.get();

  // 999 raises and the call below the last: kMaxLineActions actions deep.
  std::string line = "add_line";
  for (int k = 1; k < kMaxLineActions; ++k) AppendAmount(line, k);
  ASSERT_EQ(Run(line), "add_line ok!\n");
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_NE(g_solver_state.get(), old_state);
  old_state = g_solver_state.get();
  const size_t nodes = State().nodes.size();

  // A line of hundreds of thousands of raises: refused, not a stack overflow.
  line = "add_line";
  for (int k = 1; k <= 200000; ++k) AppendAmount(line, k);
  ASSERT_EQ(Run(line), "add_line ok!\n");
  EXPECT_EQ(Run("build_tree"), "ERROR: build_tree invalid line\n");
  EXPECT_EQ(g_solver_state.get(), old_state);
  EXPECT_EQ(State().nodes.size(), nodes);
  EXPECT_EQ(g_tree_present, 1);
  EXPECT_EQ(g_start_street, 3);
}

TEST_F(TreeBuilder, RefusedBuildKeepsTheOldTreeAndItsGlobals) {
  FullRanges();
  Situation("As Kd 7h", {"10", "25"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  const SolverState* old_state = g_solver_state.get();
  const SchematicNode* bet = FindSchematicChild(g_schematic_root, 25.0);
  const uint32_t bet_index = bet->entry_index;
  g_tree_without_values = 1;  // as a loaded tree file may leave it

  // A turn card and an asymmetric range: refused after the start street and
  // the lines would have changed.
  Situation("As Kd 7s 4d", {"100 300"});
  g_ranges[0][Combo("AhKh")] = 0.5;
  g_isomorphism_by_street[2] = 1;
  EXPECT_NE(Run("build_tree").find("inconsistent range"), std::string::npos);
  EXPECT_EQ(g_solver_state.get(), old_state);
  EXPECT_EQ(g_start_street, 1);
  EXPECT_EQ(g_effective_stack, 25);
  EXPECT_EQ(bet->entry_index, bet_index);
  EXPECT_EQ(g_tree_without_values, 1);

  // A turn equal to a flop card gets past the checks of the lines and is
  // refused by the dealt cards: the old tree is still the one in place.
  g_board_turn = ParseCardText("As");
  FullRanges();
  EXPECT_EQ(Run("build_tree"), "ERROR: build_tree board not set\n");
  EXPECT_EQ(g_solver_state.get(), old_state);
  EXPECT_EQ(State().nodes.size(), old_state->nodes.size());
  EXPECT_EQ(g_start_street, 1);

  Situation("As Kd 7h", {});
  EXPECT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_tree_without_values, 0);
  EXPECT_EQ(g_effective_stack, 300);
}

TEST_F(TreeBuilder, TreesWithoutPayoffOrWithoutDealsAreRefused) {
  FullRanges();
  Situation("As Kd 7h 4c 2d", {"0 0"});
  g_pot[2] = 0.0;
  EXPECT_EQ(Run("build_tree"), "ERROR: build_tree all end values are 0\n");
  EXPECT_EQ(g_solver_state, nullptr);
  g_pot[2] = 100.0;

  // Both ranges hold only the one pair of aces left: no two hands apart.
  g_ranges[0].assign(kComboCount, 0.0);
  g_ranges[0][Combo("AcAd")] = 1.0;
  g_ranges[1] = g_ranges[0];
  Situation("As Ah 7h 4c 2d", {});
  EXPECT_EQ(Run("build_tree"), "ERROR: build_tree ranges leave no hands to deal\n");
  EXPECT_EQ(g_solver_state, nullptr);
  EXPECT_EQ(g_tree_present, 0);
}

TEST_F(TreeBuilder, ActionStatisticsOfHandMadeEntries) {
  // Decision nodes with 3, 2 and 2 children.
  std::vector<LineEntry> entries(8);
  entries[0] = {DECISION_NODE, -1, PLAYER_OOP, STREET_RIVER, 0.0};
  entries[1] = {DECISION_NODE, 0, PLAYER_IP, STREET_RIVER, 0.0};
  entries[2] = {SHOWDOWN_NODE, 1, PLAYER_NONE, STREET_NONE, 80.0};
  entries[3] = {FOLD_NODE, 1, PLAYER_NONE, STREET_NONE, 50.0};
  entries[4] = {DECISION_NODE, 0, PLAYER_IP, STREET_RIVER, 0.0};
  entries[5] = {SHOWDOWN_NODE, 4, PLAYER_NONE, STREET_NONE, 60.0};
  entries[6] = {FOLD_NODE, 4, PLAYER_NONE, STREET_NONE, -70.0};
  entries[7] = {SHOWDOWN_NODE, 0, PLAYER_NONE, STREET_NONE, 50.0};
  SolverState state(1, 0);
  BuildActionNodes(state, entries.data(), entries.size());
  EXPECT_EQ(state.max_actions, 3);
  EXPECT_DOUBLE_EQ(state.average_actions, 7.0 / 3.0);
  char text[64];
  std::snprintf(text, sizeof text, "#actions max %d avg %.2g\n", state.max_actions,
                state.average_actions);
  EXPECT_STREQ(text, "#actions max 3 avg 2.3\n");
  EXPECT_DOUBLE_EQ(state.max_terminal_value, 80.0);
  EXPECT_EQ(state.nodes[0].children, (std::vector<int32_t>{1, 4, 7}));
  EXPECT_EQ(state.nodes[6].player, 1);
  EXPECT_EQ(state.nodes[6].street, 3);
  EXPECT_EQ(state.nodes[7].player, 0);
}

TEST_F(TreeBuilder, AutomaticLevelFitsASmallTree) {
  FullRanges();
  Situation("As Kd 7h", {"10"});
  g_compression_setting = -1;
  g_compression_level = 3;
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_compression_level, 0);
  g_compression_setting = 2;
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_compression_level, 2);
  EXPECT_EQ(State().coder_kinds[0], 1);
  EXPECT_EQ(State().coder_kinds[1], 1);
}


}  // namespace
