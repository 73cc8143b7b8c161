// The tree editing commands' effect on the records: the EV boost lands in the
// node the path names, refusals leave it alone, and cut_line builds a new tree
// while keeping what is known about the old one's values.
#include "commands/tree_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "solver/solver_state.h"
#include "tree/build_fixture.h"
#include "tree/tree_builder.h"
#include "tree/tree_edits.h"
#include "tree/tree_records.h"

namespace {

class EditCommands : public TreeBuildTest {};

TEST_F(EditCommands, EvBoostLandsInTheNamedDecisionNode) {
  FullRanges();
  Situation("2c 7d 8h Js 3s", {"10", "0 20"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  const SolverState& state = State();
  // Root, then the bet of 10 (IP), its call and fold, then the check (IP).
  const int32_t bet = state.nodes[0].children[0];
  const int32_t check = state.nodes[0].children[1];

  EXPECT_EQ(Run("set_ev_boost r:0 -0.99"), "set_ev_boost ok!\n");
  EXPECT_EQ(Run("set_ev_boost r:0:b10 1.0"), "set_ev_boost ok!\n");
  EXPECT_EQ(Run("set_ev_boost r:0:c 0.25"), "set_ev_boost ok!\n");
  EXPECT_EQ(state.nodes[0].ev_boost, -0.99f);
  EXPECT_EQ(state.nodes[static_cast<size_t>(bet)].ev_boost, 1.0f);
  EXPECT_EQ(state.nodes[static_cast<size_t>(check)].ev_boost, 0.25f);

  EXPECT_EQ(Run("set_ev_boost r:0 1.01"), "ERROR: set_ev_boost incorrect or missing argument\n");
  EXPECT_EQ(Run("set_ev_boost r:0 nan"), "Invalid value\n");
  EXPECT_EQ(Run("set_ev_boost r:0:b10:f 0.5"),
            "ERROR: set_ev_boost incorrect or missing argument\n");
  EXPECT_EQ(state.nodes[0].ev_boost, -0.99f);
  for (size_t i = 0; i < state.nodes.size(); ++i)
    if (state.nodes[i].kind != DECISION_NODE) {
      EXPECT_EQ(state.nodes[i].ev_boost, 0.0f) << i;
    }

  // Out of range or without a tree: nothing.
  std::vector<float> boosts;
  for (const TreeNode& node : state.nodes) boosts.push_back(node.ev_boost);
  SetEvBoost(&State(), static_cast<int32_t>(state.nodes.size()), 0.5f);
  SetEvBoost(&State(), -1, 0.5f);
  for (size_t i = 0; i < state.nodes.size(); ++i)
    EXPECT_EQ(state.nodes[i].ev_boost, boosts[i]) << i;
  FreeSolverState();
  SetEvBoost(nullptr, 0, 0.5f);
  EXPECT_EQ(g_solver_state, nullptr);
}

TEST_F(EditCommands, CutLineBuildsANewTreeAndKeepsTheValuesFlag) {
  FullRanges();
  Situation("2c 7d 8h Js 3s", {"10", "0 20"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  ASSERT_EQ(Run("set_ev_boost r:0 0.5"), "set_ev_boost ok!\n");
  const size_t before = State().nodes.size();
  g_tree_without_values = 1;
  ASSERT_EQ(Run("cut_line r:0:c:b20"), "cut_line ok!\n");
  // The check's bet with its call and fold is gone; everything is built anew.
  EXPECT_EQ(State().nodes.size(), before - 3);
  EXPECT_EQ(State().nodes[0].ev_boost, 0.0f);
  EXPECT_EQ(g_tree_without_values, 1);
  EXPECT_TRUE(g_tree_present);
  EXPECT_EQ(Run("free_tree"), "free_tree ok!\n");
  EXPECT_EQ(g_tree_without_values, 0);
  EXPECT_EQ(g_solver_state, nullptr);
}

}  // namespace
