// Line frequencies: exact shares while every strategy is uniform, the sums
// over a node's children and over the dealt cards, and the runout lists.
#include "analysis/line_freq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "solver/solver_state.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"

namespace {

using reference_game::Spot;

class LineFreqTest : public TreeBuildTest {
 protected:
  static double Reply(const std::string& line) {
    const std::string reply = Run(line);
    EXPECT_EQ(reply.back(), '\n') << reply;
    return std::stod(reply);
  }

  // The frequency of the node on the path's own board, unscaled by the root.
  static double NodeSum(const std::string& path) {
    const ResolvedPath node = ResolveNodePath(&State(), path);
    return SumNodeFrequencies(&State(), static_cast<int32_t>(node.node->entry_index),
                              node.turn_card, node.river_card);
  }

  // Flop: OOP bets 30 or checks; IP calls or folds a bet, checks back or bets 30
  // after a check. Turn and river: check-down or a bet by OOP.
  static Spot FlopSpot() {
    return reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d",
                                    "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
                                    {{30}, {0, 30}, {0, 0, 0, 0, 0, 0}, {0, 0, 20}, {0, 0, 0, 0, 20}});
  }
};

TEST_F(LineFreqTest, UniformStrategiesGiveExactSharesOnEveryStreet) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  EXPECT_DOUBLE_EQ(Reply("calc_global_freq r"), 1.0);
  EXPECT_DOUBLE_EQ(Reply("calc_global_freq r:0"), 1.0);
  EXPECT_DOUBLE_EQ(Reply("calc_line_freq r"), 1.0);
  // Two actions for OOP, then two for IP after a check: halves and quarters.
  EXPECT_NEAR(Reply("calc_global_freq r:0:b30"), 0.5, 1e-12);
  EXPECT_NEAR(Reply("calc_global_freq r:0:c"), 0.5, 1e-12);
  EXPECT_NEAR(Reply("calc_global_freq r:0:c:b30"), 0.25, 1e-12);
  // A turn line over every turn card: check, check back.
  EXPECT_NEAR(Reply("calc_line_freq r:0:c:c:Kd"), 0.25, 1e-12);
  // OOP's turn check, IP's check back (IP has no turn bet): a river line over
  // every turn and river card.
  EXPECT_NEAR(Reply("calc_line_freq r:0:c:c:Kd:c:c:3s"), 0.125, 1e-12);
}

TEST_F(LineFreqTest, ChildrenAddUpToTheirNodeAndDealtCardsToTheLine) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(3));  // away from uniform, every line still taken
  for (const std::string parent : {"r:0", "r:0:c", "r:0:c:c:Kd", "r:0:c:c:Kd:c:c:3s"}) {
    SCOPED_TRACE(parent);
    const ResolvedPath node = ResolveNodePath(&State(), parent);
    double children = 0.0;
    for (const auto& [key, child] : node.node->children) {
      const std::string word = MakeActionLabel(*node.node, key);
      children += NodeSum(parent + ":" + word);
    }
    // Strategies are normalised in single precision: rows add up to 1 within
    // a float's rounding.
    EXPECT_NEAR(children, NodeSum(parent), 1e-6 * NodeSum(parent));
  }
  // A turn line of a flop tree: the sum of the global frequencies of its turn
  // cards.
  const CardMask board = State().board_mask;
  double turns = 0.0;
  for (int t = 0; t < kCardCount; ++t)
    if (!(board & CardBit(t))) turns += Reply("calc_global_freq r:0:c:c:" + CardText(t));
  EXPECT_GT(turns, 0.01);
  EXPECT_NEAR(Reply("calc_line_freq r:0:c:c:Kd"), turns, 1e-7);
}

TEST_F(LineFreqTest, RiverLineOverAllRunoutsMatchesTheTurnLineItExtends) {
  // IP's only answer to OOP's turn check is the check back, so reaching the
  // river node is reaching IP's turn decision: 49 x 48 runouts against 49 turn
  // cards, summed by different kernels. With and without isomorphism alike.
  // Unsolved (uniform strategies, the only ones that keep every line taken on
  // this spot), the weighted ranges still vary the reach from hand to hand.
  const Spot spot = reference_game::MakeClassSpot(
      "Qh8h5s", {"AA", "KQs:0.5", "76s", "T9o:0.25", "Q8o"},
      {"QQ", "A5s", "88:0.75", "KJo", "J9s:0.5"}, 60,
      {{30}, {0, 30}, {0, 0, 0, 0, 0, 0}, {0, 0, 20}, {0, 0, 0, 0, 20}});
  double values[2][2];
  for (bool isomorphism_off : {true, false}) {
    ResetSituation();
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot, isomorphism_off));
    EXPECT_EQ((State().flags & ISOMORPHISM_ON) == 0, isomorphism_off);
    const double river = Reply("calc_line_freq r:0:c:c:Kd:c:c:3s");
    const double turn = Reply("calc_line_freq r:0:c:c:Kd:c");
    EXPECT_NEAR(river, 0.125, 1e-9);
    EXPECT_NEAR(river, turn, 1e-9 * turn);
    values[isomorphism_off][0] = river;
    values[isomorphism_off][1] = Reply("calc_global_freq r:0:c:c:Kd:c:c:3s");
  }
  EXPECT_NEAR(values[0][0], values[1][0], 1e-12);
  EXPECT_NEAR(values[0][1], values[1][1], 1e-12);
  EXPECT_GT(values[0][1], 0.0);
}

