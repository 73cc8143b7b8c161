// The float row kernels of the plain and arena stores on a 1000-hand board with
// three actions, in both builds, a plain store's whole GetStrategy, and the
// traverser's fused river decision on 16-bit rows of a 452-hand board.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "store/plain_store.h"
#include "store/value_kernels16.h"
#include "store/value_kernels32.h"
#include "support/kernel_bench.h"

namespace {

constexpr int32_t kHands = 1000;
constexpr int32_t kActions = 3;

struct Fixture {
  std::vector<std::vector<float>> rows;
  std::vector<NumArray> action_values;
  std::vector<NumArray> strategy;
  NumArray node_values;
  NumArray reach;

  Fixture() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> regret(0.0f, 50.0f);
    std::uniform_real_distribution<double> value(-20.0, 20.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    node_values.Resize(kHands);
    reach.Resize(kHands);
    for (int32_t k = 0; k < kHands; ++k) {
      node_values[k] = value(rng);
      reach[k] = unit(rng);
    }
    for (int a = 0; a < kActions; ++a) {
      std::vector<float> row(kHands);
      for (float& r : row) r = regret(rng);
      rows.push_back(row);
      NumArray v(kHands), s(kHands);
      for (int32_t k = 0; k < kHands; ++k) {
        v[k] = value(rng);
        s[k] = 1.0 / kActions;
      }
      action_values.push_back(std::move(v));
      strategy.push_back(std::move(s));
    }
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

// The tables of the build under test.
template <bool avx2>
const ValueKernels32& Floats() {
  return avx2 ? isa_avx2::kValueKernels32 : isa_avx::kValueKernels32;
}
template <bool avx2>
const ValueKernels16& Sixteen() {
  return avx2 ? isa_avx2::kValueKernels16 : isa_avx::kValueKernels16;
}

template <bool avx2>
void BM_Strategy3(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Fixture& f = TheFixture();
  const float defaults[kActions] = {0.9f, 0.05f, 0.05f};
  std::vector<NumArray> out;
  for (int a = 0; a < kActions; ++a) out.emplace_back(kHands);
  auto fn = Floats<avx2>().NormalizeValues32x3;
  for (auto _ : state) {
    fn(f.rows[0].data(), f.rows[1].data(), f.rows[2].data(), out[0].data, out[1].data,
       out[2].data, kHands, defaults);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHands);
}

// The general form: a sum row, then each action over it.
template <bool avx2>
void BM_StrategyGeneral(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Fixture& f = TheFixture();
  std::vector<NumArray> out;
  for (int a = 0; a < kActions; ++a) out.emplace_back(kHands);
  std::vector<float> sums(kHands);
  auto sum = Floats<avx2>().SumValues32;
  auto normalize = Floats<avx2>().NormalizeValues32;
  for (auto _ : state) {
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int a = 0; a < kActions; ++a) sum(sums.data(), f.rows[a].data(), kHands);
    for (int a = 0; a < kActions; ++a)
      normalize(out[a].data, f.rows[a].data(), sums.data(), kHands, 0.25f);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHands);
}

template <bool avx2>
void BM_UpdateRegrets(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Fixture& f = TheFixture();
  auto fn = Floats<avx2>().UpdateRegrets32;
  std::vector<std::vector<float>> rows = f.rows;
  for (auto _ : state) {
    for (int a = 0; a < kActions; ++a)
      fn(rows[a].data(), f.node_values.data, f.action_values[a].data, kHands, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHands * kActions);
}

template <bool avx2>
void BM_AccumulateStrategy(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  Fixture& f = TheFixture();
  auto fn = Floats<avx2>().AccumulateStrategy32;
  std::vector<std::vector<float>> rows = f.rows;
  for (auto _ : state) {
    for (int a = 0; a < kActions; ++a)
      fn(rows[a].data(), f.strategy[a].data, f.reach.data, 1.0, kHands, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHands * kActions);
}

// The traverser's river decision on 16-bit regrets: strategy, node value and
// the regret update in one call. The rows are put back before each call, so
// that every call sees the same regrets (the copy is part of the time).
template <bool avx2, int actions>
void BM_OwnDecision16(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  constexpr int32_t n = 452;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> regret(0, 3000);
  std::uniform_real_distribution<double> value(-20.0, 20.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::vector<uint16_t>> start(actions, std::vector<uint16_t>(n));
  std::vector<std::vector<double>> values(actions, std::vector<double>(n));
  for (int a = 0; a < actions; ++a)
    for (int32_t h = 0; h < n; ++h) {
      // A third of the regrets at zero, as regret matching leaves many.
      start[a][h] = unit(rng) < 0.33 ? 0 : static_cast<uint16_t>(regret(rng));
      values[a][h] = value(rng);
    }
  std::vector<std::vector<uint16_t>> rows = start;
  uint16_t* row_ptr[actions];
  const double* value_ptr[actions];
  for (int a = 0; a < actions; ++a) {
    row_ptr[a] = rows[a].data();
    value_ptr[a] = values[a].data();
  }
  std::vector<double> node(n);
  float defaults[actions];
  for (int a = 0; a < actions; ++a) defaults[a] = a == 0 ? 0.9f : 0.1f / (actions - 1);
  auto fn = Sixteen<avx2>().UpdateOwnDecision16;
  for (auto _ : state) {
    for (int a = 0; a < actions; ++a) std::copy(start[a].begin(), start[a].end(), rows[a].begin());
    fn(row_ptr, actions, n, value_ptr, node.data(), defaults, 100.0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * actions);
}

// The store entry with its result arrays, through the dispatcher.
void BM_PlainStoreGetStrategy(benchmark::State& state) {
  Fixture& f = TheFixture();
  const int32_t actions = static_cast<int32_t>(state.range(0));
  PlainStore store(actions, kHands);
  store.Allocate();
  for (int a = 0; a < actions; ++a) store.SetActionValues(-1, -1, a, f.action_values[a % kActions]);
  const std::vector<float> defaults(actions, 1.0f / actions);
  for (auto _ : state) {
    std::vector<NumArray> s = store.GetStrategy(-1, -1, defaults.data());
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kHands);
}

BENCHMARK(BM_Strategy3<true>)->Name("GetStrategy3/avx2");
BENCHMARK(BM_Strategy3<false>)->Name("GetStrategy3/avx");
BENCHMARK(BM_StrategyGeneral<true>)->Name("GetStrategyGeneral3/avx2");
BENCHMARK(BM_StrategyGeneral<false>)->Name("GetStrategyGeneral3/avx");
BENCHMARK(BM_UpdateRegrets<true>)->Name("UpdateRegrets3/avx2");
BENCHMARK(BM_UpdateRegrets<false>)->Name("UpdateRegrets3/avx");
BENCHMARK(BM_AccumulateStrategy<true>)->Name("AccumulateStrategy3/avx2");
BENCHMARK(BM_AccumulateStrategy<false>)->Name("AccumulateStrategy3/avx");
BENCHMARK(BM_OwnDecision16<true, 2>)->Name("OwnDecision16x2/avx2");
BENCHMARK(BM_OwnDecision16<true, 3>)->Name("OwnDecision16x3/avx2");
BENCHMARK(BM_OwnDecision16<true, 4>)->Name("OwnDecision16x4/avx2");
BENCHMARK(BM_OwnDecision16<false, 2>)->Name("OwnDecision16x2/avx");
BENCHMARK(BM_PlainStoreGetStrategy)->Name("PlainStoreGetStrategy")->Arg(2)->Arg(3)->Arg(5);

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, false); }
