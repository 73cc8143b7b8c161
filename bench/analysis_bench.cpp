// Wall time of the per-combination queries (equities, EVs, line frequencies) on the flop spot of
// flop_solve_bench, at the root and at a turn node, after a short solve.
//
//   analysis_bench [--script file] [--steps n] [--repeat k] [--threads t]
//     --script file   the spot as an engine script (default: the one that
//                     flop_solve_bench --script writes)
//     --steps n       iterations solved before the queries (default 30)
//     --repeat k      runs of each query; the best and the mean are reported (3)
//     --threads t     set_threads before solving (default: every processor)
//
// Each line: the query, its first, best and mean wall time in seconds (the first
// EV query after solving also measures the results), the reply size.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fp_mode.h"
#include "solver/solver_status.h"
#include "support/solve_driver.h"

namespace {

struct Options {
  std::string script;
  int steps = 30;
  int repeat = 3;
  int threads = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    if (a == "--script")
      options.script = argv[++i];
    else if (a == "--steps")
      options.steps = std::atoi(argv[++i]);
    else if (a == "--repeat")
      options.repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--threads")
      options.threads = std::atoi(argv[++i]);
    else
      return false;
  }
  return true;
}

// The set-up lines of the script; its own solving and reporting lines are left out.
bool RunSetUp(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("go", 0) == 0 || line.rfind("wait_for_solver", 0) == 0 ||
        line.rfind("calc_results", 0) == 0)
      continue;
    const std::string reply = Run(line);
    if (reply.find("ERROR") != std::string::npos) {
      std::fprintf(stderr, "%s: %s", line.substr(0, 40).c_str(), reply.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--script file] [--steps n] [--repeat k] [--threads t]\n",
                 argv[0]);
    return 2;
  }
  if (options.script.empty()) {
    options.script = "analysis_bench_spot.txt";
    const std::string make = std::string(TDX_FLOP_SOLVE_BENCH) + " --script " + options.script;
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "could not write the spot with %s\n", make.c_str());
      return 1;
    }
  }
  InitEngineTables();
  EnableFlushToZero();
  if (!RunSetUp(options.script)) return 1;
  if (options.threads > 0) Run("set_threads " + std::to_string(options.threads));
  auto clock = std::chrono::steady_clock::now;
  const auto build_start = clock();
  if (Run("build_tree") != "build_tree ok!\n") return 1;
  std::printf("build_tree %.3f s\n", Seconds(build_start, clock()));
  const auto solve_start = clock();
  Run("go " + std::to_string(options.steps) + " steps");
  WaitForSolver();
  std::printf("go %d steps %.3f s\n", options.steps, Seconds(solve_start, clock()));

  // A turn node: flop checked through, the turn 2c.
  const char* const kQueries[] = {
      "calc_eq OOP",
      "calc_eq_node OOP r:0:c:c:2c",
      "calc_ev OOP r",
      "calc_ev OOP r:0:c:c:2c",
      "calc_ev IP r:0:c:c:2c",
      "calc_line_freq r:0:c:c:2c",
      "calc_line_freq r:0:c:c:2c:c:c:3d",
      "calc_global_freq r:0:c:c:2c:c:c:3d",
  };
  for (const char* query : kQueries) {
    double best = 1e300, total = 0.0, first = 0.0;
    size_t size = 0;
    for (int k = 0; k < options.repeat; ++k) {
      const auto start = clock();
      const std::string reply = Run(query);
      const double seconds = Seconds(start, clock());
      if (k == 0) first = seconds;
      best = std::min(best, seconds);
      total += seconds;
      size = reply.size();
      if (reply.rfind("ERROR", 0) == 0) std::printf("  %s", reply.c_str());
    }
    std::printf("%-36s first %.3f s  best %.3f s  mean %.3f s  (%zu bytes)\n", query, first,
                best, total / options.repeat, size);
  }
  return 0;
}
