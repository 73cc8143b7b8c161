// Per-combination EVs: against the showdown equity where both players only
// check down, and against the EV of the whole range that the evaluation passes
// report.
#include "analysis/combo_ev.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/equity.h"
#include "analysis/node_range.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/tree_pass.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"
#include "tree/tree_builder.h"

namespace {

using reference_game::Spot;

class ComboEvTest : public TreeBuildTest {
 protected:
  struct Values {
    std::vector<double> evs = std::vector<double>(kComboCount, 0.0);
    std::vector<double> weights = std::vector<double>(kComboCount, 0.0);
  };

  static Values Evs(Player player, const std::string& path) {
    const ResolvedPath node = ResolveNodePath(&State(), path);
    Values v;
    ComputeComboEvs(&State(), player, static_cast<int32_t>(node.node->entry_index),
                    node.turn_card, node.river_card, v.evs.data(), v.weights.data());
    return v;
  }

  // Where both players only check down, a combination's EV is its share of
  // the pot: pot x equity, over the same matchups (weights alike).
  static void ExpectPotShareByEquity(Player player, const std::string& path) {
    const ResolvedPath node = ResolveNodePath(&State(), path);
    // Both ranges as they arrive at the node.
    const std::vector<double> own = ComputeNodeRange(&State(), player, path);
    const std::vector<double> opp = ComputeNodeRange(&State(), Opponent(player), path);
    std::vector<double> equity(kComboCount), weight(kComboCount);
    ComputeEquities(&State(), player, node.turn_card, node.river_card, own.data(), opp.data(),
                    equity.data(), weight.data());
    const Values v = Evs(player, path);
    const double half_pot = HalfRootPot();
    int defined = 0;
    for (int c = 0; c < kComboCount; ++c) {
      ASSERT_EQ(std::isnan(v.evs[c]), std::isnan(equity[c])) << c;
      if (std::isnan(equity[c])) continue;
      ++defined;
      // The walk and the strategy display normalise the same rows alike up to
      // a float's rounding.
      EXPECT_NEAR(v.evs[c] + half_pot, 2.0 * half_pot * 0.5 * (1.0 + equity[c]), 1e-6) << c;
      EXPECT_NEAR(v.weights[c], weight[c], 1e-6 * (1.0 + weight[c])) << c;
    }
    EXPECT_GT(defined, 0);
  }
};

TEST_F(ComboEvTest, CheckDownEvIsThePotShareByEquityOnEveryStreet) {
  const Spot flop = reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d",
                                             "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
                                             {{0, 0, 0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(flop));
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    SCOPED_TRACE(p);
    ExpectPotShareByEquity(p, "r:0");
    ExpectPotShareByEquity(p, "r:0:c");           // IP to act on the flop
    ExpectPotShareByEquity(p, "r:0:c:c");         // the turn still to come
    ExpectPotShareByEquity(p, "r:0:c:c:Kd");      // a turn node
    ExpectPotShareByEquity(p, "r:0:c:c:Kd:c:c");  // the river still to come
    ExpectPotShareByEquity(p, "r:0:c:c:Kd:c:c:3s");  // a river node
  }
}

TEST_F(ComboEvTest, TurnAndRiverTreesGiveTheCheckDownEvsToo) {
  const Spot turn = reference_game::MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c QhJh",
                                             "AhAs QcQd Th9h 6d5d 8c8s 7h7s", 60, {{0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(turn));
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    ExpectPotShareByEquity(p, "r:0");
    ExpectPotShareByEquity(p, "r:0:c:c:3s");
  }
  ResetSituation();
  const Spot river = reference_game::MakeSpot("2c7d8hKs3d", "AcAd KhKc 9s9h Ts9s 6c5c QhJh",
                                              "AhAs QcQd Th9h 6d5d 8c8s 7h7s", 60, {{0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(river));
  for (Player p : {PLAYER_OOP, PLAYER_IP}) ExpectPotShareByEquity(p, "r:0:c");
}

TEST_F(ComboEvTest, ForgottenRiversAreResolvedBeforeTheirEvsAreRead) {
  const Spot flop = reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d",
                                             "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
                                             {{0, 0, 0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(flop));
  ASSERT_NO_FATAL_FAILURE(RunIterations(2));
  ASSERT_EQ(Run("forget rivers"), "forget ok!\n");
  ASSERT_TRUE(State().flags & INCOMPLETE_TREE);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    SCOPED_TRACE(p);
    ExpectPotShareByEquity(p, "r:0:c:c:Kd:c:c:3s");
    ExpectPotShareByEquity(p, "r:0:c:c:Kd:c");
  }
  // Forgetting the turns as well: the turn's subgame is solved again below its
  // root for the turn card asked.
  ASSERT_EQ(Run("forget turns"), "forget ok!\n");
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    SCOPED_TRACE(p);
    ExpectPotShareByEquity(p, "r:0:c:c:Qd:c");
    ExpectPotShareByEquity(p, "r:0:c:c:Qd:c:c:9s");
  }
  // The board was re-solved once: asking again gives the same values.
  const Values first = Evs(PLAYER_OOP, "r:0:c:c:2s:c:c:3s");
  const Values second = Evs(PLAYER_OOP, "r:0:c:c:2s:c:c:3s");
  for (int c = 0; c < kComboCount; ++c)
    if (!std::isnan(first.evs[c])) {
      EXPECT_EQ(first.evs[c], second.evs[c]) << c;
    }
  EXPECT_TRUE(State().flags & INCOMPLETE_TREE);
}

TEST_F(ComboEvTest, CompressedRiverStoresAreOpenedForTheTargetedPass) {
  // A river bet on a check-down spot: its stores are read; the check-down
  // children keep the pot share.
  const Spot flop = reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d",
                                             "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
                                             {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 20}});
  for (int32_t level : {2, 4}) {
    SCOPED_TRACE(level);
    ResetSituation();
    g_compression_setting = level;
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(flop));
    ASSERT_NE(State().coder_kinds[0], 0);
    ASSERT_NO_FATAL_FAILURE(RunIterations(3));
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      ExpectPotShareByEquity(p, "r:0:c:c:Kd:c:c:3s:c");
      // The river root reads the compressed stores: its EVs average its children's.
      const Values root = Evs(p, "r:0:c:c:Kd:c:c:3s");
      double sum = 0.0, total = 0.0;
      for (int c = 0; c < kComboCount; ++c)
        if (!std::isnan(root.evs[c])) sum += root.weights[c] * root.evs[c], total += root.weights[c];
      EXPECT_GT(total, 0.0);
      EXPECT_TRUE(std::isfinite(sum / total));
    }
    EXPECT_EQ(Run("calc_global_freq r:0:c:c:Kd:c:c:3s:b20").find("ERROR"), std::string::npos);
  }
}

