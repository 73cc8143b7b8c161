// The showdown tables of lines all in before the river against the walk they
// replace: per turn board, the sum over its river cards of the showdown values
// of the reach gathered onto each river board and added back through every
// card list, on boards with and without interchangeable suits.
#include "solver/showdown_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/terminal_nodes.h"
#include "solver/tree_pass.h"
#include "store/index_maps.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/deal_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

using reference_game::ClassRange;

class ShowdownTablesTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    EndShowdownTables();
    Reset();
  }
  static void Reset() {
    StopSolverAndWait();
    TreeBuildTest::ResetSituation();
  }

  // A flop tree whose only line is an all-in on the flop, called: its river
  // deals stand at showdown end nodes.
  static void Build(const char* flop, bool isomorphism) {
    reference_game::Spot spot;
    spot.board = reference_game::BoardFromText(flop);
    spot.ranges[0] = ClassRange({"AA", "KK", "QQ", "JJ", "TT", "99", "AKs", "AQs", "KQs", "JTs",
                                 "T9s", "98s", "AKo", "AQo", "KQo", "76s", "65s", "A5s"});
    spot.ranges[1] = ClassRange({"AA", "QQ", "TT", "88", "66", "44", "22", "AJs", "KJs", "QJs",
                                 "J9s", "87s", "54s", "AJo", "KJo", "QJo", "A4s", "K9s"});
    spot.pot = 100;
    spot.lines = {{300, 300}};
    ASSERT_EQ(RunLine(isomorphism ? "set_isomorphism 1 1" : "set_isomorphism 0 0"),
              "set_isomorphism ok!\n");
    const std::string replies = RunLines(reference_game::EngineScript(spot));
    ASSERT_EQ(replies.find("ERROR"), std::string::npos) << replies.substr(0, 200);
    ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
  }

  // What the in-line walk adds up for one turn slot: per river record, the
  // reach gathered through card list 0, the showdown on that board, and the
  // result added back through every card list.
  static NumArray Walk(const TurnDealRecord& turn, const NumArray& reach, double v) {
    NumArray sum;
    sum.AssignZeros(turn.HandCount());
    for (const RiverDealRecord& rec : turn.river_records) {
      const HandGroupView view = rec.GroupView();
      NumArray in, out;
      Kernels<IndexMapsKernels>().GatherSumHandGroups(view, in, reach);
      EvaluateShowdown(rec, out, in, v, true);
      Kernels<IndexMapsKernels>().ScatterAddHandGroups(view, sum, out);
    }
    return sum;
  }
};

TEST_P(ShowdownTablesTest, EqualTheWalkOverTheRiverCards) {
  for (bool isomorphism : {false, true}) {
    Build(GetParam(), isomorphism);
    const SolverState& state = *g_solver_state;
    const DealTree& deal = *state.deal_tree;
    if (isomorphism && std::string(GetParam()) != "Qs8h4d") {
      // Interchangeable suits: some river records stand for several cards.
      size_t most_lists = 0;
      for (const TurnDealRecord& turn : deal.turn_records)
        for (const RiverDealRecord& rec : turn.river_records)
          most_lists = std::max(most_lists, rec.card_lists.size());
      EXPECT_GT(most_lists, 1u) << GetParam();
    }
    BeginShowdownTables(state);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (size_t t = 0; t < deal.turn_records.size(); t += 3) {
      const TurnDealRecord& turn = deal.turn_records[t];
      const int32_t n = turn.HandCount();
      NumArray reach(n);
      for (int32_t b = 0; b < n; ++b) reach[b] = u(rng) < 0.4 ? 0.0 : u(rng);
      for (double v : {150.0, -37.5}) {
        const NumArray want = Walk(turn, reach, v);
        NumArray got;
        got.AssignZeros(n);
        ASSERT_TRUE(AddShowdownDealValues(static_cast<int32_t>(t), got, reach, v));
        double scale = 0.0;
        for (int32_t b = 0; b < n; ++b) scale += std::fabs(v * reach[b]);
        scale *= static_cast<double>(turn.river_records.size());
        for (int32_t a = 0; a < n; ++a)
          ASSERT_NEAR(got[a], want[a], 1e-12 * scale)
              << GetParam() << " isomorphism " << isomorphism << " turn slot " << t << " hand " << a;
      }
    }
    EndShowdownTables();
  }
}

INSTANTIATE_TEST_SUITE_P(Flops, ShowdownTablesTest,
                         ::testing::Values("Qs8h4d", "7h7d2h", "Ks9s4s"));

TEST_F(ShowdownTablesTest, LeaveTheWalkToCasesTheyDoNotServe) {
  Build("Qs8h4d", false);
  const SolverState& state = *g_solver_state;
  const TurnDealRecord& turn = state.deal_tree->turn_records[0];
  const int32_t n = turn.HandCount();
  NumArray reach(n), out;
  for (int32_t b = 0; b < n; ++b) reach[b] = 1.0;
  out.AssignZeros(n);
  // No run under way: no tables.
  EXPECT_FALSE(AddShowdownDealValues(0, out, reach, 100.0));

  BeginShowdownTables(state);
  EXPECT_FALSE(AddShowdownDealValues(-1, out, reach, 100.0));
  EXPECT_FALSE(AddShowdownDealValues(static_cast<int32_t>(state.deal_tree->turn_records.size()), out,
                                     reach, 100.0));
  // A reach that, on a river card where it were the only one, would put the
  // showdown's total at its zero bound (the walk gives zeros there, the table
  // would not): the table steps aside whenever any reach is that small.
  reach[5] = 1e-41;
  EXPECT_FALSE(AddShowdownDealValues(0, out, reach, 100.0));
  for (int32_t a = 0; a < n; ++a) ASSERT_EQ(out[a], 0.0);
  // No reach above zero (zeros and NaN are skipped): nothing to add.
  for (int32_t b = 0; b < n; ++b) reach[b] = b % 2 ? 0.0 : std::nan("");
  EXPECT_TRUE(AddShowdownDealValues(0, out, reach, 100.0));
  for (int32_t a = 0; a < n; ++a) ASSERT_EQ(out[a], 0.0);
  EndShowdownTables();
}

// The solver thread drops its tables at the end of a run while a pass on the
// command thread (calc_results during a run) may still read them: dropping
// waits for the pass mutex, so a pass that holds it keeps working tables.
TEST_F(ShowdownTablesTest, OutliveThePassThatReadsThem) {
  Build("Qs8h4d", false);
  const SolverState& state = *g_solver_state;
  const int32_t n = state.deal_tree->turn_records[0].HandCount();
  NumArray reach(n), out;
  for (int32_t b = 0; b < n; ++b) reach[b] = 1.0;
  BeginShowdownTables(state);
  std::atomic<bool> dropped{false};
  std::thread ender;
  {
    std::lock_guard<std::mutex> pass(g_tree_pass_mutex);
    ender = std::thread([&] {
      EndShowdownTables();
      dropped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(dropped);
    out.AssignZeros(n);
    EXPECT_TRUE(AddShowdownDealValues(0, out, reach, 100.0));
  }
  ender.join();
  EXPECT_TRUE(dropped);
  out.AssignZeros(n);
  EXPECT_FALSE(AddShowdownDealValues(0, out, reach, 100.0));
}

}  // namespace
