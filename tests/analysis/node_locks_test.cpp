// Node locking and user strategies: a river node locked to a pure action is
// solved as the game restricted to that action (checked against the reference
// solver of the restricted tree), with the opponent's best response taken
// against the locked strategy; combination locks keep exactly their hands;
// set_strategy restarts the average; isomorphic turn cards share their locks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "cards/suit_isomorphism.h"
#include "compress/compression_level.h"
#include "solver/progress_history.h"
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

namespace {

using reference_game::Spot;

const char* const kOopHands = "AcKd 7c7s 2c2d QcJc 5c4c Ts9s 8h6h Ad9d";
const char* const kIpHands = "AhKh KsQs 9h9d Tc8c 6c5d 3h3d JhTh Qd8d";

// OOP may bet 20 or check; after the check IP may bet 20.
Spot RiverSpot(std::vector<std::vector<double>> lines) {
  return reference_game::MakeSpot("Kc7d2h3s9c", kOopHands, kIpHands, 60, std::move(lines));
}

// The hand-order position of a combination.
HandOrder Position(int combo) { return g_hand_order_by_combo[combo]; }

class NodeLocksTest : public TreeBuildTest {
 protected:
  static ProgressRecord Results() {
    ProgressRecord results{};
    EXPECT_TRUE(ComputeResults(&results));
    return results;
  }

  // OOP checks every hand at the root: the bet's row 0, the check's row 1.
  static void SetPureCheck(const std::string& path) {
    ASSERT_EQ(RunLine(ComboLine("set_strategy " + path + " 0",
                                std::vector<double>(kComboCount, 0.0))),
              "set_strategy ok!\n");
    ASSERT_EQ(RunLine(ComboLine("set_strategy " + path + " 1",
                                std::vector<double>(kComboCount, 1.0))),
              "set_strategy ok!\n");
  }
};

TEST_F(NodeLocksTest, APureLockSolvesTheRestrictedGame) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(RiverSpot({{20}, {0, 20}})));
  ASSERT_NO_FATAL_FAILURE(SetPureCheck("r:0"));
  ASSERT_EQ(RunLine("lock_node r:0"), "lock_node ok!\n");
  ASSERT_NO_FATAL_FAILURE(RunIterations(2000));
  const ProgressRecord engine = Results();

  // The same spot where OOP can only check.
  reference_game::ReferenceGame restricted(RiverSpot({{0, 20}}));
  restricted.SolveCfr(4000);
  const double oop = restricted.GameValue(PLAYER_OOP);
  const double ip = restricted.GameValue(PLAYER_IP);
  EXPECT_LT(restricted.Exploitability(), 0.02);
  EXPECT_NEAR(engine.ev_oop, oop, 0.05);
  EXPECT_NEAR(engine.ev_ip, ip, 0.05);
  // Best responses: IP's against the locked strategy; OOP's own keeps the lock.
  EXPECT_NEAR(engine.mes_ip, ip, 0.05);
  EXPECT_NEAR(engine.mes_oop, oop, 0.05);
  EXPECT_LT(engine.exploitability, 0.05);

  // The lock held: every hand still checks.
  const std::vector<std::vector<double>> rows = StrategyRows("r:0");
  ASSERT_EQ(rows.size(), 2u);
  for (const char* hand : {"AcKd", "7c7s", "5c4c", "8h6h"}) {
    EXPECT_NEAR(rows[0][Position(Combo(hand))], 0.0, 1e-6) << hand;
    EXPECT_NEAR(rows[1][Position(Combo(hand))], 1.0, 1e-6) << hand;
  }
  // Betting is worth something here: the lock did restrict the game.
  reference_game::ReferenceGame full(RiverSpot({{20}, {0, 20}}));
  full.SolveCfr(4000);
  EXPECT_GT(full.GameValue(PLAYER_OOP), oop + 0.05);
}

