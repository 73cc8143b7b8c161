// The card-level ordering pieces: the evaluation of a hand list on a board and
// the hand cards of a list.
#include "cards/showdown_prep.h"

#include <gtest/gtest.h>

#include <vector>

#include "cards/hand_evaluator.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }

// The evaluator on the board's cards in card-number order, then the hand's.
uint32_t Reference(CardMask board, CardMask hand) {
  uint8_t cards[7];
  int n = 0;
  for (int c = 0; c < 52; ++c)
    if (board & CardBit(c)) cards[n++] = static_cast<uint8_t>(c);
  cards[n++] = static_cast<uint8_t>(__builtin_ctzll(hand));
  cards[n++] = static_cast<uint8_t>(63 - __builtin_clzll(hand));
  return Kernels<HandEvaluatorKernels>().EvaluateCardArray(cards, n);
}

TEST(ShowdownPrep, EvaluatingMarksEmptyAndBlockedHands) {
  std::vector<uint32_t> values(3, 7);
  Kernels<ShowdownPrepKernels>().EvaluateCombosOnBoard(values, {0, Cards("AsKd"), Cards("AhQh")},
                                                       Cards("AhKhQhJhTh"));
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(static_cast<int32_t>(values[0]), -1);
  EXPECT_EQ(values[1], Reference(Cards("AhKhQhJhTh"), Cards("AsKd")));
  EXPECT_EQ(static_cast<int32_t>(values[2]), -1);
  Kernels<ShowdownPrepKernels>().EvaluateCombosOnBoard(values, {}, Cards("AhKhQh"));
  EXPECT_TRUE(values.empty());
}

TEST(ShowdownPrep, HandCardsAreCardNumbersOnlyForTwoCardHands) {
  std::vector<uint16_t> hand_cards;
  EXPECT_TRUE(FillHandCards({Cards("2cAs"), Cards("KdKh")}, hand_cards));
  EXPECT_EQ(hand_cards, (std::vector<uint16_t>{0 | 51 << 8, 24 | 37 << 8}));
  // An empty hand gets bytes no kernel takes for a card.
  EXPECT_FALSE(FillHandCards({Cards("2cAs"), 0}, hand_cards));
  EXPECT_EQ(hand_cards[1], 0xFFFF);
  EXPECT_FALSE(FillHandCards({Cards("2c3c4c")}, hand_cards));
}

}  // namespace
