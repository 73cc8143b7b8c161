// Seven-card evaluation throughput on one core over precomputed random hands:
// the baseline evaluator on suit-field words, the dispatched card-array entry in
// both builds, and whole river boards (every hand not touching the board) in
// both builds, as the showdown orders evaluate them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"

namespace {

constexpr size_t kHandCount = 1 << 16;
constexpr size_t kBoardCount = 64;

struct Hands {
  std::vector<HandBits> bits;
  std::vector<uint8_t> cards;  // 7 per hand
  std::vector<CardMask> boards;
  std::vector<std::vector<CardMask>> board_hands;  // the 1081 hands of each board
};

const Hands& RandomHands() {
  static const Hands hands = [] {
    Hands h;
    std::mt19937_64 rng(20240607);
    std::array<uint8_t, 52> deck;
    for (int i = 0; i < 52; ++i) deck[i] = static_cast<uint8_t>(i);
    auto deal = [&](int n) {
      for (int i = 0; i < n; ++i) {
        std::uniform_int_distribution<int> pick(i, 51);
        std::swap(deck[i], deck[pick(rng)]);
      }
    };
    for (size_t k = 0; k < kHandCount; ++k) {
      deal(7);
      HandBits bits = 0;
      for (int i = 0; i < 7; ++i) {
        bits |= kCardHandBits[deck[i]];
        h.cards.push_back(deck[i]);
      }
      h.bits.push_back(bits);
    }
    for (size_t k = 0; k < kBoardCount; ++k) {
      deal(5);
      CardMask board = 0;
      for (int i = 0; i < 5; ++i) board |= CardBit(deck[i]);
      std::vector<CardMask> list;
      for (int hi = 1; hi < 52; ++hi)
        for (int lo = 0; lo < hi; ++lo) {
          const CardMask hand = CardBit(hi) | CardBit(lo);
          if ((hand & board) == 0) list.push_back(hand);
        }
      h.boards.push_back(board);
      h.board_hands.push_back(std::move(list));
    }
    return h;
  }();
  return hands;
}

void BM_EvaluateHand7_Baseline(benchmark::State& state) {
  const Hands& hands = RandomHands();
  for (auto _ : state) {
    uint32_t sum = 0;
    for (HandBits bits : hands.bits) sum += EvaluateHand7(bits);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kHandCount);
}

void BM_EvaluateCardArray(benchmark::State& state, const HandEvaluatorKernels& kernels) {
  const Hands& hands = RandomHands();
  const auto Evaluate = kernels.EvaluateCardArray;
  for (auto _ : state) {
    uint32_t sum = 0;
    const uint8_t* cards = hands.cards.data();
    for (size_t k = 0; k < kHandCount; ++k) sum += Evaluate(cards + 7 * k, 7);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kHandCount);
}

void BM_EvaluateRiverBoards(benchmark::State& state, const HandEvaluatorKernels& kernels) {
  const Hands& hands = RandomHands();
  const auto Evaluate = kernels.EvaluateHandsOnBoard;
  std::vector<uint32_t> values(1081);
  int64_t evaluated = 0;
  for (auto _ : state) {
    for (size_t b = 0; b < kBoardCount; ++b) {
      const std::vector<CardMask>& list = hands.board_hands[b];
      Evaluate(hands.boards[b], list.data(), list.size(), values.data());
      benchmark::DoNotOptimize(values.data());
      evaluated += static_cast<int64_t>(list.size());
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(evaluated);
}

void SkipWithoutAvx2(benchmark::State& state) {
  if (!CpuHasAvx2Fma()) state.SkipWithError("no AVX2/FMA on this processor");
}

void BM_EvaluateCardArray_Avx2(benchmark::State& state) {
  SkipWithoutAvx2(state);
  if (CpuHasAvx2Fma()) BM_EvaluateCardArray(state, isa_avx2::kHandEvaluatorKernels);
}
void BM_EvaluateCardArray_Avx(benchmark::State& state) {
  BM_EvaluateCardArray(state, isa_avx::kHandEvaluatorKernels);
}
void BM_EvaluateRiverBoards_Avx2(benchmark::State& state) {
  SkipWithoutAvx2(state);
  if (CpuHasAvx2Fma()) BM_EvaluateRiverBoards(state, isa_avx2::kHandEvaluatorKernels);
}
void BM_EvaluateRiverBoards_Avx(benchmark::State& state) {
  BM_EvaluateRiverBoards(state, isa_avx::kHandEvaluatorKernels);
}

BENCHMARK(BM_EvaluateHand7_Baseline);
BENCHMARK(BM_EvaluateCardArray_Avx2);
BENCHMARK(BM_EvaluateCardArray_Avx);
BENCHMARK(BM_EvaluateRiverBoards_Avx2);
BENCHMARK(BM_EvaluateRiverBoards_Avx);

}  // namespace

int main(int argc, char** argv) {
  InitCpuFeatures();
  if (!CpuHasAvx() || !InitHandEvaluator()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
