// Run control: the check schedule and limits, go / stop / wait_for_solver and
// calc_results on a small river spot, the stop reasons, the iteration cap and
// the results against the reference game.
#include "solver/solver_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <string_view>
#include <thread>

#include "cards/situation.h"
#include "compress/compression_level.h"
#include "solver/accuracy_settings.h"
#include "solver/current_iteration.h"
#include "solver/progress_history.h"
#include "solver/solver_constants.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "store/node_store.h"
#include "support/engine_harness.h"
#include "support/idle_store.h"
#include "support/reference_game.h"
#include "support/solver_watch.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

using reference_game::ReferenceGame;
using reference_game::Spot;

constexpr int64_t kMs = 1000000;

// --- The schedule alone -----------------------------------------------------

TEST(CheckSchedule, DueEveryTwentyFiveIterationsFromTwentyFive) {
  for (int32_t it : {25, 50, 75, 100, 9000}) EXPECT_TRUE(IsCheckDue(it)) << it;
  for (int32_t it : {-25, 0, 1, 24, 26, 49, 51, 8999}) EXPECT_FALSE(IsCheckDue(it)) << it;
}

TEST(CheckSchedule, ThinnedTo250MsThen500MsFromIteration100) {
  CheckThinning thinning;
  thinning.last_check_ns = 0;
  // The first check always runs.
  EXPECT_TRUE(TakeCheck(thinning, 25, 1 * kMs));
  EXPECT_EQ(thinning.min_gap_ms, 250);
  // 249.9 ms later: skipped; the next opportunity is iteration 75.
  EXPECT_FALSE(TakeCheck(thinning, 50, 1 * kMs + 249 * kMs + 999999));
  EXPECT_TRUE(TakeCheck(thinning, 75, 251 * kMs));
  EXPECT_EQ(thinning.min_gap_ms, 250);
  // A check at iteration 100 or later widens the gap.
  EXPECT_TRUE(TakeCheck(thinning, 100, 501 * kMs));
  EXPECT_EQ(thinning.min_gap_ms, 500);
  EXPECT_FALSE(TakeCheck(thinning, 125, 1000 * kMs));
  EXPECT_TRUE(TakeCheck(thinning, 150, 1001 * kMs));
}

TEST(RunLimits, StepsCountFromTheStartAndNeverOverflow) {
  // 0 and negative numbers: exactly one iteration.
  EXPECT_TRUE(StepLimitReached(10, 0, 11));
  EXPECT_TRUE(StepLimitReached(10, static_cast<uint32_t>(-5), 11));
  EXPECT_FALSE(StepLimitReached(0, 3, 2));
  EXPECT_TRUE(StepLimitReached(0, 3, 3));
  // start + limit beyond INT32_MAX must not wrap round to a small number.
  EXPECT_FALSE(StepLimitReached(5, INT32_MAX, 6));
  EXPECT_FALSE(StepLimitReached(8999, INT32_MAX, 9000));
}

TEST(RunLimits, SecondsAreWholeAndOnlyPositiveLimitsCount) {
  EXPECT_FALSE(TimeLimitReached(0, 1000000 * kMs));
  EXPECT_FALSE(TimeLimitReached(static_cast<uint32_t>(-1), 1000000 * kMs));
  EXPECT_FALSE(TimeLimitReached(2, 1999 * kMs));
  EXPECT_TRUE(TimeLimitReached(2, 2000 * kMs));
}

// --- The solver on a river spot ---------------------------------------------

// OOP holds the nuts or air, IP a bluff catcher; OOP bets the pot or checks
// down. Small enough that a run of thousands of iterations takes moments.
Spot PolarSpot() {
  return reference_game::MakeSpot("2c7d8hJs3s", "AcAd 4c4d", "KhKs", 100, {{100}, {0, 0}});
}

class SolverRunTest : public ::testing::Test {
 protected:
  // Runs end by their limits only, unless a test asks for a target: whether an
  // exploitability of exactly 0 comes up is not what these tests are about.
  void SetUp() override { Reset(-1.0); }
  void TearDown() override { Reset(0.0); }

