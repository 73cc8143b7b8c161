// Fold and showdown values on full river boards (1081 hands, every hand in
// play), in both builds: ns per call. Ks9h4d2c7s has a typical number of
// strength groups; 2c3c4c7d8h has the most (136).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "solver/terminal_kernels.h"
#include "support/kernel_bench.h"
#include "tree/deal_tree.h"

namespace {

struct Board {
  DealTree tree;
  std::vector<double> reach_a, reach_b;
  std::vector<double> out_a, out_b;

  explicit Board(const char* text) {
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
      order.push_back(__builtin_ctzll(ParseCardText(std::string(text + 2 * i, 2))));
    InitDealTree(tree, CardBit(order[0]) | CardBit(order[1]) | CardBit(order[2]), 0, order[3],
                 order[4], false);
    const std::vector<double> full(kComboCount, 1.0);
    BuildNodeComboLists(tree, full, full);
    const size_t n = Rec().hands.size();
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    // Dense reach with a share of pruned hands, as a solving pass sees it.
    for (size_t i = 0; i < n; ++i) {
      reach_a.push_back(u(rng) < 0.15 ? 0.0 : u(rng));
      reach_b.push_back(u(rng) < 0.15 ? 0.0 : u(rng));
    }
    out_a.resize(n);
    out_b.resize(n);
  }
  const RiverDealRecord& Rec() const { return tree.turn_records[0].river_records[0]; }
  int32_t N() const { return Rec().HandCount(); }
  int32_t Groups() const { return static_cast<int32_t>(Rec().strength_groups.size()); }
};

Board& TypicalBoard() {
  static Board board("Ks9h4d2c7s");
  return board;
}
Board& WidestBoard() {
  static Board board("2c3c4c7d8h");
  return board;
}

// The table of the build under test.
template <bool avx2>
const TerminalKernels& Terminal() {
  return avx2 ? isa_avx2::kTerminalKernels : isa_avx::kTerminalKernels;
}

template <bool avx2, Board& (*board_of)()>
void BM_Fold(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Board& b = board_of();
  for (auto _ : state) {
    Terminal<avx2>().ComputeBlockedReach(b.out_a.data(), b.reach_a.data(), b.N(),
                                         b.Rec().hand_cards.data(), 1.5);
    benchmark::ClobberMemory();
  }
}

template <bool avx2, Board& (*board_of)()>
void BM_Showdown(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Board& b = board_of();
  for (auto _ : state) {
    Terminal<avx2>().ComputeShowdownValues(b.out_a.data(), b.reach_a.data(), b.N(),
                                           b.Rec().strength_groups.data(), b.Groups(),
                                           b.Rec().hand_cards.data(), 1.5);
    benchmark::ClobberMemory();
  }
}

template <bool avx2, Board& (*board_of)()>
void BM_ShowdownAndFold(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Board& b = board_of();
  for (auto _ : state) {
    Terminal<avx2>().ComputeShowdownAndFold(b.out_a.data(), b.out_b.data(), b.reach_a.data(), b.N(),
                                            b.Rec().strength_groups.data(), b.Groups(),
                                            b.Rec().hand_cards.data(), 1.5, -2.0);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Fold<true, TypicalBoard>)->Name("Fold/avx2");
BENCHMARK(BM_Fold<false, TypicalBoard>)->Name("Fold/avx");
BENCHMARK(BM_Showdown<true, TypicalBoard>)->Name("Showdown/avx2");
BENCHMARK(BM_Showdown<false, TypicalBoard>)->Name("Showdown/avx");
BENCHMARK(BM_Showdown<true, WidestBoard>)->Name("Showdown136/avx2");
BENCHMARK(BM_Showdown<false, WidestBoard>)->Name("Showdown136/avx");
BENCHMARK(BM_ShowdownAndFold<true, TypicalBoard>)->Name("ShowdownAndFold/avx2");
BENCHMARK(BM_ShowdownAndFold<false, TypicalBoard>)->Name("ShowdownAndFold/avx");

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, true); }
