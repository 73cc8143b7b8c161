// The re-solve of one board of a forgotten river, called directly: its first
// accuracy check comes at iteration 50 (a target that any measure meets ends
// it there, before the strategy sums start filling after iteration 60), an
// unforced second call leaves the board alone and answers 0, and a forced one
// solves it again.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "store/node_store.h"
#include "support/engine_harness.h"
#include "support/solver_spots.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"
#include "tree/tree_records.h"

namespace {

class ResolveOnceTest : public TreeBuildTest {
 protected:
  void TearDown() override {
    g_recalc_accuracy[STREET_RIVER] = saved_accuracy_;
    TreeBuildTest::TearDown();
  }

  // Per action, per hand of the board: the regret store's current strategy
  // (uniform default) or the strategy sums normalised (default 0).
  static std::vector<std::vector<double>> Rows(TreeNode& node, const DealtBoard& board,
                                               bool sums) {
    const size_t n = node.children.size();
    const std::vector<float> defaults(n, sums ? 0.0f : 1.0f / static_cast<float>(n));
    NodeValuesAccess access(State(), node, board.turn_slot, StreetAccess::kRead);
    NodeStore& store = sums ? *node.strategy_store : *node.regret_store;
    const std::vector<NumArray> arrays =
        store.GetStrategy(board.turn_slot, board.river_slot, defaults.data());
    access.Close();
    std::vector<std::vector<double>> rows;
    for (const NumArray& a : arrays) rows.emplace_back(a.data, a.data + a.count);
    return rows;
  }

  static bool AllZero(const std::vector<std::vector<double>>& rows) {
    for (const std::vector<double>& row : rows)
      for (double v : row)
        if (v != 0.0) return false;
    return true;
  }

  double saved_accuracy_ = g_recalc_accuracy[STREET_RIVER];
};

TEST_F(ResolveOnceTest, FirstCheckAt50UnforcedOnceForcedAgain) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(solver_spots::SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(100));
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const ResolvedPath path = ResolveNodePath(&State(), "r:0:c:c:3s:c:c:4d");
  TreeNode& node = State().nodes[static_cast<size_t>(path.node->entry_index)];
  DealtBoard board;
  ASSERT_TRUE(ResolveDealtBoard(State(), node, path.turn_card, path.river_card, board));
  TreeNode& root = ForgottenStreetRoot(State(), node);
  ASSERT_EQ(&root, &node);  // OOP's first river decision
  ASSERT_TRUE(PrepareForgottenSubtree(State(), root));
  ASSERT_TRUE(root.strategy_store);
  const int32_t iterations = State().iterations;

  g_recalc_accuracy[STREET_RIVER] = 1e12;
  const double first = ResolveForgottenSubgame(State(), root, board.turn_slot, board.river_slot,
                                               false);
  EXPECT_GT(first, 0.0);
  EXPECT_EQ(State().iterations, iterations);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
  EXPECT_TRUE(AllZero(Rows(root, board, true)));
  const std::vector<std::vector<double>> solved = Rows(root, board, false);

  // Unforced, the board is done: no pass, nothing changes.
  g_recalc_accuracy[STREET_RIVER] = 0.0;
  EXPECT_EQ(
      ResolveForgottenSubgame(State(), root, board.turn_slot, board.river_slot, false), 0.0);
  EXPECT_EQ(Rows(root, board, false), solved);
  EXPECT_TRUE(AllZero(Rows(root, board, true)));

  // Forced, at a target of 0: the full run, which fills the sums and moves on
  // from where the first one stopped.
  const double forced =
      ResolveForgottenSubgame(State(), root, board.turn_slot, board.river_slot, true);
  EXPECT_GE(forced, 0.0);
  EXPECT_LT(forced, first);
  EXPECT_FALSE(AllZero(Rows(root, board, true)));
  EXPECT_NE(Rows(root, board, false), solved);
  EXPECT_EQ(State().iterations, iterations);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
}

}  // namespace
