// show_strategy and show_range at a river node of the flop benchmark tree
// (support/flop_spot.h): on the solved tree, then with its rivers forgotten,
// where the first query of a river board re-solves that board and the next
// ones read what the re-solve left.
//
//   analysis_queries_bench [--threads n] [--steps n] [--repeat k] [--verbose]
//     --threads n   solver threads (default: every core)
//     --steps n     iterations solved before the queries (default 200)
//     --repeat k    timed repetitions of each query on a solved board (default 20)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "solver/solver_settings.h"
#include "solver/solver_status.h"
#include "support/flop_spot.h"
#include "support/solve_driver.h"

namespace {

// OOP's river decision after checks on every street, on three boards.
const char* const kRiverNode = "r:0:c:c:7c:c:c:2s";
const char* const kOtherRiverNode = "r:0:c:c:Kd:c:c:5h";
const char* const kUnaskedRiverNode = "r:0:c:c:Jc:c:c:6d";

double Milliseconds(std::chrono::steady_clock::time_point a,
                    std::chrono::steady_clock::time_point b) {
  return 1000.0 * Seconds(a, b);
}

// One run of the line, in milliseconds; the reply must look like an answer.
double TimeLine(const std::string& line, std::string* reply = nullptr) {
  const auto start = std::chrono::steady_clock::now();
  const std::string text = Run(line);
  const auto end = std::chrono::steady_clock::now();
  if (text.rfind("ERROR", 0) == 0) {
    std::fprintf(stderr, "%s: %s", line.c_str(), text.c_str());
    std::exit(1);
  }
  if (reply) *reply = text;
  return Milliseconds(start, end);
}

// The median of `repeat` runs of the line, in milliseconds.
double MedianTime(const std::string& line, int repeat) {
  std::vector<double> times;
  for (int i = 0; i < repeat; ++i) times.push_back(TimeLine(line));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void ReportQueries(FILE* report, const char* what, int repeat) {
  std::fprintf(report, "%-34s show_strategy %8.3f ms   show_range OOP %8.3f ms   IP %8.3f ms\n",
               what, MedianTime(std::string("show_strategy ") + kRiverNode, repeat),
               MedianTime(std::string("show_range OOP ") + kRiverNode, repeat),
               MedianTime(std::string("show_range IP ") + kRiverNode, repeat));
}

}  // namespace

int main(int argc, char** argv) {
  DriverOptions options;
  options.steps = 200;
  int repeat = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--threads" && has_value) {
      options.single = std::atoi(argv[++i]);
    } else if (a == "--steps" && has_value) {
      options.steps = std::atoi(argv[++i]);
    } else if (a == "--repeat" && has_value) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--verbose") {
      options.verbose = true;
    } else {
      std::fprintf(stderr, "usage: %s [--threads n] [--steps n] [--repeat k] [--verbose]\n",
                   argv[0]);
      return 2;
    }
  }
  if (options.single <= 0) options.single = static_cast<int>(std::thread::hardware_concurrency());

  FILE* report = StartChildRun(kFlopSpot, FlopSpotLines(), options);
  const auto build_start = std::chrono::steady_clock::now();
  if (!CommandSucceeded(report, "build_tree", Run("build_tree"))) return 1;
  const auto solve_start = std::chrono::steady_clock::now();
  if (!CommandSucceeded(report, "go", Run(GoLine(options.steps)))) return 1;
  WaitForSolver();
  const auto solve_end = std::chrono::steady_clock::now();
  std::fprintf(report, "flop spot %s, %d threads: build %.2f s, %d iterations in %.2f s\n",
               kFlopSpot.board, options.single, Seconds(build_start, solve_start), options.steps,
               Seconds(solve_start, solve_end));
  std::fprintf(report, "river node %s\n", kRiverNode);
  ReportQueries(report, "solved tree", repeat);

  const double forget_ms = TimeLine("forget rivers");
  std::fprintf(report, "forget rivers %.1f ms\n", forget_ms);
  // The default re-solve target (0) runs every board to the 1000-iteration cap;
  // the usual one is a fraction of the pot.
  for (const char* accuracy : {"0 0 0", "0.002 0.002 0.002"}) {
    Run(std::string("set_recalc_accuracy ") + accuracy);
    Run("solve_partial " + std::string(kOtherRiverNode));  // warms the river subtree's stores
    const double first = TimeLine(std::string("explo_partial ") + kRiverNode);
    std::fprintf(report, "re-solve of one river board, set_recalc_accuracy %s: %.1f ms\n",
                 accuracy, first);
  }
  // A board not asked about yet: the query pays its re-solve.
  const double first_query = TimeLine(std::string("show_strategy ") + kUnaskedRiverNode);
  std::fprintf(report, "first show_strategy on a forgotten board (re-solves it) %.1f ms\n",
               first_query);
  ReportQueries(report, "forgotten rivers, board re-solved", repeat);
  return 0;
}
