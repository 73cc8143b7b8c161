// The strategy display and the range and reach walks on small solved trees,
// checked from the replies themselves: strategies are distributions over the
// children for every combination a player can hold on the board; a range
// recomputed by hand from the show_strategy rows along a line equals
// show_range there, and show_probs follows from those ranges; suit-isomorphic
// turn cards show suit-swapped strategies.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "cards/suit_isomorphism.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "support/strategy_replies.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"

namespace {

using solver_spots::SmallFlopSpot;

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> words;
  std::string word;
  std::istringstream in(path);
  while (std::getline(in, word, ':')) words.push_back(word);
  return words;
}

class NodeQueriesTest : public TreeBuildTest {
 protected:
  // The root weight of a hand-order position in the player's range.
  static double RootWeight(int player, HandOrder p) {
    return g_ranges[player][g_combo_by_hand_order[p]];
  }

  static CardMask PathBoard(const std::string& path) {
    const ResolvedPath resolved = ResolveNodePath(&State(), path);
    CardMask board = g_board_flop;
    if (resolved.turn_card >= 0) board |= CardBit(resolved.turn_card);
    if (resolved.river_card >= 0) board |= CardBit(resolved.river_card);
    return board;
  }

  // Every row of show_strategy at the path is a distribution over the
  // children for each combination on the board with weight; every other
  // combination prints 0 in every row.
  static void ExpectDistributions(const std::string& path) {
    const std::vector<std::vector<double>> rows = StrategyRows(path);
    ASSERT_FALSE(rows.empty());
    const ResolvedPath resolved = ResolveNodePath(&State(), path);
    const int player = resolved.node->player;
    const CardMask board = PathBoard(path);
    for (HandOrder p = 0; p < kComboCount; ++p) {
      const bool held = !(g_combo_card_masks[p] & board) && RootWeight(player, p) > 0.0;
      double sum = 0.0;
      for (const std::vector<double>& row : rows) {
        if (!held) {
          EXPECT_EQ(row[p], 0.0) << path << " " << p;
        }
        EXPECT_GE(row[p], 0.0);
        sum += row[p];
      }
      if (held) {
        EXPECT_NEAR(sum, 1.0, 1e-6) << path << " " << p;
      }
    }
  }

  // The player's range at the path composed by hand: the root weights times
  // the show_strategy row of the child taken at each of the player's decisions
  // on the way (the prefixes of the path); 0 for a combination that touches
  // the board of one of those decisions.
  static std::vector<double> RangeByHand(int player, const std::string& path) {
    std::vector<double> range(kComboCount);
    for (HandOrder p = 0; p < kComboCount; ++p) range[p] = RootWeight(player, p);
    const std::vector<std::string> words = SplitPath(path);
    std::string prefix = "r:0";
    for (size_t w = 2; w < words.size(); ++w) {
      const ResolvedPath at = ResolveNodePath(&State(), prefix);
      if (!at.split && at.node && !at.node->children.empty() && at.node->player == player) {
        int child = 0;
        int taken = -1;
        for (const auto& entry : at.node->children) {
          if (MakeActionLabel(*at.node, entry.first) == words[w]) taken = child;
          ++child;
        }
        EXPECT_GE(taken, 0) << prefix << " " << words[w];
        const std::vector<double> row = StrategyRows(prefix)[static_cast<size_t>(taken)];
        const CardMask board = PathBoard(prefix);
        for (HandOrder p = 0; p < kComboCount; ++p)
          range[p] = (g_combo_card_masks[p] & board) ? 0.0 : range[p] * row[p];
      }
      prefix += ":" + words[w];
    }
    return range;
  }

  static double ReachByHand(int player, const std::string& path) {
    const std::vector<double> range = RangeByHand(player, path);
    const CardMask board = PathBoard(path);
    double reached = 0.0, total = 0.0;
    for (HandOrder p = 0; p < kComboCount; ++p) {
      if (g_combo_card_masks[p] & board) continue;
      reached += range[p];
      total += RootWeight(player, p);
    }
    return reached / total;
  }
};

