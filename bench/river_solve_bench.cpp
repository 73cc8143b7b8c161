// A river spot with wide ranges solved to 0.3% of the pot through the engine's
// own commands, on one core and on all cores, each in a fresh process so that
// its peak memory is its own.
//
//   river_solve_bench [options]
//     --threads a,b,...   thread counts to run, one process each (default: 1,N)
//     --accuracy x        target exploitability as a fraction of the pot (0.003)
//     --steps n           stop after n iterations instead of at the accuracy
//     --script file       write the spot as an engine script and exit
//     --verbose           pass the engine's own output through
//
// The spot: Qs 8h 4d 2c 7s, pot 100, 300 behind; both players with wide ranges
// (a few hundred combinations each). OOP bets 66% of the pot or checks, IP bets
// 66% after a check; facing a bet a raise to three times it and the all-in,
// facing a raise the all-in.
//
// A tree rooted on the river has no deal node: its passes make no subgame
// tasks, so a run uses one thread whatever the thread count. The report says so
// instead of showing a speed-up that cannot be there.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "solver/benchmark_routine.h"
#include "solver/progress_history.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/solve_driver.h"
#include "tree/tree_records.h"

namespace {

constexpr double kPot = 100.0;
constexpr double kStack = 300.0;
// OOP, a wide defending range.
const char* const kOopClasses =
    "JJ TT 99 88 77 66 55 44 33 22 "
    "AJs ATs A9s A8s A7s A6s A5s A4s A3s A2s KQs KJs KTs K9s K8s K7s K6s K5s QJs QTs Q9s Q8s "
    "JTs J9s J8s T9s T8s 98s 97s 87s 86s 76s 75s 65s 64s 54s "
    "AQo AJo ATo A9o A8o KQo KJo KTo QJo QTo JTo T9o 98o 87o";
// IP, a wide opening range.
const char* const kIpClasses =
    "AA KK QQ JJ TT 99 88 77 66 55 44 33 22 "
    "AKs AQs AJs ATs A9s A8s A7s A6s A5s A4s A3s A2s KQs KJs KTs K9s QJs QTs Q9s JTs J9s T9s "
    "T8s 98s 87s 76s 65s 54s AKo AQo AJo ATo A9o KQo KJo KTo QJo QTo JTo";
const SolveSpot kSpot{kOopClasses, kIpClasses, "Qs 8h 4d 2c 7s"};

// The river lines: a bet of 66% by OOP or, after a check, by IP; facing a bet
// call, fold (automatic), a raise to three times the bet and the all-in;
// facing a raise call, fold and the all-in; and the check-down.
std::set<std::string> RiverLines() {
  std::set<std::string> lines;
  const double bet = std::min(kStack, std::round(kPot * 0.66));
  auto facing = [&](std::vector<double> line) {
    lines.insert(LineText(line));
    line.push_back(bet);
    lines.insert(LineText(line));  // call
    line.pop_back();
    const double raise = std::round(3.0 * bet);
    for (double r : {raise, kStack}) {
      if (r >= kStack && r != kStack) continue;
      std::vector<double> raised = line;
      raised.push_back(r);
      lines.insert(LineText(raised));
      raised.push_back(r);
      lines.insert(LineText(raised));  // call of the raise
      if (r < kStack) {
        raised.pop_back();
        raised.push_back(kStack);
        raised.push_back(kStack);
        lines.insert(LineText(raised));  // all-in over the raise, called
      }
    }
  };
  facing({bet});
  facing({0.0, bet});
  lines.insert(LineText({0.0, 0.0}));
  return lines;
}

int RunSingle(const DriverOptions& options) {
  FILE* report = StartChildRun(kSpot, RiverLines(), options);
  const std::vector<double> oop = ClassRange(kOopClasses), ip = ClassRange(kIpClasses);
  if (!CommandSucceeded(report, "build_tree", Run("build_tree"))) return 1;
  // First the number of iterations the target takes, measured every 25
  // iterations between runs (the engine's own checks are thinned to one per
  // 250 ms, far apart for a tree this small); the runs' time is what the
  // iterations cost.
  int needed = 0;
  double needed_seconds = 0.0, needed_exploitability = -1.0;
  if (options.steps == 0) {
    constexpr int kStep = 25, kCap = 20000;
    while (g_solver_state->iterations < kCap) {
      const auto run_start = std::chrono::steady_clock::now();
      Run("go " + std::to_string(kStep) + " steps");
      WaitForSolver();
      needed_seconds += Seconds(run_start, std::chrono::steady_clock::now());
      ProgressRecord r{};
      if (!ComputeResults(&r)) break;
      needed_exploitability = r.exploitability;
      if (r.exploitability <= options.accuracy * kPot) {
        needed = g_solver_state->iterations;
        break;
      }
    }
    // The timed run below starts afresh.
    Run("build_tree");
  }
  const SolverState& state = *g_solver_state;

  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = ProcessCpuSeconds();
  if (!CommandSucceeded(report, "go", Run(GoLine(options.steps)))) return 1;
  WaitForSolver();
  const auto end = std::chrono::steady_clock::now();
  const double cpu = ProcessCpuSeconds() - cpu_start;

  // The first check at or below the target: its iteration and the time the
  // solver had run by then.
  double exploitability = -1.0, reached_seconds = -1.0;
  int checked_iteration = 0, reached_iteration = 0;
  for (const ProgressRecord& r : g_progress_history) {
    exploitability = r.exploitability;
    checked_iteration = static_cast<int>(r.iteration);
    if (reached_iteration == 0 && r.exploitability <= options.accuracy * kPot) {
      reached_iteration = static_cast<int>(r.iteration);
      reached_seconds = r.running_time;
    }
  }
  const TreeSize size = CountTreeNodes(state);
  std::fprintf(report,
               "RESULT threads=%d seconds=%.4f iterations=%d checked=%d exploitability=%.5f "
               "pot_fraction=%.5f reached_iteration=%d reached_seconds=%.4f peak=%llu cpu=%.4f "
               "nodes=%d decisions=%d oop_combos=%d ip_combos=%d needed=%d needed_seconds=%.4f "
               "needed_exploitability=%.5f\n",
               options.single, Seconds(start, end), state.iterations, checked_iteration,
               exploitability, exploitability / kPot, reached_iteration, reached_seconds,
               static_cast<unsigned long long>(ProcessPeakMemoryBytes()), cpu, size.nodes,
               size.decisions, LiveCombos(oop, state.board_mask), LiveCombos(ip, state.board_mask),
               needed, needed_seconds, needed_exploitability);
  std::fflush(report);
  return 0;
}

bool ParseOptions(int argc, char** argv, DriverOptions& options) {
  for (int i = 1; i < argc; ++i)
    if (!ParseDriverOption(argc, argv, i, options)) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  DriverOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--threads a,b,...] [--accuracy x] [--steps n] [--script file] "
                 "[--verbose]\n",
                 argv[0]);
    return 2;
  }
  if (options.single > 0) return RunSingle(options);

  if (!options.script.empty()) {
    InitEngineTables();
    return WriteSolveScript(options.script, SpotScript(kSpot, RiverLines(), options.accuracy));
  }

  if (options.threads.empty()) {
    const int n = static_cast<int>(std::thread::hardware_concurrency());
    options.threads = {1, n};
  }
  std::vector<std::string> results;
  auto child_args = [&](int t) { return DriverChildArgs("river_solve_bench", options, t); };
  if (!RunPerThreadCount(options.threads, child_args, results)) return 1;

  PrintSpotLine(results.front(), kSpot.board);
  std::printf("a river-rooted tree has no deal node: every pass runs on one thread, whatever the "
              "thread count\n");
  std::printf("target: %.2f%% of the pot. 'to target': iterations until a measurement every 25\n"
              "iterations first shows it, and the time those iterations took; 'engine run': go to\n"
              "the accuracy, whose checks the engine thins to one per 250 ms\n",
              100.0 * options.accuracy);
  std::printf("%8s %11s %11s %9s %9s | %11s %10s %9s %10s %9s\n", "threads", "to target it",
              "to target s", "it/s", "peak MiB", "engine run s", "iterations", "it/s", "expl/pot",
              "cpu s");
  for (const std::string& r : results) {
    const double seconds = Field(r, "seconds"), iterations = Field(r, "iterations");
    const double needed = Field(r, "needed"), needed_seconds = Field(r, "needed_seconds");
    std::printf("%8d %11d %11.3f %9.1f %9.1f | %11.3f %10d %9.1f %9.4f%% %9.3f\n",
                static_cast<int>(Field(r, "threads")), static_cast<int>(needed), needed_seconds,
                needed > 0 ? needed / needed_seconds : 0.0, Field(r, "peak") / 1048576.0, seconds,
                static_cast<int>(iterations), iterations / seconds,
                100.0 * Field(r, "pot_fraction"), Field(r, "cpu"));
  }
  return 0;
}