  static void Reset(double accuracy_target) {
    StopSolverAndWait();
    FreeSolverState();
    g_tree_present = 0;
    g_compression_setting = 0;
    g_accuracy_value = 0.0;
    g_accuracy_relative = 0;
    SetAccuracyTarget(accuracy_target);
    g_iteration_cap = kIterationCap;
    RunLine("clear_lines");
    g_pot[0] = g_pot[1] = 0.0;
    g_pot[2] = 100.0;
  }

  static void Build(const Spot& spot) {
    const std::string replies = RunLines(reference_game::EngineScript(spot));
    ASSERT_EQ(replies.find("ERROR"), std::string::npos) << replies;
    ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
  }

  static SolverState& State() { return *g_solver_state; }

  // Runs a go line and waits for the run's end; the console lines it printed.
  static std::string RunToEnd(const std::string& go_line, std::string* reply) {
    testing::internal::CaptureStdout();
    *reply = RunLine(go_line);
    WaitForSolver();
    return testing::internal::GetCapturedStdout();
  }

  static std::string RunToEnd(const std::string& go_line) {
    std::string reply;
    std::string console = RunToEnd(go_line, &reply);
    EXPECT_EQ(reply, "go ok!\n");
    return console;
  }
};

const char* const kBlock =
    "SOLVER:\nrunning time: \\d+\\.\\d{3}\nEV OOP: -?\\d+\\.\\d{3}\nEV IP: -?\\d+\\.\\d{3}\n"
    "OOP's MES: -?\\d+\\.\\d{3}\nIP's MES: -?\\d+\\.\\d{3}\nExploitable for: -?\\d+\\.\\d{3}\nEND\n";

