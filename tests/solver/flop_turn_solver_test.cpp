// The solver on flop- and turn-rooted trees with bets, driven through the
// commands as a controlling program drives it: suit isomorphism on and off,
// schedulers and thread counts, a run to a target accuracy, check-down values
// against the reference game, and runs that stop and go on.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "compress/compression_level.h"
#include "solver/accuracy_settings.h"
#include "solver/progress_history.h"
#include "solver/solver_constants.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "support/solver_watch.h"
#include "tree/build_fixture.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

using reference_game::MakeClassSpot;
using reference_game::ReferenceGame;
using reference_game::Spot;
using solver_spots::FlopSpot;
using solver_spots::TurnSpot;

// The figures of calc_results as pass values (without the half pot).
struct Figures {
  double ev[2];
  double mes[2];
  double exploitability;
};

void ExpectNear(const Figures& a, const Figures& b, double tolerance, const std::string& what) {
  for (int p = 0; p < 2; ++p) {
    EXPECT_NEAR(a.ev[p], b.ev[p], tolerance) << what << ": EV of player " << p;
    EXPECT_NEAR(a.mes[p], b.mes[p], tolerance) << what << ": MES of player " << p;
  }
  EXPECT_NEAR(a.exploitability, b.exploitability, tolerance) << what;
}

// A best response never does worse than the strategy it replaces, and the
// game is zero-sum: the pass values of the two players cancel.
void ExpectSound(const Figures& f, double zero_sum_tolerance, const std::string& what) {
  EXPECT_GE(f.mes[PLAYER_OOP], f.ev[PLAYER_OOP] - 1e-9) << what;
  EXPECT_GE(f.mes[PLAYER_IP], f.ev[PLAYER_IP] - 1e-9) << what;
  EXPECT_NEAR(f.ev[PLAYER_OOP] + f.ev[PLAYER_IP], 0.0, zero_sum_tolerance) << what;
}

// Whatever the strategies, -MES IP <= OOP's game value <= MES OOP (pass
// values), so the brackets measured at any iteration, on any tree of the same
// game, must overlap. A best response that misses a better action, or a tree
// that solves another game, shows up as brackets that do not.
struct ValueBracket {
  double low = -1e300;
  double high = 1e300;
  void Add(double mes_oop, double mes_ip) {
    low = std::max(low, -mes_ip);
    high = std::min(high, mes_oop);
  }
  void Add(const Figures& f) { Add(f.mes[PLAYER_OOP], f.mes[PLAYER_IP]); }
  // The checks of the last run.
  void AddProgressHistory() {
    for (const ProgressRecord& r : g_progress_history) Add(r.mes_oop, r.mes_ip);
  }
};

class FlopTurnSolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_threads_ = g_thread_count.load();
    Reset();
  }
  void TearDown() override {
    Reset();
    g_thread_count = saved_threads_;
    SetAccuracyTarget(0.0);
  }

  static void Reset() {
    StopSolverAndWait();
    TreeBuildTest::ResetSituation();
    g_scheduler = 0;
    g_accuracy_value = 0.0;
    g_accuracy_relative = 0;
    SetAccuracyTarget(0.0);
    g_iteration_cap = kIterationCap;
  }

  // set_isomorphism with the two switches, the spot's set-up lines, build_tree.
  // Runs end by their limits only: a target of exactly 0 could be met by a
  // pure strategy that happens to be optimal at a check.
  static void Build(const Spot& spot, bool flop_isomorphism, bool turn_isomorphism) {
    const std::string iso = std::string("set_isomorphism ") + (flop_isomorphism ? "1" : "0") +
                            " " + (turn_isomorphism ? "1" : "0");
    ASSERT_EQ(RunLine(iso), "set_isomorphism ok!\n");
    const std::string replies = RunLines(reference_game::EngineScript(spot));
    ASSERT_EQ(replies.find("ERROR"), std::string::npos) << replies.substr(0, 200);
    ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
    SetAccuracyTarget(-1.0);
  }

  static SolverState& State() { return *g_solver_state; }

  static Figures Results() {
    ProgressRecord r{};
    EXPECT_TRUE(ComputeResults(&r));
    return {{r.ev_oop, r.ev_ip}, {r.mes_oop, r.mes_ip}, r.exploitability};
  }

  // calc_results: the reply must be the figures plus half the pot each, and
  // the two printed EVs of a game without rake must add up to the pot.
  static std::string CalcResults(const Figures& f, double pot) {
    const std::string reply = RunLine("calc_results");
    std::smatch m;
    const std::regex form(
        "EV OOP: (-?\\d+\\.\\d{3})\nEV IP: (-?\\d+\\.\\d{3})\nOOP's MES: (-?\\d+\\.\\d{3})\n"
        "IP's MES: (-?\\d+\\.\\d{3})\nExploitable for: (-?\\d+\\.\\d{3})\nEND\n");
    EXPECT_TRUE(std::regex_match(reply, m, form)) << reply;
    if (m.size() != 6) return reply;
    const double half = 0.5 * pot;
    EXPECT_NEAR(std::stod(m[1]), f.ev[PLAYER_OOP] + half, 0.0005);
    EXPECT_NEAR(std::stod(m[2]), f.ev[PLAYER_IP] + half, 0.0005);
    EXPECT_NEAR(std::stod(m[3]), f.mes[PLAYER_OOP] + half, 0.0005);
    EXPECT_NEAR(std::stod(m[4]), f.mes[PLAYER_IP] + half, 0.0005);
    EXPECT_NEAR(std::stod(m[5]), f.exploitability, 0.0005);
    EXPECT_NEAR(std::stod(m[1]) + std::stod(m[2]), pot, 0.0011);
    return reply;
  }

  // A go line run to its end; the console lines the run printed.
  static std::string RunToEnd(const std::string& go_line) {
    testing::internal::CaptureStdout();
    const std::string reply = RunLine(go_line);
    WaitForSolver();
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply, "go ok!\n");
    return console;
  }

  // Every scheduler with 1, 3 and 8 threads, each on a fresh build:
  // calc_results before solving (its passes run on the command thread), then
  // a few solving iterations (on the solver thread, which applies the thread
  // count). Only the order in which the subgame tasks' results are added
  // differs, which moves the last bits of a double.
  static void SchedulersAndThreadsAgree(const Spot& spot, bool iso) {
    bool first = true;
    Figures start0{}, solved0{};
    std::string text0;
    for (int scheduler : {0, 1, 2}) {
      for (int threads : {1, 3, 8}) {
        const std::string config = "scheduler " + std::to_string(scheduler) + ", " +
                                   std::to_string(threads) + " threads";
        ASSERT_EQ(RunLine("set_scheduler " + std::to_string(scheduler)), "set_scheduler ok!\n");
        ASSERT_EQ(RunLine("set_threads " + std::to_string(threads)), "set_threads ok!\n");
        ASSERT_NO_FATAL_FAILURE(Build(spot, iso, iso));
        const Figures start = Results();
        ExpectSound(start, 1e-9, config + ", iteration 0");
        const std::string text = CalcResults(start, spot.pot);
        RunToEnd("go 3 steps");
        const Figures solved = Results();
        ExpectSound(solved, 1e-6 * spot.pot, config + ", 3 iterations");
        if (first) {
          start0 = start;
          solved0 = solved;
          text0 = text;
          first = false;
          continue;
        }
        ExpectNear(start, start0, 1e-9, config + ", iteration 0");
        EXPECT_EQ(text, text0) << config;
        // A float rounding that comes out differently moves the figures by
        // far less than this.
        ExpectNear(solved, solved0, 1e-6 * spot.pot, config + ", 3 iterations");
      }
    }
  }

  static void CompareIsomorphism(const Spot& spot, size_t grouped_slots);

  uint32_t saved_threads_ = 1;
};