// Combination locks keep the set strategy of their hands only, through
// solving; the other hands move.
TEST_F(NodeLocksTest, ACombinationLockKeepsItsHands) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(RiverSpot({{20}, {0, 20}})));
  std::vector<double> bet(kComboCount, 0.5), check(kComboCount, 0.5), mask(kComboCount, 0.0);
  // The nuts checks and the worst hand bets, locked; a made hand stays free.
  bet[Combo("AcKd")] = 0.0;
  check[Combo("AcKd")] = 1.0;
  bet[Combo("5c4c")] = 1.0;
  check[Combo("5c4c")] = 0.0;
  mask[Combo("AcKd")] = 1.0;
  mask[Combo("5c4c")] = 2.5;
  ASSERT_EQ(RunLine(ComboLine("set_strategy r:0 0", bet)), "set_strategy ok!\n");
  ASSERT_EQ(RunLine(ComboLine("set_strategy r:0 1", check)), "set_strategy ok!\n");
  ASSERT_EQ(RunLine(ComboLine("combo_lock_node r:0", mask)), "combo_lock_node ok!\n");
  ASSERT_NO_FATAL_FAILURE(RunIterations(300));
  const std::vector<std::vector<double>> rows = StrategyRows("r:0");
  EXPECT_NEAR(rows[1][Position(Combo("AcKd"))], 1.0, 1e-6);
  EXPECT_NEAR(rows[0][Position(Combo("5c4c"))], 1.0, 1e-6);
  EXPECT_GT(std::fabs(rows[0][Position(Combo("7c7s"))] - 0.5), 0.05);
}

TEST_F(NodeLocksTest, LockedCombinationsShowTheMaskOnTheBoard) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(RiverSpot({{20}, {0, 20}})));
  std::vector<double> mask(kComboCount, 0.0);
  // In OOP's range, in IP's range, touching the board, in neither range.
  for (const char* hand : {"AcKd", "AhKh", "Kc4d", "AsAd"}) mask[Combo(hand)] = 1.0;
  ASSERT_EQ(RunLine(ComboLine("combo_lock_node r:0", mask)), "combo_lock_node ok!\n");
  const std::vector<double> shown = Numbers(RunLine("show_locked_combos r:0"));
  ASSERT_EQ(shown.size(), static_cast<size_t>(kComboCount));
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const int combo = g_combo_by_hand_order[p];
    const bool expected = combo == Combo("AcKd") || combo == Combo("AhKh");
    EXPECT_EQ(shown[p], expected ? 1.0 : 0.0) << p;
  }
  EXPECT_NE(RunLine("show_node r:0").find("flags: COMBO_LOCKED\n"), std::string::npos);
  // A whole-node lock drops the mask; so does unlocking.
  ASSERT_EQ(RunLine("lock_node r:0"), "lock_node ok!\n");
  EXPECT_EQ(Numbers(RunLine("show_locked_combos r:0")), std::vector<double>(kComboCount, 0.0));
  EXPECT_NE(RunLine("show_node r:0").find("flags: LOCKED\n"), std::string::npos);
  ASSERT_EQ(RunLine(ComboLine("combo_lock_node r:0", mask)), "combo_lock_node ok!\n");
  EXPECT_NE(RunLine("show_node r:0").find("flags: COMBO_LOCKED\n"), std::string::npos);
  ASSERT_EQ(RunLine("unlock_node r:0"), "unlock_node ok!\n");
  EXPECT_EQ(Numbers(RunLine("show_locked_combos r:0")), std::vector<double>(kComboCount, 0.0));
  EXPECT_NE(RunLine("show_node r:0").find("flags: \n"), std::string::npos);
}

// After iteration 60 the average strategy is shown: setting every child
// restarts it, so the set strategy shows at once.
TEST_F(NodeLocksTest, SettingTheStrategyRestartsTheAverage) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(RiverSpot({{20}, {0, 20}})));
  ASSERT_NO_FATAL_FAILURE(RunIterations(100));
  ASSERT_NO_FATAL_FAILURE(SetPureCheck("r:0"));
  const std::vector<std::vector<double>> rows = StrategyRows("r:0");
  for (const char* hand : {"AcKd", "7c7s", "5c4c"}) {
    EXPECT_NEAR(rows[0][Position(Combo(hand))], 0.0, 1e-6) << hand;
    EXPECT_NEAR(rows[1][Position(Combo(hand))], 1.0, 1e-6) << hand;
  }
}

