// Solver iterations per second (one iteration = a solving pass for each
// player) and evaluation passes, on a mid-size river tree (full ranges, three
// bet sizes and a raise) and a small flop tree (full ranges, one bet size per
// street, no raise). The river tree has no deal node, so its passes run on
// the calling thread alone; the flop tree runs its turn subgames as one batch
// per pass on the scheduler and thread count given by the arguments.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "compress/compression_level.h"
#include "protocol/dispatcher.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "solver/current_iteration.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "support/flop_spot.h"
#include "support/solve_driver.h"
#include "support/tree_spot.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

constexpr double kPot = 100.0;
constexpr double kStack = 250.0;

// Builds the tree at a compression level and allocates every store, as go
// does.
bool BuildTree(const char* board, const LineShape& shape, int level = 0) {
  SetUpTreeSpot(board, shape);
  if (level != 0 && Run("set_compression " + std::to_string(level)) != "set_compression ok!\n")
    return false;
  if (Run("build_tree") != "build_tree ok!\n") return false;
  for (TreeNode& node : g_solver_state->nodes) {
    if (!node.regret_store) continue;
    if (!node.regret_store->Allocate()) return false;
    if (node.strategy_store && !node.strategy_store->Allocate()) return false;
    node.materialised = 1;
  }
  g_solver_state->stores_allocated = 1;
  return true;
}

void SolverIteration(SolverState& state) {
  double out[2];
  TraverseTree(&state, out, PLAYER_IP, PASS_SOLVE);
  TraverseTree(&state, out, PLAYER_OOP, PASS_SOLVE);
  ++state.iterations;
  g_current_iteration = state.iterations;
}

void Describe(benchmark::State& bench, const SolverState& state) {
  int64_t decisions = 0;
  for (const TreeNode& node : state.nodes) decisions += node.kind == DECISION_NODE;
  bench.counters["nodes"] = static_cast<double>(state.nodes.size());
  bench.counters["decisions"] = static_cast<double>(decisions);
  bench.counters["hands"] = static_cast<double>(state.root_hand_weights[0].size());
}

const LineShape kRiverShape{kPot, kStack, {0.33, 0.75, 1.5}, true, 0};
const LineShape kFlopShape{kPot, kStack, {0.5}, false, 2};

// Iterations from 0, then on past iteration 60 where the strategy sums start.
void BM_RiverIterations(benchmark::State& bench) {
  if (!BuildTree("Ks 7s 2d Th 4c", kRiverShape)) return bench.SkipWithError("build failed");
  SolverState& state = *g_solver_state;
  for (auto _ : bench) SolverIteration(state);
  bench.SetItemsProcessed(bench.iterations());
  Describe(bench, state);
}
BENCHMARK(BM_RiverIterations)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_RiverEvaluation(benchmark::State& bench) {
  if (!BuildTree("Ks 7s 2d Th 4c", kRiverShape)) return bench.SkipWithError("build failed");
  SolverState& state = *g_solver_state;
  for (int i = 0; i < 80; ++i) SolverIteration(state);
  double out[2];
  for (auto _ : bench) {
    TraverseTree(&state, out, PLAYER_OOP, PASS_EVALUATE);
    TraverseTree(&state, out, PLAYER_IP, PASS_EVALUATE);
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_RiverEvaluation)->Unit(benchmark::kMillisecond)->Iterations(50);

// Arguments: scheduler, OpenMP threads.
void BM_FlopIterations(benchmark::State& bench) {
  if (!BuildTree("Ks 7s 2d", kFlopShape)) return bench.SkipWithError("build failed");
  g_scheduler = static_cast<uint32_t>(bench.range(0));
  omp_set_num_threads(static_cast<int>(bench.range(1)));
  SolverState& state = *g_solver_state;
  for (auto _ : bench) SolverIteration(state);
  bench.SetItemsProcessed(bench.iterations());
  Describe(bench, state);
}
BENCHMARK(BM_FlopIterations)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime()
    ->Args({0, 1})
    ->Args({0, omp_get_num_procs()})
    ->Args({1, omp_get_num_procs()})
    ->Args({2, omp_get_num_procs()});

// The flop benchmark's spot (flop_solve_bench) once its strategy sums are in
// use: a few iterations on every core to fill the stores, then from iteration
// 61 on, on the given thread count (scheduler 0). Every store and sum row is
// touched before the timing starts.
void BM_FlopSpotSettled(benchmark::State& bench) {
  InitEngineTables();
  for (const std::string& line : SpotScript(kFlopSpot, FlopSpotLines(), 0.003)) Run(line);
  g_compression_setting = 0;
  if (Run("build_tree") != "build_tree ok!\n") return bench.SkipWithError("build failed");
  SolverState& state = *g_solver_state;
  for (TreeNode& node : state.nodes) {
    if (!node.regret_store) continue;
    if (!node.regret_store->Allocate()) return bench.SkipWithError("allocation failed");
    if (node.strategy_store && !node.strategy_store->Allocate())
      return bench.SkipWithError("allocation failed");
    node.materialised = 1;
  }
  state.stores_allocated = 1;
  g_scheduler = 0;
  omp_set_num_threads(omp_get_num_procs());
  for (int i = 0; i < 10; ++i) SolverIteration(state);
  state.iterations = 60;
  SolverIteration(state);
  omp_set_num_threads(static_cast<int>(bench.range(0)));
  for (auto _ : bench) SolverIteration(state);
  bench.SetItemsProcessed(bench.iterations());
  Describe(bench, state);
}
BENCHMARK(BM_FlopSpotSettled)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8)
    ->UseRealTime()
    ->Arg(1)
    ->Arg(omp_get_num_procs());

// The flop tree at a compression level once the strategy sums are in use:
// solving iterations, and the two evaluation passes of an exploitability
// check. Arguments: compression level, OpenMP threads (scheduler 0).
bool BuildFlopTreeAtLevel(benchmark::State& bench) {
  if (!BuildTree("Ks 7s 2d", kFlopShape, static_cast<int>(bench.range(0)))) return false;
  g_scheduler = 0;
  omp_set_num_threads(static_cast<int>(bench.range(1)));
  for (int i = 0; i < 64; ++i) SolverIteration(*g_solver_state);
  return true;
}

void BM_FlopLevelIterations(benchmark::State& bench) {
  if (!BuildFlopTreeAtLevel(bench)) return bench.SkipWithError("build failed");
  SolverState& state = *g_solver_state;
  for (auto _ : bench) SolverIteration(state);
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_FlopLevelIterations)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime()
    ->ArgsProduct({{0, 2, 3}, {1, omp_get_num_procs()}});

void BM_FlopLevelEvaluation(benchmark::State& bench) {
  if (!BuildFlopTreeAtLevel(bench)) return bench.SkipWithError("build failed");
  SolverState& state = *g_solver_state;
  double out[2];
  for (auto _ : bench) {
    TraverseTree(&state, out, PLAYER_OOP, PASS_EVALUATE);
    TraverseTree(&state, out, PLAYER_IP, PASS_EVALUATE);
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_FlopLevelEvaluation)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime()
    ->ArgsProduct({{0, 2, 3}, {1, omp_get_num_procs()}});

}  // namespace

BENCHMARK_MAIN();