// --- Isomorphism ------------------------------------------------------------
//
// Both trees solve the same game. Before any iteration the strategies are
// uniform and the figures agree to double rounding. Solving keeps regrets and
// strategy sums as floats (16-bit on the river), and the two trees add their
// per-card results in different orders, so last-bit differences appear after
// the first iteration; regret matching amplifies them (about 1e-9 after one
// iteration, up to 1e-5 of the pot after tens) until the common equilibrium
// pulls the figures together again. After 200 iterations they agree to 1e-4 of
// the pot, well within the exploitabilities.
//
// A grouped turn or river slot takes the opponent's reach through its first
// card only and so assumes strategies that are exactly symmetric; float
// rounding of the regrets breaks that at the last bit, which leaves the two
// players' values of a solved grouped tree off zero-sum by a few 1e-9 of the
// pot (exactly zero-sum before any iteration).

constexpr int kSolveIterations = 200;
constexpr double kSolvedTolerance = 1e-4;       // of the pot
constexpr double kSolvedExploitability = 5e-4;  // of the pot
constexpr double kGroupedZeroSum = 1e-6;        // of the pot

// Builds the spot with isomorphism on and off for its starting street, checks
// how many cards the dealt slots of that street stand for, and compares the
// results before and after solving.
void FlopTurnSolverTest::CompareIsomorphism(const Spot& spot, size_t grouped_slots) {
  const bool turn_rooted = CardCount(spot.board) == 4;
  Figures start[2], solved[2];  // [isomorphism]
  std::string start_text[2];
  ValueBracket bracket;
  for (bool iso : {true, false}) {
    const std::string tree = iso ? "isomorphism on" : "isomorphism off";
    Reset();
    // The switch of the other street is set the other way: it must not matter.
    ASSERT_NO_FATAL_FAILURE(Build(spot, turn_rooted ? !iso : iso, turn_rooted ? iso : !iso));
    ASSERT_EQ(static_cast<bool>(State().flags & ISOMORPHISM_ON), iso);
    const DealTree& deal = *State().deal_tree;
    int cards = 0;
    size_t slots = 0;
    if (turn_rooted) {
      ASSERT_EQ(deal.turn_records.size(), 1u);
      const TurnDealRecord& turn = deal.turn_records[0];
      slots = turn.river_records.size();
      for (const RiverDealRecord& river : turn.river_records) cards += river.weight;
    } else {
      slots = deal.turn_records.size();
      for (const TurnDealRecord& turn : deal.turn_records) cards += turn.weight;
    }
    ASSERT_EQ(slots, iso ? grouped_slots : (turn_rooted ? 48u : 49u));
    ASSERT_EQ(cards, turn_rooted ? 48 : 49);

    start[iso] = Results();
    ExpectSound(start[iso], 1e-9, tree + ", iteration 0");
    start_text[iso] = CalcResults(start[iso], spot.pot);
    bracket.Add(start[iso]);
    RunToEnd("go " + std::to_string(kSolveIterations) + " steps");
    ASSERT_EQ(SolverIterations(), kSolveIterations);
    bracket.AddProgressHistory();
    solved[iso] = Results();
    bracket.Add(solved[iso]);
    ExpectSound(solved[iso], iso ? kGroupedZeroSum * spot.pot : 1e-9, tree + ", solved");
    CalcResults(solved[iso], spot.pot);
    EXPECT_LT(solved[iso].exploitability, kSolvedExploitability * spot.pot)
        << tree << ", from " << start[iso].exploitability;
  }
  ExpectNear(start[1], start[0], 1e-9, "iteration 0");
  EXPECT_EQ(start_text[1], start_text[0]);
  ExpectNear(solved[1], solved[0], kSolvedTolerance * spot.pot, "solved");
  EXPECT_LE(bracket.low, bracket.high + kGroupedZeroSum * spot.pot);
}

struct Texture {
  const char* name;
  const char* flop;
  size_t turn_slots;  // with isomorphism
};
// Test names show the texture, not the bytes of the record.
void PrintTo(const Texture& texture, std::ostream* out) { *out << texture.name; }

class FlopIsomorphismTest : public FlopTurnSolverTest,
                            public ::testing::WithParamInterface<Texture> {};

TEST_P(FlopIsomorphismTest, OnAndOffAgreeBeforeAndAfterSolving) {
  CompareIsomorphism(FlopSpot(GetParam().flop), GetParam().turn_slots);
}