const char* const kDecisionPaths[] = {
    "r:0",                      // OOP, flop
    "r:0:b10",                  // IP facing the flop bet
    "r:0:c",                    // IP after the flop check
    "r:0:c:c:3s",               // OOP, turn
    "r:0:c:c:3s:c",             // IP, turn
    "r:0:c:c:3s:c:c:4d",        // OOP, river
    "r:0:c:c:3s:c:c:4d:b20",    // IP facing the river bet
    "r:0:c:c:3s:c:c:4d:c",      // IP after the river check
    "r:0:c:c:3s:c:c:4d:c:b20",  // OOP facing IP's river bet
};

TEST_F(NodeQueriesTest, UnsolvedNodesShowEveryChildAlike) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  for (const char* path : {"r:0", "r:0:c:c:3s:c:c:4d:c"}) {
    const std::vector<std::vector<double>> rows = StrategyRows(path);
    ASSERT_EQ(rows.size(), 2u);
    const int player = ResolveNodePath(&State(), path).node->player;
    const CardMask board = PathBoard(path);
    for (HandOrder p = 0; p < kComboCount; ++p) {
      const bool held = !(g_combo_card_masks[p] & board) && RootWeight(player, p) > 0.0;
      for (const std::vector<double>& row : rows) EXPECT_EQ(row[p], held ? 0.5 : 0.0) << path;
    }
  }
}

// Below iteration 63 the current strategy is shown, from then on the average:
// both must be distributions on every street.
TEST_F(NodeQueriesTest, StrategiesAreDistributionsBeforeAndAfterAveraging) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(40));
  for (const char* path : kDecisionPaths) ExpectDistributions(path);
  ASSERT_NO_FATAL_FAILURE(RunIterations(40));
  for (const char* path : kDecisionPaths) ExpectDistributions(path);
}

TEST_F(NodeQueriesTest, RangesAndReachFollowTheShownStrategies) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(80));
  const char* const paths[] = {"r:0:b10", "r:0:c:c:3s:c", "r:0:c:c:3s:c:c:4d:b20",
                               "r:0:c:c:3s:c:c:4d:c:b20", "r:0:b10:c"};
  for (const char* path : paths) {
    for (int player : {PLAYER_OOP, PLAYER_IP}) {
      const std::string word = player == PLAYER_OOP ? "OOP" : "IP";
      const std::vector<double> shown = Numbers(RunLine("show_range " + word + " " + path));
      ASSERT_EQ(shown.size(), static_cast<size_t>(kComboCount));
      const std::vector<double> expected = RangeByHand(player, path);
      for (HandOrder p = 0; p < kComboCount; ++p)
        EXPECT_NEAR(shown[p], expected[p], 1e-9) << path << " " << word << " " << p;
    }
    std::istringstream reply(RunLine(std::string("show_probs ") + path));
    std::string oop_word, ip_word;
    double oop = 0, ip = 0;
    reply >> oop_word >> oop >> ip_word >> ip;
    EXPECT_EQ(oop_word, "OOP");
    EXPECT_EQ(ip_word, "IP");
    EXPECT_NEAR(oop, ReachByHand(PLAYER_OOP, path), 1e-9) << path;
    EXPECT_NEAR(ip, ReachByHand(PLAYER_IP, path), 1e-9) << path;
  }
}

// At the acting player's first decision the action frequencies of show_probs
// add up to 1, and each is the reach of the child over the reach of the node.
TEST_F(NodeQueriesTest, ActionFrequenciesSplitTheReach) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(70));
  for (const char* path : {"r:0", "r:0:c", "r:0:c:c:3s:c:c:4d:c"}) {
    std::istringstream reply(RunLine(std::string("show_probs ") + path));
    std::string word;
    double oop = 0, ip = 0;
    reply >> word >> oop >> word >> ip;
    const int actor = ResolveNodePath(&State(), path).node->player;
    const double own = actor == PLAYER_OOP ? oop : ip;
    std::string label;
    double frequency = 0, sum = 0;
    int children = 0;
    while (reply >> label >> frequency) {
      EXPECT_NEAR(frequency * own, ReachByHand(actor, std::string(path) + ":" + label), 1e-9);
      sum += frequency;
      ++children;
    }
    EXPECT_EQ(children, static_cast<int>(ResolveNodePath(&State(), path).node->children.size()));
    if (std::string(path) != "r:0:c:c:3s:c:c:4d:c") {
      EXPECT_NEAR(sum, 1.0, 1e-6) << path;
    }
  }
}

