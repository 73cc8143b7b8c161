// The evaluator against a reference written from the rules of poker: every
// five-card hand, every three- and four-card hand, and large samples of six- and
// seven-card hands, in the baseline code and in both instruction-set builds.
#include "cards/hand_evaluator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "cards/poker_reference.h"
#include "platform/cpu_features.h"

using namespace poker_reference;

namespace {

// Six- and seven-card hands per random sample; fewer under the sanitizer.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSampleHands = 50000;
#else
constexpr int kSampleHands = 300000;
#endif

HandBits BitsOf(const int* cards, int n) {
  HandBits bits = 0;
  for (int i = 0; i < n; ++i) bits |= HandBits{1} << (Rank(cards[i]) + 16 * Suit(cards[i]));
  return bits;
}

HandValue Baseline(const int* cards, int n) {
  const HandBits bits = BitsOf(cards, n);
  switch (n) {
    case 7: return EvaluateHand7(bits);
    case 6: return EvaluateHand6(bits);
    case 5: return EvaluateHand5(bits);
    case 4: return EvaluateHand4(bits);
    case 3: return EvaluateHand3(bits);
  }
  return 0;
}

// Checks one hand in every build against the reference value; counts failures
// so that a broken evaluator reports a few hands, not millions.
struct HandChecker {
  bool avx2 = CpuHasAvx2Fma();
  bool avx512 = CpuHasAvx512();
  int failures = 0;

  HandValue Check(const int* cards, int n, const RefKey& key) {
    uint8_t bytes[7];
    for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(cards[i]);
    const HandValue value = Baseline(cards, n);
    const HandValue avx = isa_avx::kHandEvaluatorKernels.EvaluateCardArray(bytes, n);
    const HandValue avx2_value =
        avx2 ? isa_avx2::kHandEvaluatorKernels.EvaluateCardArray(bytes, n) : value;
    const HandValue avx512_value =
        avx512 ? isa_avx512::kHandEvaluatorKernels.EvaluateCardArray(bytes, n) : value;
    const uint32_t expected = EncodeRefKey(key);
    if ((value != expected || avx != value || avx2_value != value || avx512_value != value) &&
        ++failures <= 10) {
      ADD_FAILURE() << "hand " << ::testing::PrintToString(std::vector<int>(cards, cards + n))
                    << std::hex << " baseline 0x" << value << " avx 0x" << avx << " avx2 0x"
                    << avx2_value << " avx512 0x" << avx512_value << " reference 0x" << expected;
    }
    return value;
  }
};

// Sorted by reference key, neighbours must compare alike: equal keys equal
// values, a larger key a larger value.
void ExpectOrderMatches(std::vector<std::pair<RefKey, HandValue>>& hands) {
  std::sort(hands.begin(), hands.end());
  int failures = 0;
  for (size_t i = 1; i < hands.size() && failures < 10; ++i) {
    const auto& lower = hands[i - 1];
    const auto& upper = hands[i];
    const bool tie = lower.first == upper.first;
    if (tie ? lower.second != upper.second : lower.second >= upper.second) {
      ++failures;
      ADD_FAILURE() << std::hex << "values 0x" << lower.second << " and 0x" << upper.second
                    << (tie ? " for tied hands" : " out of order");
    }
  }
}

std::vector<int> RandomHand(std::mt19937_64& rng, int n) {
  std::array<int, 52> deck;
  for (int i = 0; i < 52; ++i) deck[i] = i;
  for (int i = 0; i < n; ++i) {
    std::uniform_int_distribution<int> pick(i, 51);
    std::swap(deck[i], deck[pick(rng)]);
  }
  return std::vector<int>(deck.begin(), deck.begin() + n);
}

void CheckRandomHands(int n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  HandChecker checker;
  std::vector<std::pair<RefKey, HandValue>> hands;
  hands.reserve(kSampleHands);
  for (int i = 0; i < kSampleHands; ++i) {
    const std::vector<int> cards = RandomHand(rng, n);
    const RefKey key = RefBest(cards.data(), n);
    hands.push_back({key, checker.Check(cards.data(), n, key)});
  }
  ExpectOrderMatches(hands);
}

// Every multiset of n ranks (at most four of a rank), each dealt in three suit
// patterns: suits in order per rank (which piles cards into clubs and makes
// flushes), the reverse, and random. This reaches the rare patterns (four and
// three of a kind, two trips, three pairs) that random deals almost never give.
void CheckEveryRankPattern(int n) {
  std::mt19937_64 rng(1234 + n);
  HandChecker checker;
  int counts[13] = {};
  int checked = 0;
  auto deal = [&](int pattern) {
    int cards[7];
    int k = 0;
    for (int r = 0; r < 13; ++r) {
      std::array<int, 4> suits = {0, 1, 2, 3};
      if (pattern == 1) suits = {3, 2, 1, 0};
      if (pattern == 2) std::shuffle(suits.begin(), suits.end(), rng);
      for (int j = 0; j < counts[r]; ++j) cards[k++] = 13 * suits[j] + r;
    }
    checker.Check(cards, n, RefBest(cards, n));
  };
  // Walk the multisets as rank counts with a running total.
  auto walk = [&](auto&& self, int rank, int left) -> void {
    if (rank == 13) {
      if (left == 0) {
        for (int pattern = 0; pattern < 3; ++pattern) deal(pattern);
        ++checked;
      }
      return;
    }
    for (int c = 0; c <= std::min(4, left); ++c) {
      counts[rank] = c;
      self(self, rank + 1, left - c);
    }
    counts[rank] = 0;
  };
  walk(walk, 0, n);
  EXPECT_GT(checked, 1000);
}

int CardOf(const char* text) {
  const char* ranks = "23456789TJQKA";
  const char* suits = "cdhs";
  int rank = 0, suit = 0;
  while (ranks[rank] != text[0]) ++rank;
  while (suits[suit] != text[1]) ++suit;
  return 13 * suit + rank;
}

HandValue ValueOf(std::initializer_list<const char*> names) {
  std::vector<uint8_t> cards;
  for (const char* name : names) cards.push_back(static_cast<uint8_t>(CardOf(name)));
  return Kernels<HandEvaluatorKernels>().EvaluateCardArray(cards.data(),
                                                           static_cast<int>(cards.size()));
}

}  // namespace

