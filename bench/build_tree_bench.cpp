// build_tree on a large flop tree (full ranges; per street two bet sizes and a
// raise), then every store allocated as the first go does: build time,
// allocation time, the storage counters, the bytes mapped for river stores and
// the bytes per stored value.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/virtual_memory.h"
#include "protocol/dispatcher.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "solver/solver_state.h"
#include "store/arena_store.h"
#include "support/solve_driver.h"
#include "support/tree_spot.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

constexpr double kPot = 100.0;
constexpr double kStack = 250.0;

// mmap hands out whole pages.
uint64_t PageRounded(uint64_t bytes) { return (bytes + 4095) & ~uint64_t{4095}; }

// Per street bets of a third and of three quarters of the pot and a raise to
// three times the bet, capped at the stack.
const LineShape kShape{kPot, kStack, {1.0 / 3.0, 0.75}, true, 2};

void SetUpSituation() {
  static bool done = false;
  if (done) return;
  done = true;
  SetUpTreeSpot("Ks 7s 2d", kShape);
}

void BM_BuildTree(benchmark::State& state) {
  SetUpSituation();
  for (auto _ : state) {
    const std::string reply = Run("build_tree");
    if (reply != "build_tree ok!\n") state.SkipWithError(reply.c_str());
  }
  const SolverState& tree = *g_solver_state;
  int64_t river_nodes = 0;
  for (const TreeNode& node : tree.nodes)
    river_nodes += node.kind == DECISION_NODE && node.street == 3;
  state.counters["nodes"] = static_cast<double>(tree.nodes.size());
  state.counters["river_nodes"] = static_cast<double>(river_nodes);
  state.counters["river_values"] = static_cast<double>(tree.storage_counters[3]);
  state.counters["total_bytes"] =
      static_cast<double>(tree.storage_totals[1] + tree.storage_totals[2] + tree.storage_totals[3]);
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond)->Iterations(3);

// One build, then every store allocated; the figures are those of the last run.
void BM_AllocateStores(benchmark::State& state) {
  SetUpSituation();
  double allocated_mb = 0.0, regret_bytes_per_value = 0.0, sum_bytes_per_value = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    if (Run("build_tree") != "build_tree ok!\n") state.SkipWithError("build failed");
    state.ResumeTiming();

    uint64_t river_regret_bytes = 0, river_sum_bytes = 0, failures = 0;
    for (TreeNode& node : g_solver_state->nodes) {
      if (!node.regret_store) continue;
      const uint64_t mark = ReservedBlockBytes();
      bool ok = node.regret_store->Allocate();
      const uint64_t after_regrets = ReservedBlockBytes();
      if (ok && node.strategy_store) ok = node.strategy_store->Allocate();
      if (node.street == 3) {
        river_regret_bytes += PageRounded(after_regrets - mark);
        river_sum_bytes += PageRounded(ReservedBlockBytes() - after_regrets);
      }
      if (ok)
        node.materialised = 1;
      else
        ++failures;
    }
    g_solver_state->stores_allocated = failures == 0;

    state.PauseTiming();
    if (failures) state.SkipWithError("allocation refused: not enough memory");
    const double values = static_cast<double>(g_solver_state->storage_counters[3]);
    allocated_mb = static_cast<double>(river_regret_bytes + river_sum_bytes) / (1 << 20);
    regret_bytes_per_value = static_cast<double>(river_regret_bytes) / values;
    sum_bytes_per_value = static_cast<double>(river_sum_bytes) / values;
    FreeSolverState();  // unmaps the blocks before the next round
    state.ResumeTiming();
  }
  state.counters["river_mapped_MB"] = allocated_mb;
  state.counters["regret_B_per_value"] = regret_bytes_per_value;
  state.counters["sum_B_per_value"] = sum_bytes_per_value;
}
BENCHMARK(BM_AllocateStores)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