TEST_F(ComboEvTest, IsomorphicTreeGivesTheCheckDownEvsInRealSuits) {
  const Spot spot = reference_game::MakeClassSpot("Qh8h5s", {"AA", "KQs", "76s", "T9o"},
                                                  {"QQ", "A5s", "88", "KJo"}, 100,
                                                  {{0, 0, 0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot, false));
  ASSERT_TRUE(State().flags & ISOMORPHISM_ON);
  ExpectPotShareByEquity(PLAYER_OOP, "r:0:c:c:2c");
  ExpectPotShareByEquity(PLAYER_IP, "r:0:c:c:Ad:c:c:3s");
}

TEST_F(ComboEvTest, RangeWeightedEvsAreThePlayersEvOfThePass) {
  const Spot spot = reference_game::MakeSpot(
      "2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c QhJh", "AhAs QcQd Th9h 6d5d 8c8s 7h7s", 60,
      {{20}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  ASSERT_NO_FATAL_FAILURE(RunIterations(15));
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    const Values v = Evs(p, "r:0");
    double sum = 0.0, total = 0.0;
    for (int c = 0; c < kComboCount; ++c) {
      if (std::isnan(v.evs[c])) continue;
      sum += v.weights[c] * v.evs[c];
      total += v.weights[c];
    }
    // The refresh ran with the EVs: the state's figures are current.
    const SolverState& state = State();
    EXPECT_EQ(state.last_results_iteration, state.iterations);
    EXPECT_NEAR(sum / total, p == PLAYER_OOP ? state.ev_oop : state.ev_ip, 1e-9);
  }
}

TEST_F(ComboEvTest, EvsFollowAStrategySetWithoutAnIterationBetween) {
  const Spot spot = reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d", "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
      {{0, 0, 0, 0, 0, 0}, {0, 0, 20}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  ASSERT_NO_FATAL_FAILURE(RunIterations(3));
  auto weighted_mean = [](const Values& v) {
    double sum = 0.0, total = 0.0;
    for (int c = 0; c < kComboCount; ++c)
      if (!std::isnan(v.evs[c])) sum += v.weights[c] * v.evs[c], total += v.weights[c];
    return sum / total;
  };
  const double before = weighted_mean(Evs(PLAYER_OOP, "r:0"));
  // OOP now bets every turn after the flop checks through, below a turn deal
  // of the root's targeted pass.
  std::string bet = "set_strategy r:0:c:c:Kd 0", check = "set_strategy r:0:c:c:Kd 1";
  for (int c = 0; c < kComboCount; ++c) bet += " 1", check += " 0";
  ASSERT_EQ(Run(bet), "set_strategy ok!\n");
  ASSERT_EQ(Run(check), "set_strategy ok!\n");
  const double after = weighted_mean(Evs(PLAYER_OOP, "r:0"));
  double out[2];
  TraverseTree(&State(), out, PLAYER_OOP, PASS_EVALUATE);
  EXPECT_NEAR(after, out[0], 1e-9);
  EXPECT_GT(std::fabs(after - before), 1e-6);
}

TEST_F(ComboEvTest, BothPlayersEvsAtANodeShareThePot) {
  // Zero-sum below any node: over the same matchups (equal weight sums) the
  // two players' range EVs add up to the pot.
  const Spot spot = reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d", "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
      {{30}, {0, 30}, {0, 0, 0, 0, 0, 0}, {0, 0, 20}, {0, 0, 0, 0, 20}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  ASSERT_NO_FATAL_FAILURE(RunIterations(4));
  const double pot = 2.0 * HalfRootPot();
  for (const char* path : {"r:0", "r:0:c", "r:0:b30", "r:0:c:c", "r:0:c:c:Kd", "r:0:c:c:Kd:c",
                           "r:0:c:c:Kd:c:c", "r:0:c:c:Kd:c:c:3s", "r:0:c:c:Kd:c:c:3s:b20"}) {
    SCOPED_TRACE(path);
    double mean[2], mass[2];
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      const Values v = Evs(p, path);
      double sum = 0.0, total = 0.0;
      for (int c = 0; c < kComboCount; ++c)
        if (!std::isnan(v.evs[c])) sum += v.weights[c] * (v.evs[c] + 0.5 * pot), total += v.weights[c];
      mean[p] = sum / total;
      mass[p] = total;
    }
    EXPECT_NEAR(mass[PLAYER_OOP], mass[PLAYER_IP], 1e-9 * mass[PLAYER_OOP]);
    EXPECT_NEAR(mean[PLAYER_OOP] + mean[PLAYER_IP], pot, 1e-6);
  }
}

TEST_F(ComboEvTest, ALoadedTreeAnswersAsTheTreeItWasSavedFrom) {
  const Spot spot = reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d", "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
      {{30}, {0, 30}, {0, 0, 0, 0, 0, 0}, {0, 0, 20}, {0, 0, 0, 0, 20}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  ASSERT_NO_FATAL_FAILURE(RunIterations(4));
  const char* const kPaths[] = {"r:0", "r:0:c:c:Kd", "r:0:c:c:Kd:c:c:3s"};
  std::vector<Values> saved;
  for (const char* path : kPaths) saved.push_back(Evs(PLAYER_IP, path));
  const std::string freq = Run("calc_line_freq r:0:c:c:Kd:c:c:3s:b20");
  const std::string eq = Run("calc_eq_node OOP r:0:c:c:Kd");

  char pattern[] = "/tmp/tdx_combo_ev_XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string file = dir + "/saved.tree";
  ASSERT_EQ(Run("dump_tree " + file), "dump_tree ok!\n");
  ASSERT_EQ(Run("load_tree " + file), "load_tree ok!\n");
  std::remove(file.c_str());
  rmdir(dir.c_str());
  for (size_t i = 0; i < saved.size(); ++i) {
    SCOPED_TRACE(kPaths[i]);
    const Values loaded = Evs(PLAYER_IP, kPaths[i]);
    for (int c = 0; c < kComboCount; ++c) {
      ASSERT_EQ(std::isnan(loaded.evs[c]), std::isnan(saved[i].evs[c])) << c;
      if (std::isnan(loaded.evs[c])) continue;
      EXPECT_NEAR(loaded.evs[c], saved[i].evs[c], 1e-9) << c;
      EXPECT_NEAR(loaded.weights[c], saved[i].weights[c], 1e-9) << c;
    }
  }
  EXPECT_EQ(Run("calc_line_freq r:0:c:c:Kd:c:c:3s:b20"), freq);
  EXPECT_EQ(Run("calc_eq_node OOP r:0:c:c:Kd"), eq);
}

TEST_F(ComboEvTest, ATreeWithoutValuesPrintsZeroEvsAndItsWeights) {
  const Spot spot = reference_game::MakeSpot("2c7d8hJs3s", "AcKc QdQh", "AdKd AhQc", 100,
                                             {{50}, {0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  g_tree_without_values = 1;  // as a tree file without per-card values leaves it
  std::istringstream reply(Run("calc_ev OOP r"));
  std::string evs, weights, end;
  std::getline(reply, evs);
  std::getline(reply, weights);
  std::getline(reply, end);
  EXPECT_EQ(end, "END");
  std::istringstream ev_words(evs), weight_words(weights);
  std::string ev, weight;
  int listed = 0;
  while (ev_words >> ev && weight_words >> weight) {
    if (ev == "nan") continue;
    ++listed;
    EXPECT_EQ(ev, "0");
    EXPECT_NE(weight, "0");
  }
  EXPECT_EQ(listed, 2);
}

TEST_F(ComboEvTest, AHandNoOpponentHandCanMeetHasEvZeroAndWeightZero) {
  // IP holds only hands that block AcKc... and one that does not.
  const Spot spot = reference_game::MakeSpot("2c7d8hJs3s", "AcKc QdQh", "AdKc AcQc", 100,
                                             {{50}, {0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const Values v = Evs(PLAYER_OOP, "r:0");
  const int blocked = reference_game::ComboFromText("AcKc");
  EXPECT_DOUBLE_EQ(v.evs[blocked], 0.0);
  EXPECT_DOUBLE_EQ(v.weights[blocked], 0.0);
  EXPECT_GT(v.weights[reference_game::ComboFromText("QdQh")], 0.0);
  EXPECT_TRUE(std::isnan(v.evs[reference_game::ComboFromText("AdKc")]));
}

// calc_ev is not refused while the solver runs: its passes queue with the
// solver's on the pass mutex. The figures move with the run, the impossible
// combinations do not.
TEST_F(ComboEvTest, EvsAnswerBesideARunningSolver) {
  const Spot spot = reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d", "AhAs KcKd JcJd Th9h 6d5d 8c8s 7h7s", 60,
      {{30}, {0, 30}, {0, 0, 0, 0, 0, 0}, {0, 0, 20}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const Values idle[2] = {Evs(PLAYER_OOP, "r:0:c:c:Kd"), Evs(PLAYER_IP, "r:0:c")};
  ASSERT_EQ(Run("go 2000 steps"), "go ok!\n");
  for (int round = 0; round < 6 && IsSolverRunning(); ++round) {
    const Values busy[2] = {Evs(PLAYER_OOP, "r:0:c:c:Kd"), Evs(PLAYER_IP, "r:0:c")};
    for (int k = 0; k < 2; ++k)
      for (int c = 0; c < kComboCount; ++c) {
        ASSERT_EQ(std::isnan(busy[k].evs[c]), std::isnan(idle[k].evs[c])) << k << " " << c;
        if (std::isnan(busy[k].evs[c])) continue;
        ASSERT_TRUE(std::isfinite(busy[k].evs[c])) << k << " " << c;
        ASSERT_GE(busy[k].weights[c], 0.0) << k << " " << c;
      }
  }
  Run("stop");
  WaitForSolver();
  // After the run the refresh measures the strategies it left.
  Evs(PLAYER_OOP, "r:0");
  EXPECT_EQ(State().last_results_iteration, State().iterations);
}

}  // namespace