// With isomorphism on, a turn card and a suit-isomorphic one share one board
// record: locking one locks the other, with the suits exchanged.
TEST_F(NodeLocksTest, IsomorphicTurnCardsShareTheirLocks) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(solver_spots::SuitSymmetricFlopSpot(), false));
  ASSERT_TRUE(State().flags & ISOMORPHISM_ON);
  ASSERT_EQ(RunLine("lock_node r:0:c:c:Ad"), "lock_node ok!\n");
  EXPECT_NE(RunLine("show_node r:0:c:c:Ah").find("flags: LOCKED\n"), std::string::npos);
  EXPECT_NE(RunLine("show_node r:0:c:c:As").find("flags: LOCKED\n"), std::string::npos);
  EXPECT_NE(RunLine("show_node r:0:c:c:Ac").find("flags: \n"), std::string::npos);

  std::vector<double> mask(kComboCount, 0.0);
  for (const char* hand : {"KdQd", "AhAs", "6d5h"}) mask[Combo(hand)] = 1.0;
  ASSERT_EQ(RunLine(ComboLine("combo_lock_node r:0:c:c:Ad", mask)), "combo_lock_node ok!\n");
  const std::vector<double> diamond = Numbers(RunLine("show_locked_combos r:0:c:c:Ad"));
  const std::vector<double> heart = Numbers(RunLine("show_locked_combos r:0:c:c:Ah"));
  ASSERT_EQ(diamond.size(), static_cast<size_t>(kComboCount));
  ASSERT_EQ(heart.size(), static_cast<size_t>(kComboCount));
  double locked = 0.0;
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const HandOrder q = SuitSwappedPosition(p, 1, 2);
    ASSERT_LT(q, kComboCount);
    EXPECT_EQ(diamond[p], heart[q]) << p;
    locked += diamond[p];
  }
  // AhAs touches no card of the board with Ad; KdQd and 6d5h are in the ranges.
  EXPECT_EQ(locked, 3.0);
}

// Locks in a flop-rooted tree, on the flop and the river, on every scheduler
// and through packed and coded river blocks: the locked boards keep the set
// strategy, the hand under a combination lock keeps its own, in every kernel.
TEST_F(NodeLocksTest, EverySchedulerAndStoreHonoursLocks) {
  const Spot spot = reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d 4s3s",
      "AhAs KcKd JcJd Th9h 6d5d 8c8s Kd7c 5s4s", 60, solver_spots::kSmallBetLines);
  const std::string locked = "r:0:c:c:3s:c:c:4d";     // OOP: every hand checks
  const std::string masked = "r:0:c:c:3s:c:c:4d:c";   // IP: 8c8s always bets
  const uint32_t saved_scheduler = g_scheduler.load();
  // Level 4 adds the early river iterations by hand groups.
  const std::pair<int32_t, uint32_t> runs[] = {{0, 0}, {0, 1}, {0, 2}, {2, 0}, {4, 2}};
  for (const auto& [level, scheduler] : runs) {
    {
      SCOPED_TRACE("level " + std::to_string(level) + ", scheduler " + std::to_string(scheduler));
      ResetSituation();
      g_compression_setting = level;
      g_scheduler.store(scheduler);
      ASSERT_NO_FATAL_FAILURE(BuildSpot(spot));
      ASSERT_NO_FATAL_FAILURE(RunIterations(1));
      ASSERT_NO_FATAL_FAILURE(SetPureCheck(locked));
      ASSERT_EQ(RunLine("lock_node " + locked), "lock_node ok!\n");
      // The flop root too: the flop kernels keep it.
      ASSERT_NO_FATAL_FAILURE(SetPureCheck("r:0"));
      ASSERT_EQ(RunLine("lock_node r:0"), "lock_node ok!\n");
      std::vector<double> bet(kComboCount, 0.5), check(kComboCount, 0.5), mask(kComboCount, 0.0);
      bet[Combo("8c8s")] = 1.0;
      check[Combo("8c8s")] = 0.0;
      mask[Combo("8c8s")] = 1.0;
      ASSERT_EQ(RunLine(ComboLine("set_strategy " + masked + " 0", bet)), "set_strategy ok!\n");
      ASSERT_EQ(RunLine(ComboLine("set_strategy " + masked + " 1", check)), "set_strategy ok!\n");
      ASSERT_EQ(RunLine(ComboLine("combo_lock_node " + masked, mask)), "combo_lock_node ok!\n");
      ASSERT_NO_FATAL_FAILURE(RunIterations(70));
      for (const std::string& path : {locked, std::string("r:0")}) {
        const std::vector<std::vector<double>> pure = StrategyRows(path);
        for (const char* hand : {"AcAd", "KhKs", "6c5c", "Ts9s"})
          EXPECT_NEAR(pure[1][Position(Combo(hand))], 1.0, 1e-6) << path << " " << hand;
      }
      const std::vector<std::vector<double>> rows = StrategyRows(masked);
      EXPECT_NEAR(rows[0][Position(Combo("8c8s"))], 1.0, 1e-6);
      // Another board of the same node is solved freely.
      const std::vector<std::vector<double>> free_board = StrategyRows("r:0:c:c:3s:c:c:Qd");
      double moved = 0.0;
      for (const char* hand : {"AcAd", "KhKs", "6c5c", "Ts9s"})
        moved = std::max(moved, std::fabs(free_board[1][Position(Combo(hand))] - 0.5));
      EXPECT_GT(moved, 0.05);
    }
  }
  g_scheduler.store(saved_scheduler);
}

