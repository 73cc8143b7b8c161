// Queries below forgotten streets: the subgame of the asked board is re-solved
// from the reach the street root keeps, once per board, and then answers like
// the street before forgetting (within the re-solve's accuracy); solve_partial
// and explo_partial force the re-solve; the tree stays forgotten throughout.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "cards/suit_isomorphism.h"
#include "compress/compression_level.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "support/strategy_replies.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

using reference_game::Spot;
using solver_spots::SmallFlopSpot;

class ForgottenStreetsTest : public TreeBuildTest {
 protected:
  void SetUp() override {
    TreeBuildTest::SetUp();
    saved_threads_ = omp_get_max_threads();
    omp_set_num_threads(4);
    SetRecalcAccuracy(0.0, 0.0, 0.0);
  }
  void TearDown() override {
    StopSolverAndWait();
    SetRecalcAccuracy(0.0, 0.0, 0.0);
    omp_set_num_threads(saved_threads_);
    TreeBuildTest::TearDown();
  }

  // The river subgame below a path as an independent reference game: the
  // river board, both players' ranges at the path (from show_range) and the
  // river's own lines.
  static reference_game::ReferenceGame RiverGame(const std::string& path, const std::string& board) {
    Spot spot;
    spot.board = reference_game::BoardFromText(board);
    spot.pot = 60;
    spot.lines = {{20}, {0, 20}};
    for (int player : {PLAYER_OOP, PLAYER_IP}) {
      const std::vector<double> shown =
          Numbers(RunLine(std::string("show_range ") + (player ? "IP " : "OOP ") + path));
      spot.ranges[player].assign(kComboCount, 0.0);
      for (HandOrder p = 0; p < kComboCount; ++p)
        spot.ranges[player][g_combo_by_hand_order[p]] = shown[p];
    }
    return reference_game::ReferenceGame(spot);
  }

  // The engine's shown strategies of the subgame as a profile of the game.
  static reference_game::Strategy EngineProfile(const reference_game::ReferenceGame& game,
                                                const std::string& root_path) {
    reference_game::Strategy profile = game.UniformStrategy();
    const std::vector<reference_game::RefNode>& nodes = game.Nodes();
    std::vector<std::string> paths(nodes.size());
    paths[0] = root_path;
    for (size_t n = 0; n < nodes.size(); ++n) {
      const reference_game::RefNode& node = nodes[n];
      for (size_t c = 0; c < node.children.size(); ++c) {
        const double key = node.keys[c];
        std::string word = key < 0 ? "f" : "c";
        if (key >= 0 && key != node.amount) {
          word = "b";
          word += std::to_string(static_cast<int>(key));
        }
        paths[static_cast<size_t>(node.children[c])] = paths[n] + ":" + word;
      }
      if (node.kind != reference_game::RefNode::kDecision) continue;
      const std::vector<std::vector<double>> rows = StrategyRows(paths[n]);
      EXPECT_EQ(rows.size(), node.children.size()) << paths[n];
      for (size_t a = 0; a < rows.size(); ++a)
        for (HandOrder p = 0; p < kComboCount; ++p)
          profile.Set(static_cast<int>(n), g_combo_by_hand_order[p], static_cast<int>(a), rows[a][p]);
    }
    return profile;
  }

  // The subgame below a river path as the engine solved it before forgetting.
  struct RiverBefore {
    std::string path;
    reference_game::ReferenceGame game;
    reference_game::Strategy strategy;
  };
  static RiverBefore Before(const std::string& path, const std::string& board) {
    reference_game::ReferenceGame game = RiverGame(path, board);
    reference_game::Strategy strategy = EngineProfile(game, path);
    return RiverBefore{path, std::move(game), std::move(strategy)};
  }

