// The card-level ordering pieces: the evaluation of a hand list on a board and
// the hand cards of a list.
#include "cards/showdown_prep.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/board_values.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }

TEST(ShowdownPrep, EvaluatingMarksEmptyAndBlockedHands) {
  std::vector<uint32_t> values(3, 7);
  Kernels<ShowdownPrepKernels>().EvaluateCombosOnBoard(values, {0, Cards("AsKd"), Cards("AhQh")},
                                                       Cards("AhKhQhJhTh"));
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(static_cast<int32_t>(values[0]), -1);
  EXPECT_EQ(values[1], BoardHandValue(Cards("AhKhQhJhTh"), Cards("AsKd")));
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
