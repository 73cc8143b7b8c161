// A realistic flop spot solved to 0.3% of the pot through the engine's own
// commands, on all cores and on one core, each in a fresh process so that its
// peak memory is its own.
//
//   flop_solve_bench [options]
//     --threads a,b,...   thread counts to run, one process each (default: N,1)
//     --accuracy x        target exploitability as a fraction of the pot (0.003)
//     --scheduler k       engine scheduler: 0 OpenMP, largest subgames first (the
//                         default), 1 OpenMP in collect order, 2 worker pool
//     --steps n           stop after n iterations instead of at the accuracy
//     --window k          also time the iterations from k on (default 70, once
//                         every store has been touched; 0: not)
//     --compression a,b   compression levels to run (0-4), one process each per
//                         thread count, reported side by side (default: the
//                         engine's automatic level)
//     --script file       write the spot as an engine script and exit
//     --spot file         solve the spot that an engine script sets up instead
//                         (its lines before build_tree; e.g. examples/three_bet_flop.txt)
//     --verbose           pass the engine's own output through
//
// The default spot: support/flop_spot.h.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cards/situation.h"
#include "solver/benchmark_routine.h"
#include "solver/progress_history.h"
#include "solver/solver_preparation.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "store/arena_store.h"
#include "store/block_store.h"
#include "support/flop_spot.h"
#include "support/solve_driver.h"
#include "tree/tree_records.h"

namespace {

// An iteration by which every store has been touched.
constexpr int kSettledIteration = 70;

uint64_t ResidentBytes() {
  FILE* file = std::fopen("/proc/self/status", "r");
  if (!file) return 0;
  char line[256];
  unsigned long long kib = 0;
  while (std::fgets(line, sizeof line, file))
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      std::sscanf(line + 6, "%llu", &kib);
      break;
    }
  std::fclose(file);
  return kib * 1024;
}

// Mappings of the process (lines of /proc/self/maps): compressed blocks must
// not run into the kernel's limit on them.
int MappingCount() {
  FILE* file = std::fopen("/proc/self/maps", "r");
  if (!file) return 0;
  int lines = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
  std::fclose(file);
  return lines;
}

// What the stores of the tree take once allocated: float rows of the flop and
// turn stores, the river arenas at their element size, and what the river
// blocks hold.
uint64_t StoreBytes(const SolverState& state) {
  uint64_t bytes = 0;
  for (const TreeNode& node : state.nodes)
    for (NodeStore* store : {node.regret_store.get(), node.strategy_store.get()}) {
      if (!store) continue;
      if (BlockStore* block = store->AsBlockStore())
        bytes += static_cast<uint64_t>(block->BlockBytes());
      else if (auto* arena = dynamic_cast<VirtualArenaStore*>(store))
        bytes += static_cast<uint64_t>(arena->layout()->value_places) *
                 static_cast<uint64_t>(arena->GetElementSize());
      else
        bytes += static_cast<uint64_t>(store->GetValueCount(-1)) * sizeof(float);
    }
  return bytes;
}

struct Options : DriverOptions {
  int scheduler = 0;
  std::string spot;  // --spot: a set-up script in place of the built-in spot
  std::vector<int> levels;  // --compression; empty: the automatic level
  int level = -1;           // the child's level (-1: automatic)
  int window = kSettledIteration;  // iterations before the measured window (0: none)
};

// The set-up lines of an engine script: every command before its build_tree.
std::vector<std::string> ScriptSetup(const std::string& path) {
  std::vector<std::string> setup;
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return setup;
  char buffer[16384];
  std::string line;
  while (std::fgets(buffer, sizeof buffer, file)) {
    line += buffer;
    if (line.empty() || line.back() != '\n') continue;  // a range line longer than the buffer
    line.pop_back();
    if (line.rfind("build_tree", 0) == 0) break;
    if (!line.empty() && line[0] != '#') setup.push_back(line);
    line.clear();
  }
  std::fclose(file);
  return setup;
}

// Live combinations of a player's range as the engine holds it (ComboIndex order).
int LiveEngineCombos(int player, CardMask board) {
  std::vector<double> by_order(kComboCount, 0.0);
  for (int k = 0; k < kComboCount && k < static_cast<int>(g_ranges[player].size()); ++k)
    by_order[g_hand_order_by_combo[k]] = g_ranges[player][k];
  return LiveCombos(by_order, board);
}