TEST(HandEvaluatorTables, HoldTheRankFacts) {
  ASSERT_TRUE(g_eval_ready);
  EXPECT_TRUE(InitHandEvaluator());  // a second call is harmless
  EXPECT_EQ(g_eval_rank_count[0], 0u);
  EXPECT_EQ(g_eval_top_five[0], 0u);
  EXPECT_EQ(g_eval_straight[0], 0u);
  EXPECT_EQ(g_eval_rank_count[8128], 7u);
  EXPECT_EQ(g_eval_top_rank[8128], 12u);
  EXPECT_EQ(g_eval_top_five[8128], 0xCBA98u);
  EXPECT_EQ(g_eval_top_five[0x1001], 0xC0u);
  EXPECT_EQ(g_eval_top_rank[1], 0u);
  EXPECT_EQ(g_eval_straight[0x100F], 0x4030000u);  // A-2-3-4-5
  EXPECT_EQ(g_eval_straight[0x101F], 0x4040000u);  // A-2-3-4-5-6 plays six-high
  EXPECT_EQ(g_eval_straight[0x1F00], 0x40C0000u);
  EXPECT_EQ(g_eval_straight[0x1FC0], 0x40C0000u);
  EXPECT_EQ(g_eval_straight[0x100E], 0u);
  EXPECT_EQ(g_eval_straight[0x1E07], 0u);  // A-K-Q-J with 2-3-4: no wrap-around
}

