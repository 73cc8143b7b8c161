// Solving passes with the river boards taken in sweeps (showdowns four at a
// time) against the plain recursive walk: the same spot solved both ways must
// give the same figures to the last bit, with one and with several threads,
// in both kernel builds, on a tree whose river has raises (up to five
// showdowns per board: own and opponent end pairs, showdowns below raises) and
// an EV boost on one river action; and on trees rooted on the turn and on the
// river, whose river stores hold floats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/isa_dispatch.h"
#include "solver/array_ops.h"
#include "solver/progress_history.h"
#include "solver/river_board_pass.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/tree_records.h"

namespace {

using reference_game::ClassRange;
using reference_game::Spot;

Spot RiverRaiseSpot() {
  Spot spot;
  spot.board = reference_game::BoardFromText("Qs8h4d");
  spot.ranges[0] = ClassRange({"AA", "KK", "QQ:0.5", "AKs", "T9s", "65s:0.75", "A5s", "KQo"});
  spot.ranges[1] = ClassRange({"JJ", "TT", "99:0.6", "AQs", "KJs", "87s", "JTs:0.5", "Q9s"});
  spot.pot = 60;
  spot.lines = {{20},
                {0, 0, 30},
                {0, 0, 0, 0, 40, 120},
                {0, 0, 0, 0, 0, 40, 120},
                {0, 0, 0, 0, 0, 0}};
  return spot;
}

// The same kind of river, rooted on the turn: the river boards come straight
// from the root's deal.
Spot TurnRootSpot() {
  Spot spot = RiverRaiseSpot();
  spot.board = reference_game::BoardFromText("Qs8h4d2c");
  spot.lines = {{20}, {0, 0, 40, 120}, {0, 0, 0, 40, 120}, {0, 0, 0, 0}};
  return spot;
}

// A tree rooted on the river: its root is the one board.
Spot RiverRootSpot() {
  Spot spot = RiverRaiseSpot();
  spot.board = reference_game::BoardFromText("Qs8h4d2c7s");
  spot.lines = {{20, 60}, {0, 40, 120}, {0, 0}};
  return spot;
}

// A river with many bet sizes and raises: one board's walk holds more than
// a hundred frames (end pairs have none), more than the pass keeps in one piece
// of its frame area. Seven sizes: the root's eight actions are as many as a
// board's sweeps take at one node.
Spot WideRiverSpot() {
  Spot spot = RiverRootSpot();
  spot.lines.clear();
  for (const double bet : {5.0, 10.0, 15.0, 20.0, 30.0, 45.0, 60.0}) {
    for (const bool checked : {false, true}) {
      for (const double raise : {2.5, 4.0}) {
        std::vector<double> line;
        if (checked) line.push_back(0);
        line.push_back(bet);
        spot.lines.push_back(line);
        line.push_back(bet * raise);
        spot.lines.push_back(line);
        line.push_back(bet * raise * 3);
        spot.lines.push_back(line);
      }
    }
  }
  spot.lines.push_back({0, 0});
  return spot;
}

struct Figures {
  double ev[2], mes[2], exploitability;
  bool operator==(const Figures& o) const {
    return ev[0] == o.ev[0] && ev[1] == o.ev[1] && mes[0] == o.mes[0] && mes[1] == o.mes[1] &&
           exploitability == o.exploitability;
  }
};

// Builds the spot afresh and solves it for some steps; the figures after.
Figures Solve(const Spot& spot, bool sweeps, int threads, bool boost) {
  StopSolverAndWait();
  g_river_board_sweeps = sweeps;
  EXPECT_EQ(RunLine("set_threads " + std::to_string(threads)), "set_threads ok!\n");
  EXPECT_EQ(RunLine("clear_lines"), "clear_lines ok!\n");
  const std::string replies = RunLines(reference_game::EngineScript(spot));
  EXPECT_EQ(replies.find("ERROR"), std::string::npos) << replies.substr(0, 300);
  EXPECT_EQ(RunLine("build_tree"), "build_tree ok!\n");
  if (boost) {
    // A river bet that pays a little more than it is worth.
    const std::string reply = RunLine("set_ev_boost r:0:c:c:2c:c:c:5h:b40 0.05");
    EXPECT_EQ(reply.find("ERROR"), std::string::npos) << reply;
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunLine("go 12 steps"), "go ok!\n");
  WaitForSolver();
  testing::internal::GetCapturedStdout();
  ProgressRecord r{};
  EXPECT_TRUE(ComputeResults(&r));
  g_river_board_sweeps = true;
  return {{r.ev_oop, r.ev_ip}, {r.mes_oop, r.mes_ip}, r.exploitability};
}

TEST(RiverBoardPass, SweepsGiveTheRecursiveWalksFiguresToTheBit) {
  const Spot spot = RiverRaiseSpot();
  const Figures plain = Solve(spot, false, 1, false);
  EXPECT_GT(plain.exploitability, 0.0);
  EXPECT_TRUE(Solve(spot, true, 1, false) == plain);
  EXPECT_TRUE(Solve(spot, true, 3, false) == plain);
  const Figures boosted = Solve(spot, false, 2, true);
  EXPECT_TRUE(Solve(spot, true, 2, true) == boosted);
  EXPECT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
}

TEST(RiverBoardPass, SweepsGiveTheWalksFiguresOnTurnAndRiverRootedTrees) {
  for (const Spot& spot : {TurnRootSpot(), RiverRootSpot()}) {
    const Figures plain = Solve(spot, false, 1, false);
    EXPECT_GT(plain.exploitability, 0.0);
    EXPECT_TRUE(Solve(spot, true, 2, false) == plain);
  }
  EXPECT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
}

TEST(RiverBoardPass, SweepsGiveTheWalksFiguresOnABoardOfManyNodes) {
  const Spot spot = WideRiverSpot();
  const Figures plain = Solve(spot, false, 1, false);
  ASSERT_GT(g_solver_state->nodes.size(), 200u);
  EXPECT_GT(plain.exploitability, 0.0);
  EXPECT_TRUE(Solve(spot, true, 1, false) == plain);
  EXPECT_TRUE(Solve(spot, true, 2, false) == plain);
  EXPECT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
}

// The same with the plain AVX build of the kernels.
TEST(RiverBoardPass, SweepsAgreeInThePlainAvxBuild) {
  struct PlainAvx {
    KernelBuild saved = g_kernel_build;
    PlainAvx() { g_kernel_build = KernelBuild::kAvx; }
    ~PlainAvx() { g_kernel_build = saved; }
  } plain_avx;
  ASSERT_EQ(&Kernels<ArrayOpsKernels>(), &isa_avx::kArrayOpsKernels);
  EXPECT_EQ(RunLine("get_instruction_set"), "AVX\n");
  const Spot spot = RiverRaiseSpot();
  const Figures plain = Solve(spot, false, 1, true);
  EXPECT_TRUE(Solve(spot, true, 1, true) == plain);
}

}  // namespace