// Monotone: 10 turn cards of the flop's suit and 13 standing for 3 cards each.
// Two-tone: 23 cards of the two flop suits and 13 standing for 2 each. Rainbow:
// nothing to group, yet the suits are renamed.
INSTANTIATE_TEST_SUITE_P(Textures, FlopIsomorphismTest,
                         ::testing::Values(Texture{"Monotone", "Qh8h3h", 23},
                                           Texture{"TwoTone", "Kh9h4s", 36},
                                           Texture{"Rainbow", "Ts8d6h", 49}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlopTurnSolverTest, TurnIsomorphismOnAndOffAgree) {
  // set_isomorphism's second switch: hearts and clubs keep 22 river cards of
  // their own, diamonds and spades pair up into 13 slots.
  CompareIsomorphism(TurnSpot(), 35);
}

// --- Schedulers and thread counts -------------------------------------------

TEST_F(FlopTurnSolverTest, FlopResultsDoNotDependOnSchedulerOrThreads) {
  SchedulersAndThreadsAgree(FlopSpot("Kh9h4s"), true);
}

TEST_F(FlopTurnSolverTest, TurnResultsDoNotDependOnSchedulerOrThreads) {
  SchedulersAndThreadsAgree(TurnSpot(), false);
}

// --- A run to the required accuracy -----------------------------------------

TEST_F(FlopTurnSolverTest, FlopSpotReachesTheRequiredAccuracy) {
#if defined(__SANITIZE_ADDRESS__)
  // Fewer hands: the sanitizer makes every pass several times slower.
  const Spot spot =
      MakeClassSpot("Kh9h4s", {"AA", "QQ", "T9s", "65s"}, {"JJ", "AQs", "87s"}, 60,
                    {{20, 60}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0, 40}, {0, 0, 0, 0, 0, 0}});
#else
  const Spot spot = FlopSpot("Kh9h4s");
#endif
  ASSERT_NO_FATAL_FAILURE(Build(spot, true, false));
  ASSERT_EQ(RunLine("set_accuracy 0.003 fraction"), "set_accuracy ok!\n");
  const double target = 0.003 * spot.pot;
  const std::string console = RunToEnd("go");
  EXPECT_TRUE(std::regex_search(console,
                                std::regex("SOLVER: stopped \\(required accuracy reached\\)\n$")))
      << console;
  // It stopped at the check that first met the target, a check of the
  // iteration grid, and long before the iteration cap.
  ASSERT_FALSE(g_progress_history.empty());
  const ProgressRecord& last = g_progress_history.back();
  EXPECT_LE(last.exploitability, target);
  for (size_t i = 0; i + 1 < g_progress_history.size(); ++i)
    EXPECT_GT(g_progress_history[i].exploitability, target) << "check " << i;
  EXPECT_EQ(static_cast<int32_t>(last.iteration), SolverIterations());
  EXPECT_EQ(last.iteration % 25, 0u);
  EXPECT_LE(SolverIterations(), 500);

  // calc_results measures the same strategies again.
  const Figures f = Results();
  ExpectSound(f, kGroupedZeroSum * spot.pot, "at the target");
  EXPECT_LE(f.exploitability, target);
  EXPECT_NEAR(f.ev[PLAYER_OOP], last.ev_oop, 1e-9);
  EXPECT_NEAR(f.mes[PLAYER_IP], last.mes_ip, 1e-9);
  CalcResults(f, spot.pot);
  ValueBracket bracket;
  bracket.AddProgressHistory();
  bracket.Add(f);
  EXPECT_LE(bracket.low, bracket.high + kGroupedZeroSum * spot.pot);
}

// --- Check-down values --------------------------------------------------------

