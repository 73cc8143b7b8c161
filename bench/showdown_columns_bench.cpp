// Four showdown end nodes of one river board: the four-column kernel against
// four single-node calls, in each build, ns per four nodes. The board has
// about 450 hands in play; each reach has about 60% entries above zero, or 15%,
// or (as a solving pass of the flop benchmark measures) 24% of the hands in
// each column and 36% in any of the four, the opponent's range being narrower
// than the board's list. Also the fold
// halves of pairs: one by one, four columns at once, or riding in the spare
// column of a set of three.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "platform/cpu_features.h"
#include "platform/isa_dispatch.h"
#include "solver/showdown_columns.h"
#include "solver/terminal_kernels.h"
#include "support/kernel_bench.h"
#include "tree/deal_tree.h"

namespace {

// The engine's arrays start on 32-byte bounds, half of them off a 64-byte
// line: the benchmark's arrays all start so, the harder case for wide loads.
template <class T>
struct OffLineAllocator {
  using value_type = T;
  OffLineAllocator() = default;
  template <class U>
  OffLineAllocator(const OffLineAllocator<U>&) {}
  T* allocate(size_t count) {
    char* block = static_cast<char*>(std::aligned_alloc(64, (count * sizeof(T) + 127) / 64 * 64));
    return reinterpret_cast<T*>(block + 32);
  }
  void deallocate(T* p, size_t) { std::free(reinterpret_cast<char*>(p) - 32); }
  bool operator==(const OffLineAllocator&) const { return true; }
};
using Values = std::vector<double, OffLineAllocator<double>>;

struct Board {
  DealTree tree;
  Values reach[4], out[4], fold[4];
  Values sparse[4];   // 15% entries, as deep in a pass
  Values in_play[4];  // 24% per column, 36% in any column

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
    std::vector<bool> held(n);
    for (size_t i = 0; i < n; ++i) held[i] = u(rng) < 0.36;
    for (int k = 0; k < 4; ++k) {
      for (size_t i = 0; i < n; ++i)
        in_play[k].push_back(held[i] && u(rng) < 0.66 ? u(rng) : 0.0);
      for (size_t i = 0; i < n; ++i) reach[k].push_back(u(rng) < 0.6 ? u(rng) : 0.0);
      for (size_t i = 0; i < n; ++i) sparse[k].push_back(u(rng) < 0.15 ? u(rng) : 0.0);
      out[k].resize(n);
      fold[k].resize(n);
    }
  }
  const RiverDealRecord& Rec() const { return tree.turn_records[0].river_records[0]; }
  int32_t N() const { return Rec().HandCount(); }
  int32_t Groups() const { return static_cast<int32_t>(Rec().strength_groups.size()); }
  // 0: 60% entries; 1: 15%; 2: as in a pass.
  const Values* Reaches(int64_t which) const {
    return which == 2 ? in_play : which == 1 ? sparse : reach;
  }
};

Board& TheBoard() {
  static Board board;
  return board;
}

bool Runnable(benchmark::State& state, KernelBuild isa) {
  if (!IsaRunnable(state, isa != KernelBuild::kAvx)) return false;
  if (isa == KernelBuild::kAvx512 && !CpuHasAvx512()) {
    state.SkipWithError("no AVX-512");
    return false;
  }
  state.counters["hands"] = TheBoard().N();
  state.counters["groups"] = TheBoard().Groups();
  return true;
}

// The tables of the build under test.
template <KernelBuild isa>
const TerminalKernels& Single() {
  return isa == KernelBuild::kAvx512    ? isa_avx512::kTerminalKernels
         : isa == KernelBuild::kAvx2Fma ? isa_avx2::kTerminalKernels
                                        : isa_avx::kTerminalKernels;
}
template <KernelBuild isa>
const ShowdownColumnsKernels& Columns() {
  return isa == KernelBuild::kAvx512    ? isa_avx512::kShowdownColumnsKernels
         : isa == KernelBuild::kAvx2Fma ? isa_avx2::kShowdownColumnsKernels
                                        : isa_avx::kShowdownColumnsKernels;
}

template <KernelBuild isa>
void BM_FourSingle(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  const Values* reach = b.Reaches(state.range(0));
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k)
      Single<isa>().ComputeShowdownValues(b.out[k].data(), reach[k].data(), b.N(),
                                           b.Rec().strength_groups.data(), b.Groups(),
                                           b.Rec().hand_cards.data(), 1.5 - k);
    benchmark::ClobberMemory();
  }
}

template <KernelBuild isa>
void BM_Columns(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  ShowdownColumn col[4];
  const Values* reach = b.Reaches(state.range(0));
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      col[k].in = reach[k].data();
      col[k].out = b.out[k].data();
      col[k].v = 1.5 - k;
    }
    Columns<isa>().ComputeShowdownColumns(col, b.N(), b.Rec().strength_groups.data(), b.Groups(),
                                           b.Rec().hand_cards.data());
    benchmark::ClobberMemory();
  }
}

// Two showdowns and two showdown-and-fold pairs (the mix of a river visit).
template <KernelBuild isa>
void BM_FourSingleMixed(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  const int16_t* g = b.Rec().strength_groups.data();
  const uint16_t* c = b.Rec().hand_cards.data();
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k)
      Single<isa>().ComputeShowdownValues(b.out[k].data(), b.reach[k].data(), b.N(), g, b.Groups(),
                                           c, 1.5 - k);
    for (int k = 2; k < 4; ++k)
      Single<isa>().ComputeShowdownAndFold(b.out[k].data(), b.fold[k].data(), b.reach[k].data(),
                                            b.N(), g, b.Groups(), c, 1.5 - k, -2.0);
    benchmark::ClobberMemory();
  }
}