  // The subgame before and after forgetting: values of both players alike
  // within a small share of the pot, and the re-solved strategies close to an
  // equilibrium of the subgame.
  static void ExpectLikeBefore(const RiverBefore& before) {
    const reference_game::ReferenceGame& game = before.game;
    const reference_game::Strategy after = EngineProfile(game, before.path);
    for (int player : {PLAYER_OOP, PLAYER_IP})
      EXPECT_NEAR(game.GameValue(player, after), game.GameValue(player, before.strategy), 0.3)
          << before.path << " player " << player;
    EXPECT_LT(game.Exploitability(after), 0.3) << before.path;
    EXPECT_LT(game.Exploitability(before.strategy), 0.3) << before.path;
  }

  int saved_threads_ = 1;
};

// River subgames: the path of the first river decision and its board.
const char* const kRiverRoots[][2] = {{"r:0:c:c:3s:c:c:4d", "2c7d8h3s4d"},
                                      {"r:0:c:c:Qh:c:c:Td", "2c7d8hQhTd"},
                                      {"r:0:c:c:8d:c:c:Ks", "2c7d8h8dKs"}};

TEST_F(ForgottenStreetsTest, AForgottenRiverAnswersLikeBeforeForgetting) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(400));
  std::vector<RiverBefore> before;
  for (const auto& root : kRiverRoots) before.push_back(Before(root[0], root[1]));
  const std::string flop_range = RunLine("show_range IP r:0:c:c:3s:c:c:4d:b20");

  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const int32_t iterations = State().iterations;
  for (const RiverBefore& river : before) ExpectLikeBefore(river);
  // Streets before the river are untouched; the tree stays forgotten with its
  // iteration count.
  EXPECT_EQ(RunLine("show_range IP r:0:c:c:3s:c:c:4d:b20"), flop_range);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
  EXPECT_EQ(State().first_forgotten_street, STREET_RIVER);
  EXPECT_EQ(State().iterations, iterations);
  EXPECT_EQ(RunLine("go"), "ERROR: go incomplete tree\n");
}

// The same through block-compressed river stores, packed and coded, and with
// the early hand-group averaging of level 4; locks and user strategies reach
// the blocks' values too.
TEST_F(ForgottenStreetsTest, EveryCompressionLevelAnswersLikeBeforeForgetting) {
  for (int32_t level = 1; level <= 4; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    ResetSituation();
    g_compression_setting = level;
    ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
    ASSERT_EQ(g_compression_level, level);
    ASSERT_NO_FATAL_FAILURE(RunIterations(200));
    const auto& root = kRiverRoots[1];
    const RiverBefore before = Before(root[0], root[1]);

    // A user strategy and a combination lock on a river board of another turn.
    const std::string other = "r:0:c:c:3s:c:c:4d";
    std::string line = "set_strategy " + other + " 1";
    std::string mask = "combo_lock_node " + other;
    for (HandOrder p = 0; p < kComboCount; ++p) {
      line += " 0.25";
      mask += g_combo_by_hand_order[p] == reference_game::ComboFromText("KhKs") ? " 1" : " 0";
    }
    ASSERT_EQ(RunLine(line), "set_strategy ok!\n");
    ASSERT_EQ(RunLine(mask), "combo_lock_node ok!\n");
    const std::vector<double> locked = Numbers(RunLine("show_locked_combos " + other));
    ASSERT_EQ(locked.size(), static_cast<size_t>(kComboCount));
    EXPECT_EQ(locked[g_hand_order_by_combo[reference_game::ComboFromText("KhKs")]], 1.0);
    EXPECT_EQ(std::count(locked.begin(), locked.end(), 1.0), 1);

    // Coded blocks below a forgotten turn: the re-solve's river deals open
    // them as a pass does.
    const bool turns = level == 2;
    ASSERT_EQ(RunLine(turns ? "forget turns" : "forget rivers"), "forget ok!\n");
    ExpectLikeBefore(before);
    EXPECT_EQ(RunLine("lock_node " + other), "lock_node ok!\n");
  }
}