TEST(HandEvaluator, EdgeCasesOfThePokerRules) {
  EXPECT_EQ(ValueOf({"Ac", "2d", "3h", "4s", "5c"}), 0x4030000u);
  EXPECT_EQ(ValueOf({"Ac", "2d", "3h", "4s", "5c", "6d"}), 0x4040000u);
  // Six-card flush: its five highest cards.
  EXPECT_EQ(ValueOf({"Ah", "Jh", "9h", "7h", "4h", "2h", "Ks"}), 0x50C9752u);
  // Straight flush inside a six-card flush: the highest window of the suit.
  EXPECT_EQ(ValueOf({"4h", "5h", "6h", "7h", "8h", "9h", "Tc"}), 0x8070000u);
  EXPECT_EQ(ValueOf({"Ah", "2h", "3h", "4h", "5h", "Kh", "6c"}), 0x8030000u);
  // Three pairs: the two highest, the better of the third pair and the single.
  EXPECT_EQ(ValueOf({"Kc", "Kd", "9c", "9h", "4s", "4d", "Qc"}), 0x20B7A00u);
  EXPECT_EQ(ValueOf({"Kc", "Kd", "9c", "9h", "4s", "4d", "2c"}), 0x20B7200u);
  EXPECT_EQ(ValueOf({"Kc", "Kd", "9c", "9h", "4s", "4d"}), 0x20B7200u);
  // Two trips: the higher over the lower.
  EXPECT_EQ(ValueOf({"5c", "5d", "5h", "Jc", "Jd", "Js", "Ac"}), 0x6093000u);
  EXPECT_EQ(ValueOf({"5c", "5d", "5h", "Jc", "Jd", "Js"}), 0x6093000u);
  EXPECT_EQ(ValueOf({"Ts", "Js", "Qs", "Ks", "As"}), 0x80C0000u);
  // Four and three of a kind; four of a kind and a pair.
  EXPECT_EQ(ValueOf({"7c", "7d", "7h", "7s", "2c", "2d", "2h"}), 0x7050000u);
  EXPECT_EQ(ValueOf({"2c", "2d", "2h", "2s", "7c", "7d", "3h"}), 0x7005000u);
  // Straight beats trips held with it; a flush beats a straight in the same hand.
  EXPECT_EQ(ValueOf({"5c", "6d", "7h", "8s", "9c", "9d", "9h"}), 0x4070000u);
  EXPECT_EQ(ValueOf({"5c", "6c", "7h", "8s", "9c", "2c", "Kc"}), 0x50B7430u);
  // Three and four cards, left-aligned.
  EXPECT_EQ(ValueOf({"Qc", "Qd", "Qh"}), 0x30A0000u);
  EXPECT_EQ(ValueOf({"Qc", "Qd", "3h"}), 0x10A1000u);
  EXPECT_EQ(ValueOf({"Qc", "2d", "7h"}), 0x00A5000u);
  EXPECT_EQ(ValueOf({"Qc", "Qd", "Qh", "Qs"}), 0x70A0000u);
  EXPECT_EQ(ValueOf({"Qc", "Qd", "3h", "3s"}), 0x20A1000u);
  EXPECT_EQ(ValueOf({"Ac", "Kd", "Qh", "Js"}), 0x00CBA90u);
}

TEST(HandEvaluator, CardCountsOutsideThreeToSevenGiveZero) {
  const uint8_t cards[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int count : {-1, 0, 1, 2, 8}) {
    EXPECT_EQ(Kernels<HandEvaluatorKernels>().EvaluateCardArray(cards, count), 0u) << count;
    EXPECT_EQ(isa_avx::kHandEvaluatorKernels.EvaluateCardArray(cards, count), 0u) << count;
    if (CpuHasAvx2Fma()) {
      EXPECT_EQ(isa_avx2::kHandEvaluatorKernels.EvaluateCardArray(cards, count), 0u) << count;
    }
    if (CpuHasAvx512()) {
      EXPECT_EQ(isa_avx512::kHandEvaluatorKernels.EvaluateCardArray(cards, count), 0u) << count;
    }
  }
  const uint8_t bad[3] = {0, 1, 52};
  EXPECT_EQ(Kernels<HandEvaluatorKernels>().EvaluateCardArray(bad, 3), 0u);
}

TEST(HandEvaluator, ImpossibleRankCountsGiveZero) {
  // Four cards of one rank stand in for hands of more cards: one distinct rank.
  const HandBits quads = 0x0001000100010001ull;
  EXPECT_EQ(EvaluateHand7(quads), 0u);
  EXPECT_EQ(EvaluateHand6(quads), 0u);
  EXPECT_EQ(EvaluateHand5(quads), 0u);
  EXPECT_EQ(EvaluateHand3(0), 0u);
  EXPECT_EQ(EvaluateHand4(0), 0u);
  // More ranks than cards: six clubs 2 4 6 8 T Q for five cards, nine clubs
  // 6 to A (past any table) for seven.
  const HandBits six_ranks = 0x0AAAull;
  const HandBits nine_ranks = 0x1FF0ull;
  EXPECT_EQ(EvaluateHand5(six_ranks), 0u);
  EXPECT_EQ(EvaluateHand6(nine_ranks), 0u);
  EXPECT_EQ(EvaluateHand7(nine_ranks), 0u);
}

TEST(HandEvaluator, EveryThreeAndFourCardHandMatchesTheReference) {
  HandChecker checker;
  int cards[4];
  for (cards[0] = 0; cards[0] < 52; ++cards[0])
    for (cards[1] = cards[0] + 1; cards[1] < 52; ++cards[1])
      for (cards[2] = cards[1] + 1; cards[2] < 52; ++cards[2]) {
        checker.Check(cards, 3, RefBest(cards, 3));
        for (cards[3] = cards[2] + 1; cards[3] < 52; ++cards[3])
          checker.Check(cards, 4, RefBest(cards, 4));
      }
  EXPECT_EQ(checker.failures, 0);
}