TEST_F(LineFreqTest, ForgottenRiversKeepTheLinesThatLeadToThem) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(3));
  // The river's first node is reached by flop and turn strategies alone; the
  // node after OOP's river check needs the river re-solved for its board.
  const std::string river_root = "r:0:c:c:Kd:c:c:3s";
  const double line = Reply("calc_line_freq " + river_root);
  const double global = Reply("calc_global_freq " + river_root);
  ASSERT_EQ(Run("forget rivers"), "forget ok!\n");
  EXPECT_NEAR(Reply("calc_line_freq " + river_root), line, 1e-12);
  EXPECT_NEAR(Reply("calc_global_freq " + river_root), global, 1e-12);
  const double checked = Reply("calc_global_freq " + river_root + ":c");
  const double bet = Reply("calc_global_freq " + river_root + ":b20");
  EXPECT_NEAR(checked + bet, global, 1e-6 * global);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);

  // The turns forgotten too: the turn's first node keeps its frequency, its
  // children need the turn re-solved for the card.
  const std::string turn_root = "r:0:c:c:Kd";
  const double turn = Reply("calc_global_freq " + turn_root);
  ASSERT_EQ(Run("forget turns"), "forget ok!\n");
  EXPECT_NEAR(Reply("calc_global_freq " + turn_root), turn, 1e-12);
  const double turn_children = Reply("calc_global_freq " + turn_root + ":c") +
                               Reply("calc_global_freq " + turn_root + ":b20");
  EXPECT_NEAR(turn_children, turn, 1e-6 * turn);
}

TEST_F(LineFreqTest, TurnTreeRiverLinesSumOverEveryRiverCard) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(reference_game::MakeSpot(
      "2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c QhJh", "AhAs QcQd Th9h 6d5d 8c8s 7h7s", 60,
      {{0, 0, 0, 0}, {20}, {0, 0, 20}})));
  // Unsolved: OOP checks the turn half the time, IP only checks back.
  EXPECT_NEAR(Reply("calc_line_freq r:0:c:c:3s"), 0.5, 1e-12);
  EXPECT_NEAR(Reply("calc_line_freq r:0:c:c:3s:b20"), 0.25, 1e-12);
  // One river card's share: 1/44 of the runouts of every matchup that avoids it.
  const double one = Reply("calc_global_freq r:0:c:c:3s");
  EXPECT_GT(one, 0.0);
  EXPECT_LT(one, 0.5 / 40.0);
  EXPECT_DOUBLE_EQ(Reply("calc_global_freq r"), 1.0);
}

TEST_F(LineFreqTest, CompressedRiverStoresAreWalkedOnEveryRunout) {
  for (int32_t level : {2, 4}) {
    SCOPED_TRACE(level);
    ResetSituation();
    g_compression_setting = level;
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
    ASSERT_NE(State().coder_kinds[0], 0);
    // Below OOP's river bet: the walk reads the river stores of every runout.
    const std::string bet = "r:0:c:c:Kd:c:c:3s:b20";
    EXPECT_NEAR(Reply("calc_line_freq " + bet), 0.0625, 1e-12);
    ASSERT_NO_FATAL_FAILURE(RunIterations(3));
    const double solved = Reply("calc_line_freq " + bet);
    const double checked = Reply("calc_line_freq r:0:c:c:Kd:c:c:3s:c");
    EXPECT_NEAR(solved + checked, Reply("calc_line_freq r:0:c:c:Kd:c:c:3s"), 1e-6);
  }
}

TEST_F(LineFreqTest, RunoutListHasEveryTurnAndEveryOtherRiver) {
  const CardMask flop = reference_game::BoardFromText("2c7d8h");
  const auto groups = MakeRunoutList(flop);
  ASSERT_EQ(groups.size(), 49u);
  size_t total = 0;
  int previous_turn = -1;
  for (const auto& group : groups) {
    ASSERT_EQ(group.size(), 48u);
    const int turn = group.front() >> 8;
    EXPECT_GT(turn, previous_turn);
    previous_turn = turn;
    for (uint16_t entry : group) {
      EXPECT_EQ(entry >> 8, turn);
      EXPECT_NE(entry & 0xFF, turn);
      EXPECT_FALSE(flop & CardBit(entry & 0xFF));
    }
    total += group.size();
  }
  EXPECT_EQ(total, 2352u);
}

}  // namespace