// A tree that starts on the turn: its forgotten rivers are re-solved per river
// board of its one turn slot, and a lock on one of them lands there.
TEST_F(ForgottenStreetsTest, ATurnRootedTreeAnswersLikeBeforeForgetting) {
  Spot spot = SmallFlopSpot();
  spot.board = reference_game::BoardFromText("2c7d8hKd");
  spot.ranges[PLAYER_IP] = reference_game::RangeFromText("AhAs KcKs JcJd Th9h 6d5d 8c8s Ks7c");
  spot.lines = {{10}, {0, 0, 20}, {0, 0, 0, 20}};
  ASSERT_NO_FATAL_FAILURE(BuildSpot(spot));
  ASSERT_EQ(State().nodes[0].street, STREET_TURN);
  ASSERT_NO_FATAL_FAILURE(RunIterations(500));
  const std::string path = "r:0:c:c:4h";
  const RiverBefore before = Before(path, "2c7d8hKd4h");
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  ExpectLikeBefore(before);
  EXPECT_EQ(RunLine("lock_node r:0:c:c:Ac:c"), "lock_node ok!\n");
  EXPECT_NE(RunLine("show_node r:0:c:c:Ac:c").find("flags: LOCKED\n"), std::string::npos);
  EXPECT_NE(RunLine("show_node r:0:c:c:4h:c").find("flags: \n"), std::string::npos);
}

// With isomorphism on, a re-solved river board answers for every card its
// record stands for, with the suits exchanged, and like before forgetting.
TEST_F(ForgottenStreetsTest, IsomorphicBoardsOfAForgottenRiver) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(solver_spots::SuitSymmetricFlopSpot(), false));
  ASSERT_TRUE(State().flags & ISOMORPHISM_ON);
  ASSERT_NO_FATAL_FAILURE(RunIterations(300));
  const std::string path = "r:0:c:c:Ad:c:c:5c";
  const RiverBefore before = Before(path, "Kc7c2cAd5c");
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  ExpectLikeBefore(before);
  // Diamonds and hearts exchanged: suits 1 and 2.
  const std::vector<std::vector<double>> diamond = StrategyRows(path + ":c");
  const std::vector<std::vector<double>> heart = StrategyRows("r:0:c:c:Ah:c:c:5c:c");
  ASSERT_EQ(diamond.size(), heart.size());
  ASSERT_FALSE(diamond.empty());
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const HandOrder q = SuitSwappedPosition(p, 1, 2);
    ASSERT_LT(q, kComboCount);
    for (size_t a = 0; a < diamond.size(); ++a) EXPECT_EQ(diamond[a][p], heart[a][q]) << p;
  }
}

// A forgotten turn is re-solved with its rivers; the ranges at the river come
// through the re-solved turn strategies.
TEST_F(ForgottenStreetsTest, AForgottenTurnAnswersLikeBeforeForgetting) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(400));
  const auto& root = kRiverRoots[0];
  const RiverBefore before = Before(root[0], root[1]);
  const std::string turn_range = RunLine("show_range IP r:0:c:c:3s:c");
  ASSERT_EQ(RunLine("forget turns"), "forget ok!\n");
  const std::vector<double> a = Numbers(turn_range);
  const std::vector<double> b = Numbers(RunLine("show_range IP r:0:c:c:3s:c"));
  ASSERT_EQ(a.size(), b.size());
  for (size_t p = 0; p < a.size(); ++p) EXPECT_EQ(a[p], b[p]);
  ExpectLikeBefore(before);
}