TEST(HandEvaluator, EveryFiveCardHandMatchesTheReferenceOrder) {
  HandChecker checker;
  std::vector<std::pair<RefKey, HandValue>> hands;
  hands.reserve(2598960);
  int cards[5];
  int index = 0;
  for (cards[0] = 0; cards[0] < 52; ++cards[0])
    for (cards[1] = cards[0] + 1; cards[1] < 52; ++cards[1])
      for (cards[2] = cards[1] + 1; cards[2] < 52; ++cards[2])
        for (cards[3] = cards[2] + 1; cards[3] < 52; ++cards[3])
          for (cards[4] = cards[3] + 1; cards[4] < 52; ++cards[4]) {
            ++index;
            const RefKey key = RefFive(cards);
            hands.push_back({key, checker.Check(cards, 5, key)});
          }
  EXPECT_EQ(index, 2598960);
  EXPECT_EQ(checker.failures, 0);
  ExpectOrderMatches(hands);
  // 7462 distinct five-card hand strengths.
  std::vector<HandValue> values;
  for (const auto& hand : hands) values.push_back(hand.second);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(std::unique(values.begin(), values.end()) - values.begin(), 7462);
}

TEST(HandEvaluator, RandomSixCardHandsMatchTheReference) { CheckRandomHands(6, 6061); }

TEST(HandEvaluator, RandomSevenCardHandsMatchTheReference) { CheckRandomHands(7, 7071); }

TEST(HandEvaluator, EverySixAndSevenCardRankPatternMatchesTheReference) {
  CheckEveryRankPattern(6);
  CheckEveryRankPattern(7);
}

TEST(HandEvaluator, HandsOnBoardMatchSingleEvaluations) {
  std::mt19937_64 rng(99);
  for (int board_count = 1; board_count <= 5; ++board_count) {
    const std::vector<int> deal = RandomHand(rng, board_count);
    CardMask board = 0;
    for (int card : deal) board |= CardBit(card);
    std::vector<CardMask> hands;
    for (int hi = 1; hi < 52; ++hi)
      for (int lo = 0; lo < hi; ++lo) hands.push_back(CardBit(hi) | CardBit(lo));
    hands.push_back(0);
    hands.push_back(CardBit(40) | CardBit(41) | CardBit(42));  // three cards: no hand
    hands.push_back(CardBit(43));
    std::vector<uint32_t> values(hands.size()), avx(hands.size()), avx2(hands.size()),
        avx512(hands.size());
    Kernels<HandEvaluatorKernels>().EvaluateHandsOnBoard(board, hands.data(), hands.size(),
                                                         values.data());
    isa_avx::kHandEvaluatorKernels.EvaluateHandsOnBoard(board, hands.data(), hands.size(),
                                                        avx.data());
    if (CpuHasAvx2Fma())
      isa_avx2::kHandEvaluatorKernels.EvaluateHandsOnBoard(board, hands.data(), hands.size(),
                                                           avx2.data());
    if (CpuHasAvx512())
      isa_avx512::kHandEvaluatorKernels.EvaluateHandsOnBoard(board, hands.data(), hands.size(),
                                                             avx512.data());
    for (size_t i = 0; i < hands.size(); ++i) {
      uint32_t expected = 0xFFFFFFFFu;  // not two cards, or touching the board
      if (CardCount(hands[i]) == 2 && (hands[i] & board) == 0) {
        std::vector<uint8_t> cards(deal.begin(), deal.end());
        for (CardMask rest = hands[i]; rest; rest &= rest - 1)
          cards.push_back(static_cast<uint8_t>(__builtin_ctzll(rest)));
        expected = Kernels<HandEvaluatorKernels>().EvaluateCardArray(
            cards.data(), static_cast<int>(cards.size()));
      }
      ASSERT_EQ(values[i], expected) << board_count << " " << i;
      ASSERT_EQ(avx[i], expected);
      if (CpuHasAvx2Fma()) {
        ASSERT_EQ(avx2[i], expected);
      }
      if (CpuHasAvx512()) {
        ASSERT_EQ(avx512[i], expected);
      }
    }
  }
}

TEST(HandEvaluator, ClassifierRecordsGetTheirHandValues) {
  // Descending numbers: 0 As, 1 Ah, 4 Ks, 8 Qs, 12 Js, 16 Ts, 51 2c.
  const uint32_t board[5] = {8, 12, 16, 51, 47};  // Qs Js Ts 2c 3c
  ClassifierRecord records[3] = {{1, 0, 4}, {0, 1, 5}, {1, 2, 3}};  // AsKs, inactive, AdAc
  EvaluateClassifierRecords(records, 3, board, 5);
  EXPECT_EQ(records[0].value, 0x80C0000u);  // royal flush
  EXPECT_EQ(records[1].value, 0u);
  EXPECT_EQ(records[2].value, 0x10CA980u);  // aces, Q J T
  EXPECT_EQ(records[0].first_card, 0);
  EXPECT_EQ(records[0].second_card, 4);
}
