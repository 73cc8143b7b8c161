// Where show_strategy takes a strategy from: the current strategy of the
// regret store up to iteration 62, from iteration 63 on the average of the
// strategy sums, with the current strategy for hands whose sums are all 0.
// Both are read here straight from the node's stores and compared with the
// printed rows.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cards/combo_tables.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "store/node_store.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/strategy_replies.h"
#include "tree/build_fixture.h"
#include "tree/deal_tree.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"
#include "tree/tree_records.h"

namespace {

// Pot 60 on the flop: OOP may bet 10, IP may bet 20 after a check.
const std::vector<std::vector<double>> kLines = {{10}, {0, 20}, {0, 0}};

reference_game::Spot FlopSpot() {
  return reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d 4s3s",
                                  "AhAs KcKd JcJd Th9h 6d5d 8c8s Kd7c 5s4s", 60, kLines);
}

class DisplaySourceTest : public TreeBuildTest {
 protected:
  static void SolveTo(int iterations) {
    ASSERT_TRUE(AllocateStoreValues(State()));
    while (State().iterations < iterations) RunSolverIteration(&State());
    ASSERT_EQ(State().iterations, iterations);
  }

  // Per child, per hand of the flop: the current strategy, and the average
  // completed by it where a hand's sums are all 0.
  static void ReadStrategies(const TreeNode& node, std::vector<NumArray>& current,
                             std::vector<NumArray>& average) {
    const size_t n = node.children.size();
    const std::vector<float> uniform(n, 1.0f / static_cast<float>(n));
    const std::vector<float> zeros(n, 0.0f);
    current = node.regret_store->GetStrategy(-1, -1, uniform.data());
    average = node.strategy_store->GetStrategy(-1, -1, zeros.data());
    ASSERT_EQ(current.size(), n);
    ASSERT_EQ(average.size(), n);
    for (int32_t h = 0; h < current[0].count; ++h) {
      double sum = 0.0;
      for (size_t a = 0; a < n; ++a) sum += average[a].data[h];
      if (sum == 0.0)
        for (size_t a = 0; a < n; ++a) average[a].data[h] = current[a].data[h];
    }
  }

  // The printed rows against per-hand values: the hand's value for every
  // combination the acting player holds on the board, else 0.
  static void ExpectShown(const std::vector<std::vector<double>>& rows, const TreeNode& node,
                          const std::vector<NumArray>& expected) {
    const std::vector<int16_t>& map = State().deal_tree->combo_map;
    const std::vector<double>& range = State().ranges[node.player];
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t a = 0; a < rows.size(); ++a)
      for (HandOrder p = 0; p < kComboCount; ++p) {
        const ComboIndex c = g_combo_by_hand_order[p];
        const int16_t h = map[c];
        const double want = h < 0 || range[c] == 0.0 ? 0.0 : expected[a].data[h];
        EXPECT_NEAR(rows[a][p], want, 1e-9) << "child " << a << " position " << p;
      }
  }

  // True when some hand's current and average strategies differ clearly.
  static bool SourcesDiffer(const std::vector<NumArray>& current,
                            const std::vector<NumArray>& average) {
    for (size_t a = 0; a < current.size(); ++a)
      for (int32_t h = 0; h < current[a].count; ++h)
        if (std::fabs(current[a].data[h] - average[a].data[h]) > 1e-3) return true;
    return false;
  }
};

TEST_F(DisplaySourceTest, CurrentStrategyUpToIteration62ThenTheAverage) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  const std::string path = "r:0";
  const TreeNode& node =
      State().nodes[static_cast<size_t>(ResolveNodePath(&State(), path).node->entry_index)];
  ASSERT_TRUE(node.strategy_store);
  std::vector<NumArray> current, average;

  // Before any iteration: 1/n everywhere.
  ASSERT_TRUE(AllocateStoreValues(State()));
  ASSERT_NO_FATAL_FAILURE(ReadStrategies(node, current, average));
  for (const NumArray& row : current)
    for (int32_t h = 0; h < row.count; ++h) ASSERT_NEAR(row.data[h], 1.0 / 2.0, 1e-7);
  ExpectShown(StrategyRows(path), node, current);

  ASSERT_NO_FATAL_FAILURE(SolveTo(62));
  ASSERT_NO_FATAL_FAILURE(ReadStrategies(node, current, average));
  ASSERT_TRUE(SourcesDiffer(current, average));
  ExpectShown(StrategyRows(path), node, current);

  ASSERT_NO_FATAL_FAILURE(SolveTo(63));
  ASSERT_NO_FATAL_FAILURE(ReadStrategies(node, current, average));
  ASSERT_TRUE(SourcesDiffer(current, average));
  ExpectShown(StrategyRows(path), node, average);
}

}  // namespace