// Ranges set after the build do not change what the tree answers: the tree
// keeps its own copies.
TEST_F(NodeQueriesTest, QueriesUseTheTreesOwnRanges) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(30));
  const std::string before = RunLine("show_range OOP r:0:b10");
  const std::string probs = RunLine("show_probs r:0:c");
  const std::vector<double> root = g_ranges[PLAYER_OOP];
  g_ranges[PLAYER_OOP].assign(kComboCount, 1.0);
  EXPECT_EQ(RunLine("show_range OOP r:0:b10"), before);
  EXPECT_EQ(RunLine("show_probs r:0:c"), probs);
  g_ranges[PLAYER_OOP] = root;
}

// With isomorphism on, a turn card and a suit-isomorphic one share a board
// record: the strategies are the same with the two suits exchanged.
TEST_F(NodeQueriesTest, IsomorphicTurnCardsShowSuitSwappedStrategies) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(solver_spots::SuitSymmetricFlopSpot(), false));
  ASSERT_TRUE(State().flags & ISOMORPHISM_ON);
  ASSERT_NO_FATAL_FAILURE(RunIterations(70));
  // Diamonds and hearts: suits 1 and 2.
  const std::vector<std::vector<double>> diamond = StrategyRows("r:0:c:c:Ad");
  const std::vector<std::vector<double>> heart = StrategyRows("r:0:c:c:Ah");
  ASSERT_EQ(diamond.size(), heart.size());
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const HandOrder q = SuitSwappedPosition(p, 1, 2);
    ASSERT_LT(q, kComboCount);
    for (size_t a = 0; a < diamond.size(); ++a)
      EXPECT_NEAR(diamond[a][p], heart[a][q], 1e-12) << p;
  }
}

// Queries while the solver runs wait for the pass under way and read whole
// strategies; the river values they open are those the passes use.
TEST_F(NodeQueriesTest, QueriesAnswerWhileTheSolverRuns) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  ASSERT_EQ(RunLine("go 400 steps").substr(0, 6), "go ok!");
  for (int i = 0; i < 20; ++i) {
    ExpectDistributions("r:0:c:c:3s:c:c:4d:c");
    ExpectDistributions("r:0:c:c:3s");
    EXPECT_EQ(Numbers(RunLine("show_range OOP r:0:c:c:3s:c:c:4d:c:b20")).size(),
              static_cast<size_t>(kComboCount));
  }
  RunLine("stop");
  WaitForSolver();
}

TEST_F(NodeQueriesTest, RefusesWhatIsNoDecision) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(SmallFlopSpot()));
  EXPECT_EQ(RunLine("show_strategy r"), "ERROR: show_strategy incorrect path\n");
  EXPECT_EQ(RunLine("show_strategy r:0:b10:f"), "ERROR: show_strategy incorrect path\n");
  EXPECT_EQ(RunLine("show_strategy r:0:c:c"), "ERROR: show_strategy incorrect path\n");
  EXPECT_EQ(RunLine("show_strategy r:0:x"), "ERROR: show_strategy incorrect path\n");
  EXPECT_EQ(RunLine("show_range OOP r:0:b11"), "ERROR: show_range incorrect path\n");
  EXPECT_EQ(RunLine("show_range Hero r:0"), "ERROR: show_range incorrect player name\n");
  EXPECT_EQ(RunLine("show_range"), "ERROR: show_range incorrect or missing argument\n");
  EXPECT_EQ(RunLine("show_probs r:0:c:c:2c"), "ERROR: show_probs incorrect path\n");
}

}  // namespace
