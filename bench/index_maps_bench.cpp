// Expand, compact, gather and scatter-add on a flop (1176 hands) and a dealt
// turn board (1128 hands, three card lists), in both builds.
#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "store/index_maps.h"
#include "support/kernel_bench.h"

namespace {

struct Fixture {
  std::array<int16_t, kComboCount> parent_map;
  std::vector<std::vector<int16_t>> card_lists;
  std::vector<int16_t> group_sizes;
  int32_t parent_hands = 0;
  int32_t dealt_hands = 0;
  NumArray parent_values;
  std::vector<double> combos;

  Fixture() : combos(kComboCount) {
    // Flop 2c 7c Kc, dealt 5d standing for 5d, 5h and 5s (suit swaps of d).
    const CardMask flop = CardBit(0) | CardBit(5) | CardBit(11);
    const int dealt_card = CardNumber(3, 1);
    parent_map.fill(-1);
    std::vector<std::pair<int, int>> dealt;
    for (int hi = 1; hi < kCardCount; ++hi)
      for (int lo = 0; lo < hi; ++lo) {
        const CardMask hand = CardBit(hi) | CardBit(lo);
        if (flop & hand) continue;
        parent_map[ComboIndexOfCards(hi, lo)] = static_cast<int16_t>(parent_hands++);
        if (!(hand & CardBit(dealt_card))) dealt.push_back({lo, hi});
      }
    dealt_hands = static_cast<int32_t>(dealt.size());
    for (int to : {1, 2, 3}) {
      auto swap = [to](int card) {
        const int suit = CardSuit(card);
        return CardNumber(CardRank(card), suit == 1 ? to : suit == to ? 1 : suit);
      };
      std::vector<int16_t> list;
      for (auto [lo, hi] : dealt) list.push_back(parent_map[ComboIndexOfCards(swap(lo), swap(hi))]);
      card_lists.push_back(std::move(list));
    }
    // Equal-strength groups are mostly small with a few long runs.
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> size(1, 24);
    for (int left = dealt_hands; left > 0;) {
      const int n = std::min(size(rng), left);
      group_sizes.push_back(static_cast<int16_t>(n));
      left -= n;
    }
    parent_values.Resize(parent_hands);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    for (int32_t i = 0; i < parent_hands; ++i) parent_values[i] = value(rng);
    for (double& v : combos) v = value(rng);
  }

  HandGroupView View(bool grouped) const {
    HandGroupView v;
    v.hand_group_flag = grouped ? 1 : 0;
    v.hand_count = dealt_hands;
    v.card_lists = &card_lists;
    v.group_sizes = &group_sizes;
    return v;
  }
};

const Fixture& TheFixture() {
  static const Fixture fixture;
  return fixture;
}

// The tables under test: each build's, and the one in use.
const IndexMapsKernels& Avx2() { return isa_avx2::kIndexMapsKernels; }
const IndexMapsKernels& Avx() { return isa_avx::kIndexMapsKernels; }
const IndexMapsKernels& InUse() { return Kernels<IndexMapsKernels>(); }
using Maps = const IndexMapsKernels& (*)();

template <Maps maps, bool avx2>
void BM_Expand(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  const Fixture& f = TheFixture();
  alignas(32) static double out[kComboCount];
  for (auto _ : state) {
    maps().ExpandHandsToCombos(out, f.parent_values, f.parent_map.data(), true);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}

template <Maps maps, bool avx2>
void BM_Compact(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  const Fixture& f = TheFixture();
  NumArray dest(f.parent_hands);
  for (auto _ : state) {
    maps().CompactCombosToHands(dest, f.combos.data(), f.parent_map.data());
    benchmark::DoNotOptimize(dest.data);
    benchmark::ClobberMemory();
  }
}

template <Maps maps, bool avx2, bool grouped>
void BM_Gather(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  const Fixture& f = TheFixture();
  const HandGroupView view = f.View(grouped);
  NumArray out;
  for (auto _ : state) {
    maps().GatherSumHandGroups(view, out, f.parent_values);
    benchmark::DoNotOptimize(out.data);
    benchmark::ClobberMemory();
  }
}

template <Maps maps, bool avx2, bool grouped>
void BM_Scatter(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  const Fixture& f = TheFixture();
  const HandGroupView view = f.View(grouped);
  NumArray src(grouped ? static_cast<int32_t>(f.group_sizes.size()) : f.dealt_hands);
  for (int32_t i = 0; i < src.count; ++i) src[i] = 1e-9 * i;
  NumArray dest(f.parent_hands);
  for (int32_t i = 0; i < dest.count; ++i) dest[i] = 0.0;
  for (auto _ : state) {
    maps().ScatterAddHandGroups(view, dest, src);
    benchmark::DoNotOptimize(dest.data);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Expand<Avx2, true>)->Name("Expand/avx2");
BENCHMARK(BM_Expand<Avx, false>)->Name("Expand/avx");
BENCHMARK(BM_Compact<Avx2, true>)->Name("Compact/avx2");
BENCHMARK(BM_Compact<Avx, false>)->Name("Compact/avx");
BENCHMARK(BM_Gather<Avx2, true, false>)->Name("GatherPlain/avx2");
BENCHMARK(BM_Gather<InUse, false, false>)->Name("GatherPlain/dispatch");
BENCHMARK(BM_Gather<Avx, false, false>)->Name("GatherPlain/avx");
BENCHMARK(BM_Gather<Avx2, true, true>)->Name("GatherGrouped/avx2");
BENCHMARK(BM_Gather<Avx, false, true>)->Name("GatherGrouped/avx");
BENCHMARK(BM_Scatter<Avx2, true, false>)->Name("ScatterPlain3/avx2");
BENCHMARK(BM_Scatter<Avx, false, false>)->Name("ScatterPlain3/avx");
BENCHMARK(BM_Scatter<Avx2, true, true>)->Name("ScatterGrouped3/avx2");
BENCHMARK(BM_Scatter<Avx, false, true>)->Name("ScatterGrouped3/avx");

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, false); }
