// The per-hand array operations of the tree walk on 1000-hand arrays, in both
// builds. Outputs are reused across iterations (their Resize is a no-op), except
// in PrunedFresh, which hands a new child array each time as the kernels do.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "solver/array_ops.h"
#include "support/kernel_bench.h"
#include "tree/deal_tree.h"

namespace {

constexpr int32_t kHands = 1000;

struct Fixture {
  NumArray a, b, c;
  std::vector<uint8_t> mask;
  std::vector<CardMask> hands;

  Fixture() : a(kHands), b(kHands), c(kHands), mask(kHands) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int32_t i = 0; i < kHands; ++i) {
      a[i] = u(rng) - 0.5;
      b[i] = u(rng);
      c[i] = u(rng) - 0.5;
      mask[i] = rng() % 4 == 0;
    }
    // Distinct two-card hands off a three-card board, the first 1000 of them.
    const CardMask board = CardBit(0) | CardBit(17) | CardBit(34);
    for (int hi = 1; hi < 52 && static_cast<int32_t>(hands.size()) < kHands; ++hi)
      for (int lo = 0; lo < hi && static_cast<int32_t>(hands.size()) < kHands; ++lo)
        if (!((CardBit(hi) | CardBit(lo)) & board)) hands.push_back(CardBit(hi) | CardBit(lo));
  }
};

const Fixture& F() {
  static const Fixture fixture;
  return fixture;
}

// The table of the build under test.
template <bool avx2>
const ArrayOpsKernels& Ops() {
  return avx2 ? isa_avx2::kArrayOpsKernels : isa_avx::kArrayOpsKernels;
}

NumArray CopyOf(const NumArray& src) {
  NumArray out(src.count);
  for (int32_t i = 0; i < src.count; ++i) out[i] = src[i];
  return out;
}

void Done(benchmark::State& state, const NumArray& out) {
  benchmark::DoNotOptimize(out.data);
  benchmark::ClobberMemory();
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kHands);
}

template <bool avx2>
void BM_Scale(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray x = CopyOf(F().a);
  for (auto _ : state) {
    Ops<avx2>().ScaleArray(x, 1.0);
    Done(state, x);
  }
  Finish(state);
}

template <bool avx2>
void BM_ScaleSigned(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray x = CopyOf(F().a);
  for (auto _ : state) {
    Ops<avx2>().ScaleSigned(x, 1.0, 1.0);
    Done(state, x);
  }
  Finish(state);
}

template <bool avx2>
void BM_Multiply(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out;
  for (auto _ : state) {
    Ops<avx2>().MultiplyArrays(out, F().a, F().b);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_Pruned(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out;
  for (auto _ : state) {
    Ops<avx2>().MultiplyArraysPruned(out, F().b, F().b);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_PrunedFresh(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  for (auto _ : state) {
    NumArray out;
    Ops<avx2>().MultiplyArraysPruned(out, F().b, F().b);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_InPlacePruned(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray x = CopyOf(F().b);
  NumArray ones(kHands);
  for (int32_t i = 0; i < kHands; ++i) ones[i] = 1.0;
  for (auto _ : state) {
    Ops<avx2>().MultiplyInPlacePruned(x, ones);
    Done(state, x);
  }
  Finish(state);
}

template <bool avx2>
void BM_MultiplyAdd(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out = CopyOf(F().c);
  for (auto _ : state) {
    Ops<avx2>().MultiplyAddArrays(out, F().a, F().b);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_Accumulate(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out = CopyOf(F().c);
  for (auto _ : state) {
    Ops<avx2>().AccumulateArray(out, F().a);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_Max(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out = CopyOf(F().c);
  for (auto _ : state) {
    Ops<avx2>().MaxArrays(out, F().a);
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_CombineFirstMasked(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out;
  for (auto _ : state) {
    Ops<avx2>().CombineFirstMasked(out, F().a, F().b, F().mask.data());
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_CombineMaxMasked(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray out = CopyOf(F().c);
  for (auto _ : state) {
    Ops<avx2>().CombineMaxMasked(out, F().a, F().b, F().mask.data());
    Done(state, out);
  }
  Finish(state);
}

template <bool avx2>
void BM_CardReach(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  CardRecord record;
  for (auto _ : state) {
    Ops<avx2>().AccumulateCardReach(record, 0, F().b, 1.5);
    Done(state, record.reach_sums[0]);
  }
  Finish(state);
}

template <bool avx2>
void BM_CollectTargetValues(benchmark::State& state) {
  if (!IsaRunnable(state, avx2)) return;
  NumArray values, weights;
  for (auto _ : state) {
    Ops<avx2>().CollectTargetValues(values, weights, F().a, F().b, F().c, F().hands.data(), 1980.0);
    Done(state, values);
  }
  Finish(state);
}

#define TDX_BOTH(fn, name)                              \
  BENCHMARK(fn<true>)->Name(name "/avx2");              \
  BENCHMARK(fn<false>)->Name(name "/avx");

TDX_BOTH(BM_Scale, "Scale")
TDX_BOTH(BM_ScaleSigned, "ScaleSigned")
TDX_BOTH(BM_Multiply, "Multiply")
TDX_BOTH(BM_Pruned, "MultiplyPruned")
TDX_BOTH(BM_PrunedFresh, "MultiplyPrunedFresh")
TDX_BOTH(BM_InPlacePruned, "MultiplyInPlacePruned")
TDX_BOTH(BM_MultiplyAdd, "MultiplyAdd")
TDX_BOTH(BM_Accumulate, "Accumulate")
TDX_BOTH(BM_Max, "Max")
TDX_BOTH(BM_CombineFirstMasked, "CombineFirstMasked")
TDX_BOTH(BM_CombineMaxMasked, "CombineMaxMasked")
TDX_BOTH(BM_CardReach, "AccumulateCardReach")
TDX_BOTH(BM_CollectTargetValues, "CollectTargetValues")

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, false); }