// A board is re-solved once; solve_partial and explo_partial force it again.
TEST_F(ForgottenStreetsTest, PartialSolvesForceTheResolve) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(200));
  // Nothing forgotten: nothing to re-solve.
  EXPECT_EQ(RunLine("explo_partial r:0:c:c:3s:c:c:4d"), "0\n");
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  EXPECT_EQ(RunLine("explo_partial r:0"), "0\n");
  EXPECT_EQ(RunLine("explo_partial r:0:c:c:3s"), "0\n");
  const std::vector<uint64_t> counters(std::begin(State().storage_counters),
                                       std::end(State().storage_counters));
  EXPECT_EQ(RunLine("solve_partial r:0:c:c:3s:c:c:4d"), "solve_partial ok!\n");
  const int32_t iterations = State().iterations;
  // The full 1000 iterations at a target of 0: a small measure, not NaN.
  const double measure = std::stod(RunLine("explo_partial r:0:c:c:3s:c:c:4d:c"));
  EXPECT_GE(measure, 0.0);
  EXPECT_LT(measure, 0.05);
  EXPECT_EQ(State().iterations, iterations);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
  // Stores made again are not counted again.
  EXPECT_EQ(std::vector<uint64_t>(std::begin(State().storage_counters),
                                  std::end(State().storage_counters)),
            counters);
  // A looser target stops at the first check.
  ASSERT_EQ(RunLine("set_recalc_accuracy 1 1 1"), "set_recalc_accuracy ok!\n");
  EXPECT_GE(std::stod(RunLine("explo_partial r:0:c:c:3s:c:c:4d")), 0.0);
  // Every board asked about is still a distribution after being made anew.
  const std::vector<std::vector<double>> rows = StrategyRows("r:0:c:c:Qh:c:c:Td");
  ASSERT_EQ(rows.size(), 2u);
  // Rebuilding completes the tree again.
  EXPECT_EQ(RunLine("rebuild_forgotten_streets"), "rebuild_forgotten_streets ok!\n");
  EXPECT_FALSE(State().flags & INCOMPLETE_TREE);
  EXPECT_EQ(State().first_forgotten_street, STREET_NONE);
}

// Locks on a forgotten street: the subtree is brought back first, and the lock
// lands on its stores.
TEST_F(ForgottenStreetsTest, LocksOnAForgottenStreetBringItBack) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(100));
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const std::string river = "r:0:c:c:3s:c:c:4d:c";
  EXPECT_EQ(RunLine("lock_node " + river), "lock_node ok!\n");
  EXPECT_NE(RunLine("show_node " + river).find("flags: LOCKED\n"), std::string::npos);
  EXPECT_EQ(RunLine("unlock_node r:0:c:c:Qh:c:c:Td"), "unlock_node ok!\n");
  const std::vector<std::vector<double>> rows = StrategyRows(river);
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(RunLine("show_locked_combos " + river).size(), 2u * kComboCount);
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
}

// A board whose kept reach holds nothing re-solves to nothing: the measure is
// 0, not the NaN of 0 / 0, and its strategies stay distributions.
TEST_F(ForgottenStreetsTest, ABoardWithoutKeptReachAnswersZero) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(100));
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const std::string path = "r:0:c:c:3s:c:c:4d";
  const ResolvedPath resolved = ResolveNodePath(&State(), path);
  TreeNode& split = State().nodes[resolved.node->entry_index];
  ASSERT_TRUE(split.card_records);
  const int32_t turn_slot = State().deal_tree->turn_slot_map[static_cast<size_t>(resolved.turn_card)];
  ASSERT_GE(turn_slot, 0);
  for (NumArray& reach : split.card_records[turn_slot].reach_sums) reach.Free();
  EXPECT_EQ(RunLine("explo_partial " + path), "0\n");
  const std::vector<std::vector<double>> rows = StrategyRows(path);
  ASSERT_EQ(rows.size(), 2u);
  for (size_t p = 0; p < rows[0].size(); ++p) EXPECT_FALSE(std::isnan(rows[0][p] + rows[1][p]));
}

TEST_F(ForgottenStreetsTest, PartialSolvesRefuseWhatIsNoDecision) {
  EXPECT_EQ(RunLine("solve_partial r:0"), "ERROR: solve_partial missing/incorrect tree\n");
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  EXPECT_EQ(RunLine("solve_partial r"), "ERROR: solve_partial incorrect path\n");
  EXPECT_EQ(RunLine("explo_partial r:0:c:c"), "ERROR: explo_partial incorrect path\n");
  EXPECT_EQ(RunLine("explo_partial r:0:b10:f"), "ERROR: explo_partial incorrect path\n");
  EXPECT_EQ(RunLine("solve_partial"), "ERROR: solve_partial incorrect or missing argument\n");
}

}  // namespace