int RunSingle(const Options& options) {
  FILE* report = nullptr;
  if (options.spot.empty()) {
    report = StartChildRun(kFlopSpot, FlopSpotLines(), options);
  } else {
    const std::vector<std::string> setup = ScriptSetup(options.spot);
    if (setup.empty()) {
      std::fprintf(stderr, "no set-up lines in %s\n", options.spot.c_str());
      return 1;
    }
    report = StartChildRun(setup, options);
  }
  const double pot = g_pot[2];
  Run("set_scheduler " + std::to_string(options.scheduler));
  if (options.level >= 0) Run("set_compression " + std::to_string(options.level));
  const auto build_start = std::chrono::steady_clock::now();
  const std::string built = Run("build_tree");
  const auto build_end = std::chrono::steady_clock::now();
  if (!CommandSucceeded(report, "build_tree", built)) return 1;
  const SolverState& state = *g_solver_state;
  const int level = std::atoi(Run("get_actual_compression").c_str() + 12);
  const std::unique_ptr<StorageCounterBlock> counters = CopyStorageCounters();
  uint64_t totals = 0;
  for (int s = 0; s < 4; ++s) totals += counters->totals[s];
  const uint64_t rss_before = ResidentBytes();

  const auto start = std::chrono::steady_clock::now();
  if (!CommandSucceeded(report, "go", Run(GoLine(options.steps)))) return 1;
  // Resident memory once every store has been touched (the strategy sums from
  // iteration 61 on) and at the end: the two show whether memory grows with the
  // iterations.
  uint64_t rss_settled = 0;
  // The window from the first iteration count seen at or past `window` to the
  // end: wall and CPU time per iteration once the strategies have settled.
  int window_iteration = -1;
  double window_cpu = 0.0;
  auto window_start = start;
  while (IsSolverRunning()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int it = __atomic_load_n(&g_solver_state->iterations, __ATOMIC_RELAXED);
    if (options.window > 0 && window_iteration < 0 && it >= options.window) {
      window_iteration = it;
      window_cpu = ProcessCpuSeconds();
      window_start = std::chrono::steady_clock::now();
    }
    if (!rss_settled && it >= kSettledIteration) rss_settled = ResidentBytes();
  }
  WaitForSolver();
  const auto end = std::chrono::steady_clock::now();
  const uint64_t rss_end = ResidentBytes();
  const int window_iterations = window_iteration >= 0 ? state.iterations - window_iteration : 0;
  const double window_wall = window_iterations > 0 ? Seconds(window_start, end) / window_iterations : 0.0;
  const double window_cpu_per = window_iterations > 0 ? (ProcessCpuSeconds() - window_cpu) / window_iterations : 0.0;

  double exploitability = -1.0;
  int checked_iteration = 0;
  if (!g_progress_history.empty()) {
    exploitability = g_progress_history.back().exploitability;
    checked_iteration = static_cast<int>(g_progress_history.back().iteration);
  }
  const TreeSize size = CountTreeNodes(state);
  std::fprintf(report,
               "RESULT threads=%d seconds=%.3f iterations=%d checked=%d exploitability=%.5f "
               "pot_fraction=%.5f peak=%llu rss_before=%llu rss_settled=%llu rss_end=%llu "
               "store_bytes=%llu storage_totals=%llu build_seconds=%.3f cpu=%.3f nodes=%d "
               "decisions=%d oop_combos=%d ip_combos=%d window_wall=%.4f window_cpu=%.4f "
               "level=%d mappings=%d\n",
               options.single, Seconds(start, end), state.iterations, checked_iteration,
               exploitability, exploitability / pot,
               static_cast<unsigned long long>(ProcessPeakMemoryBytes()),
               static_cast<unsigned long long>(rss_before),
               static_cast<unsigned long long>(rss_settled),
               static_cast<unsigned long long>(rss_end),
               static_cast<unsigned long long>(StoreBytes(state)),
               static_cast<unsigned long long>(totals), Seconds(build_start, build_end),
               ProcessCpuSeconds(), size.nodes, size.decisions,
               LiveEngineCombos(0, state.board_mask), LiveEngineCombos(1, state.board_mask), window_wall, window_cpu_per, level,
               MappingCount());
  std::fflush(report);
  return 0;
}

std::vector<std::string> ChildArgs(const Options& options, int threads, int level) {
  std::vector<std::string> extra = {"--scheduler", std::to_string(options.scheduler), "--window",
                                    std::to_string(options.window), "--level",
                                    std::to_string(level)};
  if (!options.spot.empty()) {
    extra.push_back("--spot");
    extra.push_back(options.spot);
  }
  return DriverChildArgs("flop_solve_bench", options, threads, extra);
}

