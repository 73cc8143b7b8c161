// Four showdown end nodes of one river board: the four-column kernel against
// four single-node calls, in both builds, ns per four nodes. The board has
// about 450 hands in play; each reach has about 60% entries above zero, or 15%
// (a solving pass of the flop benchmark averages about 35%).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"
#include "solver/showdown_columns.h"
#include "solver/terminal_kernels.h"
#include "tree/deal_tree.h"

namespace {

struct Board {
  DealTree tree;
  std::vector<double> reach[4], out[4], fold[4];
  std::vector<double> sparse[4];  // 15% entries, as deep in a pass

  Board() {
    const char* text = "Qs8h4dTc2s";
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
      order.push_back(__builtin_ctzll(ParseCardText(std::string(text + 2 * i, 2))));
    InitDealTree(tree, CardBit(order[0]) | CardBit(order[1]) | CardBit(order[2]), 0, order[3],
                 order[4], false);
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> range(kComboCount);
    for (double& w : range) w = u(rng) < 0.42 ? 1.0 : 0.0;
    BuildNodeComboLists(tree, range, range);
    const size_t n = Rec().hands.size();
    for (int k = 0; k < 4; ++k) {
      for (size_t i = 0; i < n; ++i) reach[k].push_back(u(rng) < 0.6 ? u(rng) : 0.0);
      for (size_t i = 0; i < n; ++i) sparse[k].push_back(u(rng) < 0.15 ? u(rng) : 0.0);
      out[k].resize(n);
      fold[k].resize(n);
    }
  }
  const RiverDealRecord& Rec() const { return tree.turn_records[0].river_records[0]; }
  int32_t N() const { return Rec().HandCount(); }
  int32_t Groups() const { return static_cast<int32_t>(Rec().strength_groups.size()); }
};

Board& TheBoard() {
  static Board board;
  return board;
}

bool Runnable(benchmark::State& state, bool avx2) {
  if (avx2 && !CpuHasAvx2Fma()) {
    state.SkipWithError("no AVX2/FMA");
    return false;
  }
  state.counters["hands"] = TheBoard().N();
  return true;
}

using ShowdownFn = decltype(&isa_avx::ComputeShowdownValues);
using CombinedFn = decltype(&isa_avx::ComputeShowdownAndFold);
using ColumnsFn = decltype(&isa_avx::ComputeShowdownColumns);

template <ShowdownFn fn, bool avx2>
void BM_FourSingle(benchmark::State& state) {
  if (!Runnable(state, avx2)) return;
  Board& b = TheBoard();
  const std::vector<double>* reach = state.range(0) ? b.sparse : b.reach;
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k)
      fn(b.out[k].data(), reach[k].data(), b.N(), b.Rec().strength_groups.data(), b.Groups(),
         b.Rec().hand_cards.data(), 1.5 - k);
    benchmark::ClobberMemory();
  }
}

template <ColumnsFn fn, bool avx2>
void BM_Columns(benchmark::State& state) {
  if (!Runnable(state, avx2)) return;
  Board& b = TheBoard();
  ShowdownColumn col[4];
  const std::vector<double>* reach = state.range(0) ? b.sparse : b.reach;
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      col[k].in = reach[k].data();
      col[k].out = b.out[k].data();
      col[k].v = 1.5 - k;
    }
    fn(col, b.N(), b.Rec().strength_groups.data(), b.Groups(), b.Rec().hand_cards.data());
    benchmark::ClobberMemory();
  }
}

// Two showdowns and two showdown-and-fold pairs (the mix of a river visit).
template <ShowdownFn single, CombinedFn combined, bool avx2>
void BM_FourSingleMixed(benchmark::State& state) {
  if (!Runnable(state, avx2)) return;
  Board& b = TheBoard();
  const int16_t* g = b.Rec().strength_groups.data();
  const uint16_t* c = b.Rec().hand_cards.data();
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k)
      single(b.out[k].data(), b.reach[k].data(), b.N(), g, b.Groups(), c, 1.5 - k);
    for (int k = 2; k < 4; ++k)
      combined(b.out[k].data(), b.fold[k].data(), b.reach[k].data(), b.N(), g, b.Groups(), c,
               1.5 - k, -2.0);
    benchmark::ClobberMemory();
  }
}

template <ColumnsFn fn, bool avx2>
void BM_ColumnsMixed(benchmark::State& state) {
  if (!Runnable(state, avx2)) return;
  Board& b = TheBoard();
  ShowdownColumn col[4];
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      col[k].in = b.reach[k].data();
      col[k].out = b.out[k].data();
      if (k < 2) {
        col[k].v = 1.5 - k;
      } else {
        col[k].f = 1.5 - k;
        col[k].fold_out = b.fold[k].data();
        col[k].fold_v = -2.0;
      }
    }
    fn(col, b.N(), b.Rec().strength_groups.data(), b.Groups(), b.Rec().hand_cards.data());
    benchmark::ClobberMemory();
  }
}

// Argument 0: 60% entries; 1: 15% entries.
BENCHMARK(BM_FourSingle<isa_avx2::ComputeShowdownValues, true>)
    ->Name("FourSingle/avx2")
    ->Arg(0)
    ->Arg(1);
BENCHMARK(BM_Columns<isa_avx2::ComputeShowdownColumns, true>)
    ->Name("Columns/avx2")
    ->Arg(0)
    ->Arg(1);
BENCHMARK(BM_FourSingle<isa_avx::ComputeShowdownValues, false>)
    ->Name("FourSingle/avx")
    ->Arg(0)
    ->Arg(1);
BENCHMARK(BM_Columns<isa_avx::ComputeShowdownColumns, false>)
    ->Name("Columns/avx")
    ->Arg(0)
    ->Arg(1);
BENCHMARK(BM_FourSingleMixed<isa_avx2::ComputeShowdownValues, isa_avx2::ComputeShowdownAndFold,
                             true>)
    ->Name("FourSingleMixed/avx2");
BENCHMARK(BM_ColumnsMixed<isa_avx2::ComputeShowdownColumns, true>)->Name("ColumnsMixed/avx2");

}  // namespace

int main(int argc, char** argv) {
  InitCpuFeatures();
  if (!InitHandEvaluator()) return 1;
  BuildComboTables();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
