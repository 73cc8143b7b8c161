// Split solving: the split list of the subtree walk, the iteration count of
// the subgames, and streets without splits.
#include "solver/split_solving.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/split_walk.h"
#include "store/node_store.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

using reference_game::Spot;


// OOP may bet 10 on the flop (the call ends the hand before the turn), and
// bet 20 on the turn or the river after checks.
Spot FlopSpot() {
  return reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c",
                                  "AhAs KcKd JcJd Th9h 6d5d 8c8s", 60,
                                  {{10}, {0, 0, 20}, {0, 0, 0, 0, 20}});
}

class SplitSolvingTest : public TreeBuildTest {
 protected:
  void TearDown() override {
    splits_.clear();
    TreeBuildTest::TearDown();
  }

  void Walk(Street street) { EvaluateFromRoot(State(), street, splits_); }

  SplitTaskList splits_;
};

TEST_F(SplitSolvingTest, TheWalkListsEachSplitOncePerDealtBoardAboveIt) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  const SolverState& state = State();
  const DealTree& deal = *state.deal_tree;

  // One turn split (after the flop checks); the flop bet's call deals no split.
  Walk(STREET_TURN);
  ASSERT_EQ(splits_.size(), 1u);
  EXPECT_EQ(splits_[0]->cursor.node->street, 2);
  EXPECT_EQ(splits_[0]->cursor.turn_slot, -1);
  EXPECT_EQ(splits_[0]->cursor.river_slot, -1);
  for (const NumArray* a : {&splits_[0]->cursor.in1, &splits_[0]->cursor.in0})
    EXPECT_EQ(a->count, static_cast<int32_t>(deal.hands.size()));
  splits_.clear();

  // One river split, below every turn card in slot order, the river undealt.
  Walk(STREET_RIVER);
  ASSERT_EQ(splits_.size(), deal.turn_records.size());
  for (size_t t = 0; t < splits_.size(); ++t) {
    const NodeCursor& cursor = splits_[t]->cursor;
    EXPECT_EQ(cursor.node, splits_[0]->cursor.node);
    EXPECT_TRUE(cursor.node->card_records);
    EXPECT_EQ(cursor.turn_slot, static_cast<int32_t>(t));
    EXPECT_EQ(cursor.river_slot, -1);
    EXPECT_EQ(cursor.in1.count, deal.turn_records[t].HandCount());
    EXPECT_EQ(cursor.in0.count, deal.turn_records[t].HandCount());
  }
}

TEST_F(SplitSolvingTest, AnUnsolvedTreeGivesEachSubgameOneIterationPerPlayer) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  SolverState& state = State();
  ASSERT_EQ(Run("forget rivers"), "forget ok!\n");
  ASSERT_EQ(Run("rebuild_forgotten_streets"), "rebuild_forgotten_streets ok!\n");
  // IP facing the river bet: call or fold, both at 1/2 while the regrets are 0.
  const TreeNode* facing = nullptr;
  for (const TreeNode& node : state.nodes)
    if (node.kind == DECISION_NODE && node.street == STREET_RIVER && node.children.size() == 2)
      facing = &node;
  ASSERT_NE(facing, nullptr);
  const float halves[2] = {0.5f, 0.5f};
  auto moved = [&] {
    int count = 0;
    for (int32_t t = 0; t < static_cast<int32_t>(state.deal_tree->turn_records.size()); ++t)
      for (int32_t r = 0; r < 48; ++r) {
        const std::vector<NumArray> s = facing->regret_store->GetStrategy(t, r, halves);
        for (int32_t h = 0; h < s[0].count; ++h) count += s[0].data[h] != 0.5;
      }
    return count;
  };
  ASSERT_EQ(moved(), 0);
  ASSERT_EQ(Run("solve_all_splits rivers"), "solve_all_splits ok!\n");
  EXPECT_EQ(state.iterations, 0);
  EXPECT_GT(moved(), 0);
}

TEST_F(SplitSolvingTest, AStreetWithoutSplitsSolvesNothing) {
  Spot river = FlopSpot();
  river.board = reference_game::BoardFromText("2c7d8hJs3s");
  river.lines = {{10}, {0, 20}};
  river.ranges[PLAYER_IP] = reference_game::RangeFromText("AhAs KcKd JcJd Th9h 6d5d 8c8s");
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(river));
  SolverState& state = State();
  ASSERT_EQ(Run("solve_all_splits turns"), "solve_all_splits ok!\n");
  EXPECT_EQ(state.first_forgotten_street, -1);
  EXPECT_EQ(state.iterations, 0);
  Walk(STREET_TURN);
  EXPECT_TRUE(splits_.empty());
}

}  // namespace