// The levels side by side: per level and thread count its peak, the stores'
// bytes, time per iteration, and iterations and seconds to the accuracy.
void PrintLevelTable(const std::vector<std::string>& results) {
  std::printf("\n%6s %8s %10s %12s %9s %10s %9s %10s %10s %9s\n", "level", "threads", "peak MiB",
              "stores MiB", "s/it", "s/it@70+", "vs lvl 0", "iterations", "seconds", "mappings");
  for (const std::string& r : results) {
    double base = 0.0;
    for (const std::string& other : results)
      if (Field(other, "level") == 0.0 && Field(other, "threads") == Field(r, "threads"))
        base = Field(other, "window_wall");
    const double per = Field(r, "seconds") / std::max(1.0, Field(r, "iterations"));
    std::printf("%6d %8d %10.1f %12.1f %9.4f %10.4f %9.2f %10d %10.3f %9d\n",
                static_cast<int>(Field(r, "level")), static_cast<int>(Field(r, "threads")),
                Field(r, "peak") / 1048576.0, Field(r, "store_bytes") / 1048576.0, per,
                Field(r, "window_wall"), base > 0.0 ? Field(r, "window_wall") / base : 0.0,
                static_cast<int>(Field(r, "iterations")), Field(r, "seconds"),
                static_cast<int>(Field(r, "mappings")));
  }
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (ParseDriverOption(argc, argv, i, options)) continue;
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--scheduler" && has_value) {
      options.scheduler = std::atoi(argv[++i]);
    } else if (a == "--window" && has_value) {
      options.window = std::atoi(argv[++i]);
    } else if (a == "--compression" && has_value) {
      options.levels = ThreadList(argv[++i]);
      for (int level : options.levels)
        if (level < 0 || level > 4) return false;
    } else if (a == "--spot" && has_value) {
      options.spot = argv[++i];
    } else if (a == "--level" && has_value) {
      options.level = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--threads a,b,...] [--accuracy x] [--scheduler k] [--steps n] "
                 "[--window k] [--compression a,b,...] [--script file] [--spot file] [--verbose]\n",
                 argv[0]);
    return 2;
  }
  if (options.single > 0) return RunSingle(options);

  if (!options.script.empty()) {
    InitEngineTables();
    return WriteSolveScript(options.script, SpotScript(kFlopSpot, FlopSpotLines(), options.accuracy));
  }

  if (options.threads.empty()) {
    const int n = static_cast<int>(std::thread::hardware_concurrency());
    options.threads = {n, 1};
  }
  const char* board = options.spot.empty() ? kFlopSpot.board : options.spot.c_str();
  std::vector<std::string> results;
  if (!options.levels.empty()) {
    // Level by level, each thread count in its own process.
    for (int level : options.levels)
      if (!RunPerThreadCount(options.threads,
                             [&](int t) { return ChildArgs(options, t, level); }, results))
        return 1;
    PrintSpotLine(results.front(), board);
    PrintLevelTable(results);
    return 0;
  }
  if (!RunPerThreadCount(options.threads, [&](int t) { return ChildArgs(options, t, -1); },
                         results))
    return 1;

  const std::string& first = results.front();
  PrintSpotLine(first, board);
  std::printf("store bytes %.1f MiB, storage totals %.1f MiB, build %.2f s\n",
              Field(first, "store_bytes") / 1048576.0, Field(first, "storage_totals") / 1048576.0,
              Field(first, "build_seconds"));
  std::printf("%8s %9s %10s %9s %10s %11s %10s %10s %10s %8s %10s %12s\n", "threads", "seconds",
              "iterations", "it/s", "expl/pot", "peak MiB", "rss@70", "rss@end", "cpu s",
              "speedup", "s/it@70+", "cpu s/it@70+");
  double one_thread_rate = 0.0;
  for (const std::string& r : results)
    if (Field(r, "threads") == 1.0) one_thread_rate = Field(r, "iterations") / Field(r, "seconds");
  for (const std::string& r : results) {
    const double seconds = Field(r, "seconds"), iterations = Field(r, "iterations");
    const double rate = iterations / seconds;
    std::printf("%8d %9.3f %10d %9.2f %9.4f%% %11.1f %10.1f %10.1f %10.2f %8.2f %10.4f %12.4f\n",
                static_cast<int>(Field(r, "threads")), seconds, static_cast<int>(iterations),
                rate, 100.0 * Field(r, "pot_fraction"), Field(r, "peak") / 1048576.0,
                Field(r, "rss_settled") / 1048576.0, Field(r, "rss_end") / 1048576.0,
                Field(r, "cpu"), one_thread_rate > 0.0 ? rate / one_thread_rate : 0.0,
                Field(r, "window_wall"), Field(r, "window_cpu"));
  }
  for (const std::string& r : results)
    std::printf("%d threads: peak is %.1f%% of the store bytes\n",
                static_cast<int>(Field(r, "threads")),
                100.0 * Field(r, "peak") / Field(first, "store_bytes"));
  return 0;
}