TEST_F(NodeLocksTest, BadLinesChangeNothing) {
  EXPECT_EQ(RunLine("lock_node r:0"), "ERROR: lock_node missing/incorrect tree\n");
  ASSERT_NO_FATAL_FAILURE(BuildSpot(RiverSpot({{20}, {0, 20}})));
  EXPECT_EQ(RunLine("lock_node r"), "ERROR: lock_node incorrect path\n");
  EXPECT_EQ(RunLine("unlock_node r:0:b20:f"), "ERROR: unlock_node incorrect path\n");
  EXPECT_EQ(RunLine("show_locked_combos r:0:c:c"), "ERROR: show_locked_combos incorrect path\n");
  const std::vector<double> half(kComboCount, 0.5);
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 2", half)),
            "ERROR: set_strategy invalid child index\n");
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 -1", half)),
            "ERROR: set_strategy invalid child index\n");
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 x", half)), "Invalid value\n");
  std::vector<double> bad = half;
  bad[100] = -0.25;
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 0", bad)), "Invalid value\n");
  bad[100] = std::nan("");
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 0", bad)), "Invalid value\n");
  bad[100] = INFINITY;
  EXPECT_EQ(RunLine(ComboLine("combo_lock_node r:0", bad)), "Invalid value\n");
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0", half)),
            "ERROR: set_strategy incorrect or missing argument\n");
  // Nothing of the above reached the node.
  EXPECT_EQ(RunLine("show_node r:0").find("LOCKED"), std::string::npos);
  const std::vector<std::vector<double>> rows = StrategyRows("r:0");
  for (HandOrder p = 0; p < kComboCount; ++p)
    if (rows[0][p] != 0.0) {
      EXPECT_EQ(rows[0][p], 0.5) << p;
    }
}

// The 16-bit river rows of a flop-rooted tree hold values up to 65.535.
TEST_F(NodeLocksTest, SetStrategyRefusesWhatTheStoreCannotHold) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(reference_game::MakeSpot(
      "2c7d8h", "AcAd KhKs", "AhAs KcKd", 60, {{0, 0, 0, 0, 20}})));
  const std::string river = "r:0:c:c:3s:c:c:4d";
  EXPECT_EQ(RunLine(ComboLine("set_strategy " + river + " 0", std::vector<double>(kComboCount, 65.5))),
            "set_strategy ok!\n");
  EXPECT_EQ(RunLine(ComboLine("set_strategy " + river + " 0", std::vector<double>(kComboCount, 65.6))),
            "Invalid value\n");
  EXPECT_EQ(RunLine(ComboLine("set_strategy r:0 0", std::vector<double>(kComboCount, 65.6))),
            "set_strategy ok!\n");
}

}  // namespace