TEST_F(FlopTurnSolverTest, TurnCheckDownIsTheRunoutEquityWithAndWithoutIsomorphism) {
  const Spot spot =
      MakeClassSpot("Kh9h4h2c", {"AA", "QQ", "AKs", "T9s:0.5", "65s", "A5s", "KQo:0.25"},
                    {"KQs", "JJ", "TT:0.8", "99", "87s", "JTs", "AQo:0.3"}, 60, {{0, 0, 0, 0}});
  const ReferenceGame game(spot);
  for (bool iso : {true, false}) {
    Reset();
    ASSERT_NO_FATAL_FAILURE(Build(spot, true, iso));
    const Figures f = Results();
    for (int p = 0; p < 2; ++p) {
      EXPECT_NEAR(f.ev[p], game.CheckDownEv(p), 1e-9) << "player " << p << ", isomorphism " << iso;
      // Nobody has a choice: the best response is the strategy.
      EXPECT_NEAR(f.mes[p], f.ev[p], 1e-9) << "player " << p << ", isomorphism " << iso;
    }
    ExpectSound(f, 1e-9, "check-down");
    CalcResults(f, spot.pot);
  }
}

// Sets the OpenMP thread count of the calling thread for a scope.
class OmpThreadsOnThisThread {
 public:
  explicit OmpThreadsOnThisThread(int threads) : saved_(omp_get_max_threads()) {
    omp_set_num_threads(threads);
  }
  ~OmpThreadsOnThisThread() { omp_set_num_threads(saved_); }

 private:
  int saved_;
};

// --- Stop and go on -----------------------------------------------------------

TEST_F(FlopTurnSolverTest, StopAndGoAgainContinuesTheCount) {
  // One thread on the guided scheduler: every pass adds in one order, so the
  // iterations of any split into runs are the same arithmetic.
  const Spot spot = FlopSpot("Qh8h3h");
  ASSERT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
  ASSERT_NO_FATAL_FAILURE(Build(spot, true, false));

  EXPECT_EQ(RunToEnd("go 10 steps"),
            "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
  EXPECT_EQ(SolverIterations(), 10);
  // 20 more cross iteration 25 of the tree, not of the run.
  const std::string second = RunToEnd("go 20 steps");
  EXPECT_EQ(SolverIterations(), 30);
  ASSERT_EQ(g_progress_history.size(), 1u) << second;
  EXPECT_EQ(g_progress_history[0].iteration, 25u);
  EXPECT_TRUE(std::regex_search(second, std::regex("^SOLVER: started\nSOLVER:\nrunning time: ")))
      << second;

  // A run without limit, stopped from outside.
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunLine("go"), "go ok!\n");
  WaitForIterations(40, std::chrono::seconds(30));
  EXPECT_TRUE(IsSolverRunning());
  EXPECT_EQ(RunLine("stop"), "stop ok!\n");
  WaitForSolver();
  const std::string third = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_search(third, std::regex("SOLVER: stopped \\(requested\\)\n$"))) << third;
  const int32_t stopped_at = SolverIterations();
  EXPECT_GE(stopped_at, 40);
  for (const ProgressRecord& r : g_progress_history) {
    EXPECT_EQ(r.iteration % 25, 0u);
    EXPECT_GT(r.iteration, 30u);
    EXPECT_LE(static_cast<int32_t>(r.iteration), stopped_at);
  }

  // 30 more: the first check falls on the first multiple of 25 past the stop.
  RunToEnd("go 30 steps");
  const int32_t total = stopped_at + 30;
  EXPECT_EQ(SolverIterations(), total);
  ASSERT_FALSE(g_progress_history.empty());
  EXPECT_EQ(static_cast<int32_t>(g_progress_history[0].iteration), (stopped_at / 25 + 1) * 25);
  // calc_results runs on this thread: with one OpenMP thread its sums repeat
  // exactly as well.
  const OmpThreadsOnThisThread one_thread(1);
  const Figures pieces = Results();

  // The same number of iterations in one run ends with the same strategies:
  // nothing of the stops, the checks or calc_results leaked into the solving.
  ASSERT_NO_FATAL_FAILURE(Build(spot, true, false));
  RunToEnd("go " + std::to_string(total) + " steps");
  ASSERT_EQ(SolverIterations(), total);
  ExpectNear(Results(), pieces, 0.0, "one run against four");
}

}  // namespace