template <KernelBuild isa>
void BM_ColumnsMixed(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
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
    Columns<isa>().ComputeShowdownColumns(col, b.N(), b.Rec().strength_groups.data(), b.Groups(),
                                           b.Rec().hand_cards.data());
    benchmark::ClobberMemory();
  }
}

// The fold halves of k pairs (argument 0: k; argument 1: the reaches, as
// Board::Reaches), one compacting scan each or one four-column pass.
template <KernelBuild isa>
void BM_FoldPairs(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  const int folds = static_cast<int>(state.range(0));
  const Values* reach = b.Reaches(state.range(1));
  for (auto _ : state) {
    for (int k = 0; k < folds; ++k)
      Columns<isa>().FinishShowdownFoldPair(b.out[k].data(), b.fold[k].data(), reach[k].data(),
                                             b.N(), b.Rec().hand_cards.data(), -2.0 + k, 1.0);
    benchmark::ClobberMemory();
  }
}

template <KernelBuild isa>
void BM_FoldColumns(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  const int folds = static_cast<int>(state.range(0));
  const Values* reach = b.Reaches(state.range(1));
  FoldPairColumn col[4];
  for (int k = 0; k < folds; ++k)
    col[k] = {reach[k].data(), b.fold[k].data(), b.out[k].data(), -2.0 + k, 1.0};
  for (auto _ : state) {
    Columns<isa>().FinishShowdownFoldColumns(col, b.N(), b.Rec().hand_cards.data());
    benchmark::ClobberMemory();
  }
}

// A set of three: a showdown, a showdown-and-fold column and a pair's
// showdown; argument 1: the pair's fold rides in the fourth column, 0: it
// follows by its own fold half.
template <KernelBuild isa>
void BM_SetOfThreeWithPair(benchmark::State& state) {
  if (!Runnable(state, isa)) return;
  Board& b = TheBoard();
  const int16_t* g = b.Rec().strength_groups.data();
  const uint16_t* c = b.Rec().hand_cards.data();
  const bool rides = state.range(0) != 0;
  for (auto _ : state) {
    ShowdownColumn col[4];
    col[0] = {b.reach[0].data(), b.out[0].data(), 1.5};
    col[1] = {b.reach[1].data(), b.out[1].data(), 1.0, -1.0, b.fold[1].data(), 2.0};
    col[2] = {b.reach[2].data(), b.out[2].data(), 0.5, 1.0, nullptr, 0.0, true};
    if (rides) {
      col[3].in = b.sparse[3].data();
      col[3].v = -2.0;
      col[3].fold_out = b.fold[2].data();
      col[3].fold_only = true;
      col[3].walk_small = true;
    }
    Columns<isa>().ComputeShowdownColumns(col, b.N(), g, b.Groups(), c);
    if (!rides)
      Columns<isa>().FinishShowdownFoldPair(b.out[2].data(), b.fold[2].data(), b.sparse[3].data(),
                                             b.N(), c, -2.0, col[2].total);
    benchmark::ClobberMemory();
  }
}

constexpr KernelBuild kAvx512 = KernelBuild::kAvx512;
constexpr KernelBuild kAvx2 = KernelBuild::kAvx2Fma;
constexpr KernelBuild kAvx = KernelBuild::kAvx;

BENCHMARK(BM_SetOfThreeWithPair<kAvx2>)->Name("SetOfThreeWithPair/avx2")->Arg(0)->Arg(1);
BENCHMARK(BM_SetOfThreeWithPair<kAvx512>)->Name("SetOfThreeWithPair/avx512")->Arg(0)->Arg(1);
BENCHMARK(BM_FoldPairs<kAvx2>)->Name("FoldPairs/avx2")->ArgsProduct({{1, 2, 3, 4}, {0, 1, 2}});
BENCHMARK(BM_FoldColumns<kAvx2>)->Name("FoldColumns/avx2")->ArgsProduct({{1, 2, 3, 4}, {0, 1, 2}});
BENCHMARK(BM_FoldColumns<kAvx512>)
    ->Name("FoldColumns/avx512")
    ->ArgsProduct({{1, 2, 3, 4}, {0, 1, 2}});

// Argument: the reaches, as Board::Reaches.
BENCHMARK(BM_FourSingle<kAvx2>)->Name("FourSingle/avx2")->DenseRange(0, 2);
BENCHMARK(BM_Columns<kAvx512>)->Name("Columns/avx512")->DenseRange(0, 2);
BENCHMARK(BM_Columns<kAvx2>)->Name("Columns/avx2")->DenseRange(0, 2);
BENCHMARK(BM_FourSingle<kAvx>)->Name("FourSingle/avx")->DenseRange(0, 2);
BENCHMARK(BM_Columns<kAvx>)->Name("Columns/avx")->DenseRange(0, 2);
BENCHMARK(BM_FourSingleMixed<kAvx2>)->Name("FourSingleMixed/avx2");
BENCHMARK(BM_ColumnsMixed<kAvx512>)->Name("ColumnsMixed/avx512");
BENCHMARK(BM_ColumnsMixed<kAvx2>)->Name("ColumnsMixed/avx2");

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, true); }