TEST_F(SolverRunTest, GoZeroStepsRunsExactlyOneIterationAndCountsCarryOver) {
  Build(PolarSpot());
  ASSERT_TRUE(State().flags & NEW_TREE);
  EXPECT_EQ(RunToEnd("go 0 steps"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  EXPECT_FALSE(IsSolverRunning());
  EXPECT_EQ(State().iterations, 1);
  EXPECT_EQ(g_current_iteration.load(), 1);
  EXPECT_FALSE(State().flags & NEW_TREE);
  EXPECT_TRUE(State().stores_allocated);

  // A negative number too; the tree's count goes on from where it was.
  EXPECT_EQ(RunToEnd("go -7 steps"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  EXPECT_EQ(State().iterations, 2);
  EXPECT_EQ(RunToEnd("go 3 steps extra words"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  EXPECT_EQ(State().iterations, 5);
}

TEST_F(SolverRunTest, CheckAtIterationTwentyFivePrintsTheStatusBlock) {
  Build(PolarSpot());
  const std::string console = RunToEnd("go 25 steps");
  EXPECT_TRUE(std::regex_match(console, std::regex(std::string("SOLVER: started\n") + kBlock +
                                                   "SOLVER: stopped \\(required number of steps "
                                                   "done\\)\n")))
      << console;
  // The history outlives the run; only a running solver hands out copies.
  uint32_t count = 99;
  EXPECT_EQ(CopyProgressHistory(&count), nullptr);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(g_progress_history.size(), 1u);
  const ProgressRecord& r = g_progress_history[0];
  EXPECT_EQ(r.iteration, 25u);
  EXPECT_DOUBLE_EQ(r.exploitability, 0.5 * ((r.mes_oop + r.mes_ip) - r.ev_oop - r.ev_ip));
  // A best response never does worse than the strategy it replaces.
  EXPECT_GE(r.mes_oop, r.ev_oop - 1e-9);
  EXPECT_GE(r.mes_ip, r.ev_ip - 1e-9);
  // The printed figures add half the pot: a zero-sum game's EVs sum to the pot.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(console, m, std::regex("EV OOP: (\\S+)\nEV IP: (\\S+)\n")));
  EXPECT_NEAR(std::stod(m[1]) + std::stod(m[2]), 100.0, 0.002);
  EXPECT_NEAR(std::stod(m[1]), r.ev_oop + 50.0, 0.0005);

  // A new build starts a new history.
  ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
  EXPECT_TRUE(g_progress_history.empty());
}

TEST_F(SolverRunTest, AccuracyTargetEndsTheRunAtACheck) {
  Build(PolarSpot());
  ASSERT_EQ(RunLine("set_accuracy 1000"), "set_accuracy ok!\n");
  const std::string console = RunToEnd("go");
  EXPECT_TRUE(std::regex_match(
      console, std::regex(std::string("SOLVER: started\n") + kBlock +
                          "SOLVER: stopped \\(required accuracy reached\\)\n")))
      << console;
  EXPECT_EQ(State().iterations, 25);
}

TEST_F(SolverRunTest, TheIterationCapEndsEveryRunAsRequested) {
  Build(PolarSpot());
  State().iterations = 8990;
  // Iteration 9000 is on the check grid and is the run's first check.
  const std::string console = RunToEnd("go");
  EXPECT_TRUE(std::regex_match(console, std::regex(std::string("SOLVER: started\n") + kBlock +
                                                   "SOLVER: stopped \\(requested\\)\n")))
      << console;
  EXPECT_EQ(State().iterations, 9000);
  // At the cap a run does nothing at all, whatever its limit.
  EXPECT_EQ(RunToEnd("go"), "SOLVER: started\nSOLVER: stopped (requested)\n");
  EXPECT_EQ(RunToEnd("go 5 steps"), "SOLVER: started\nSOLVER: stopped (requested)\n");
  EXPECT_EQ(State().iterations, 9000);
}

TEST_F(SolverRunTest, HugeStepLimitKeepsRunningUntilStopped) {
  Build(PolarSpot());
  g_iteration_cap = INT32_MAX;
  EXPECT_EQ(RunToEnd("go 0 steps"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunLine("go 2147483647 steps"), "go ok!\n");
  WaitForIterations(200, std::chrono::seconds(20));
  EXPECT_TRUE(IsSolverRunning());
  EXPECT_EQ(RunLine("go"), "ERROR: go Can't do that when solver is running\n");
  EXPECT_EQ(RunLine("stop"), "stop ok!\n");
  WaitForSolver();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_GE(State().iterations, 200);
  EXPECT_TRUE(std::regex_match(console, std::regex("SOLVER: started\n(" + std::string(kBlock) +
                                                   ")*SOLVER: stopped \\(requested\\)\n")))
      << console;
  // The stop request ended with its run: the next one is not stopped by it.
  EXPECT_EQ(g_stop_requested.load(), 0);
  const int32_t before = State().iterations;
  const std::string next = RunToEnd("go 2 steps");
  // The two iterations may cross a check.
  EXPECT_TRUE(std::regex_match(next, std::regex("SOLVER: started\n(" + std::string(kBlock) +
                                                ")?SOLVER: stopped \\(required number of "
                                                "steps done\\)\n")))
      << next;
  EXPECT_EQ(State().iterations, before + 2);
}

TEST_F(SolverRunTest, TimeLimitIsWatchedAfterEveryIteration) {
  Build(PolarSpot());
  g_iteration_cap = INT32_MAX;
  const auto start = std::chrono::steady_clock::now();
  const std::string console = RunToEnd("go 1 seconds");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(std::regex_search(console, std::regex("SOLVER: stopped \\(timeout reached\\)\n$")))
      << console;
  EXPECT_GE(seconds, 1.0);
  EXPECT_LT(seconds, 5.0);
  // Checks were thinned to one per 250 / 500 ms: a handful, not hundreds.
  EXPECT_GE(g_progress_history.size(), 2u);
  EXPECT_LE(g_progress_history.size(), 6u);
  EXPECT_GT(State().iterations, 100);
}

TEST_F(SolverRunTest, StopAndWaitWithoutSolverChangeNothing) {
  EXPECT_EQ(RunLine("stop"), "stop ok!\n");
  EXPECT_EQ(RunLine("wait_for_solver"), "");
  EXPECT_EQ(g_stop_requested.load(), 0);
  Build(PolarSpot());
  EXPECT_EQ(RunLine("stop"), "stop ok!\n");
  EXPECT_EQ(RunToEnd("go 1 steps"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  EXPECT_EQ(State().iterations, 1);
}

TEST_F(SolverRunTest, GoRefusesBadLinesAndStartsNothing) {
  EXPECT_EQ(RunLine("go"), "ERROR: go missing/incorrect tree\n");
  Build(PolarSpot());
  EXPECT_EQ(RunLine("go 5"), "ERROR: go incorrect or missing argument\n");
  EXPECT_EQ(RunLine("go 5 minutes"), "ERROR: go incorrect or missing argument\n");
  EXPECT_EQ(RunLine("go 5 Steps"), "ERROR: go incorrect or missing argument\n");
  EXPECT_EQ(RunLine("go x steps"), "Invalid value\n");
  EXPECT_EQ(RunLine("go 99999999999 seconds"), "Invalid value\n");
  State().flags |= INCOMPLETE_TREE;
  EXPECT_EQ(RunLine("go"), "ERROR: go incomplete tree\n");
  State().flags &= ~static_cast<uint32_t>(INCOMPLETE_TREE);
  EXPECT_FALSE(IsSolverRunning());
  EXPECT_EQ(State().iterations, 0);
  EXPECT_FALSE(State().stores_allocated);
}

// A store whose values can never be allocated.
class UnallocatableStore : public IdleStore {
 public:
  bool Allocate() override { return false; }
  NodeLockRecord* GetLockRecord(int32_t, int32_t) override { return &record_; }

 private:
  NodeLockRecord record_;
};

TEST_F(SolverRunTest, OutOfMemoryKeepsTheNodesAllocatedBefore) {
  Build(PolarSpot());
  // Node 0 is OOP's root decision, node 1 IP's decision after the bet.
  ASSERT_EQ(State().nodes[1].kind, DECISION_NODE);
  State().nodes[1].regret_store = std::make_unique<UnallocatableStore>();
  EXPECT_EQ(RunLine("go"), "ERROR: go out of memory\n");
  EXPECT_FALSE(IsSolverRunning());
  EXPECT_TRUE(State().nodes[0].materialised);
  EXPECT_FALSE(State().nodes[1].materialised);
  EXPECT_FALSE(State().stores_allocated);
  EXPECT_EQ(RunLine("calc_results"), "ERROR: calc_results out of memory\n");
  EXPECT_EQ(State().last_results_iteration, -1);
}

TEST_F(SolverRunTest, CalcResultsMatchesTheReferenceGame) {
  EXPECT_EQ(RunLine("calc_results"), "ERROR: calc_results missing/incorrect tree\n");
  const Spot spot = PolarSpot();
  Build(spot);
  // No iteration yet: both players play every action alike.
  ProgressRecord results;
  ASSERT_TRUE(ComputeResults(&results));
  const ReferenceGame game(spot);
  const auto uniform = game.UniformStrategy();
  EXPECT_NEAR(results.ev_oop, game.UniformEv(0), 1e-9);
  EXPECT_NEAR(results.ev_ip, game.UniformEv(1), 1e-9);
  EXPECT_NEAR(results.mes_oop, game.BestResponseValue(0, uniform), 1e-9);
  EXPECT_NEAR(results.mes_ip, game.BestResponseValue(1, uniform), 1e-9);
  EXPECT_NEAR(results.exploitability, game.Exploitability(uniform), 1e-9);
  EXPECT_EQ(results.iteration, 0u);
  EXPECT_EQ(results.running_time, 0.0);
  EXPECT_NEAR(State().mean_ev, 0.5 * (results.ev_oop + results.ev_ip), 1e-12);
  EXPECT_EQ(State().last_results_iteration, 0);

  const std::string expected =
      "EV OOP: 62.500\nEV IP: 37.500\nOOP's MES: 75.000\nIP's MES: 50.000\n"
      "Exploitable for: 12.500\nEND\n";
  EXPECT_EQ(RunLine("calc_results"), expected);
  // The half pot is the built tree's, not the one set afterwards.
  ASSERT_EQ(RunLine("set_pot 0 0 400"), "set_pot ok!\n");
  EXPECT_EQ(RunLine("calc_results"), expected);

  // Solving drives the exploitability towards 0 (OOP wins 25 at the equilibrium).
  RunToEnd("go 400 steps");
  ASSERT_TRUE(ComputeResults(&results));
  EXPECT_EQ(results.iteration, 400u);
  EXPECT_GE(results.exploitability, -1e-9);
  EXPECT_LT(results.exploitability, 1.0);
  EXPECT_NEAR(results.ev_oop, 25.0, 1.0);
  EXPECT_NEAR(results.ev_ip, -25.0, 1.0);
}

TEST_F(SolverRunTest, IncompleteTreeKeepsItsResultsUntilAnIterationRuns) {
  Build(PolarSpot());
  RunToEnd("go 30 steps");
  const std::string measured = RunLine("calc_results");
  ASSERT_EQ(measured.rfind("EV OOP: ", 0), 0u) << measured;
  // A complete tree is measured afresh every time.
  State().ev_oop += 7.0;
  EXPECT_EQ(RunLine("calc_results"), measured);
  // An incomplete one answers from its cache while the count stands still.
  State().flags |= INCOMPLETE_TREE;
  ProgressRecord first;
  ASSERT_TRUE(ComputeResults(&first));
  State().ev_oop += 7.0;
  ProgressRecord second;
  ASSERT_TRUE(ComputeResults(&second));
  EXPECT_DOUBLE_EQ(second.ev_oop, first.ev_oop + 7.0);
  EXPECT_DOUBLE_EQ(second.mes_ip, first.mes_ip);
  // Once the count moves it measures again.
  State().iterations += 1;
  ProgressRecord third;
  ASSERT_TRUE(ComputeResults(&third));
  EXPECT_DOUBLE_EQ(third.ev_oop, first.ev_oop);
}

TEST_F(SolverRunTest, WaitForSolverReturnsWhileTheRunEnds) {
  Build(PolarSpot());
  for (int i = 0; i < 20; ++i) {
    std::string reply;
    RunToEnd("go 0 steps", &reply);
    ASSERT_EQ(reply, "go ok!\n");
    ASSERT_FALSE(IsSolverRunning());
  }
  EXPECT_EQ(State().iterations, 20);
}

// A client that answers the stop line with a new go at once must find the
// solver ended: the line is written only after the solver counts as stopped.
// Checked at the moment the line reaches the console, through a stream that
// looks at the solver's state from inside its own write.
std::atomic<int> g_stop_lines{0};
std::atomic<int> g_stop_lines_while_running{0};

ssize_t WatchStopLines(void*, const char* data, size_t size) {
  if (std::string_view(data, size).find("SOLVER: stopped") != std::string_view::npos) {
    ++g_stop_lines;
    if (IsSolverRunning()) ++g_stop_lines_while_running;
  }
  return static_cast<ssize_t>(size);
}

TEST_F(SolverRunTest, TheStopLineComesOnceTheSolverHasEnded) {
  Build(PolarSpot());
  cookie_io_functions_t io{};
  io.write = WatchStopLines;
  FILE* watch = fopencookie(nullptr, "w", io);
  ASSERT_NE(watch, nullptr);
  g_stop_lines = 0;
  g_stop_lines_while_running = 0;
  FILE* const console = stdout;
  stdout = watch;
  for (int i = 0; i < 5; ++i) {
    RunLine("go 0 steps");
    WaitForSolver();
    // wait_for_solver returns only once the line is out.
    if (g_stop_lines.load() != i + 1) break;
  }
  stdout = console;
  std::fclose(watch);
  EXPECT_EQ(g_stop_lines.load(), 5);
  EXPECT_EQ(g_stop_lines_while_running.load(), 0);
  // And a go straight after the line is taken.
  std::string reply;
  RunToEnd("go 0 steps", &reply);
  EXPECT_EQ(reply, "go ok!\n");
}

}  // namespace
