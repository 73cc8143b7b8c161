#include "cards/suit_isomorphism.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cards/combo_tables.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }

SuitMap Map(const char* flop, const char* turn = "", const char* river = "") {
  return MakeCanonicalSuitMap(Cards(flop), Cards(turn), Cards(river));
}

TEST(SuitIsomorphism, CanonicalMapsOfTheReferenceBoards) {
  // c d h s = real suits 0..3.
  EXPECT_EQ(Map("Kh9h4s"), (SuitMap{2, 3, 0, 1}));
  EXPECT_EQ(Map("7d7h7s"), (SuitMap{3, 0, 1, 2}));
  EXPECT_EQ(Map("2c8cTc", "Ad"), (SuitMap{0, 1, 2, 3}));
  SuitMap map = Map("As9d5d");
  EXPECT_EQ(map[1], 0);
  EXPECT_EQ(map[3], 1);
  EXPECT_EQ(map, (SuitMap{2, 0, 3, 1}));
  // The turn's new suit is numbered before the river's.
  EXPECT_EQ(Map("2c8cTc", "Ah", "Kd"), (SuitMap{0, 2, 1, 3}));
  // A river in a suit the turn already took gets no number of its own.
  EXPECT_EQ(Map("2c8cTc", "Ah", "Kh"), (SuitMap{0, 2, 1, 3}));
}

TEST(SuitIsomorphism, CanonicalizeBoardSuitsRewritesTheBoard) {
  SuitMap map;
  CardMask flop = Cards("Kh9h4s"), turn = 0, river = 0;
  CanonicalizeBoardSuits(map, flop, turn, river);
  EXPECT_EQ(flop, Cards("Kc9c4d"));
  EXPECT_EQ(turn, 0u);
  EXPECT_EQ(river, 0u);

  flop = Cards("As9d5d");
  turn = Cards("2h");
  river = Cards("3c");
  CanonicalizeBoardSuits(map, flop, turn, river);
  EXPECT_EQ(flop, Cards("Ad9c5c"));
  EXPECT_EQ(turn, Cards("2h"));
  EXPECT_EQ(river, Cards("3s"));
  // The canonical board always occupies the lowest suits.
  for (const char* board : {"2c3d4h", "AsKsQs", "Td9d2h", "7h7s7c"}) {
    CardMask f = Cards(board), t = 0, r = 0;
    CanonicalizeBoardSuits(map, f, t, r);
    int suits = 0;
    for (int s = 0; s < 4; ++s) suits += ((f >> (13 * s)) & 0x1FFF) != 0;
    EXPECT_EQ(f >> (13 * suits), 0u) << board;
  }
}

// Every combination's image under the board's map, from the card masks.
std::vector<int> Images(CardMask flop, CardMask turn, CardMask river) {
  const SuitMap map = MakeCanonicalSuitMap(flop, turn, river);
  std::vector<int> images(kComboCount);
  for (int a = 0; a < 52; ++a)
    for (int b = 0; b < a; ++b) {
      const CardMask image = ApplySuitMap(map, CardBit(a) | CardBit(b));
      images[ComboIndexOfCards(a, b)] =
          ComboIndexOfCards(__builtin_ctzll(image), 63 - __builtin_clzll(image));
    }
  return images;
}

TEST(SuitIsomorphism, ComboPermutationRoundTripsAndMovesEveryWeight) {
  const char* boards[][3] = {{"AhKhQh", "", ""},     {"AhKh2c", "", ""},
                             {"Ts7d2c", "", ""},     {"2c8cTc", "Ad", ""},
                             {"Kh9h4s", "2d", "3c"}, {"7d7h7s", "7c", "Ah"},
                             {"As9d5d", "Js", "Qd"}};
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> weight(0.0, 1.0);
  for (const auto& board : boards) {
    const CardMask flop = Cards(board[0]), turn = Cards(board[1]), river = Cards(board[2]);
    std::vector<double> real(kComboCount), canonical(kComboCount, -1.0), back(kComboCount, -1.0);
    for (double& w : real) w = weight(rng);
    PermuteComboArrayBySuits(flop, turn, river, canonical.data(), real.data(), false);
    PermuteComboArrayBySuits(flop, turn, river, back.data(), canonical.data(), true);
    EXPECT_EQ(back, real) << board[0] << board[1] << board[2];
    const std::vector<int> images = Images(flop, turn, river);
    for (int k = 0; k < kComboCount; ++k) ASSERT_EQ(canonical[images[k]], real[k]);
  }
}

TEST(SuitIsomorphism, NextCardGroupsStandForEveryCard) {
  // Monotone canonical flop: ten single cards of suit 0, thirteen of suit 1 x 3.
  std::vector<NextCardGroup> groups = MakeNextCardGroups(Cards("2c7cKc"), true);
  ASSERT_EQ(groups.size(), 23u);
  int total = 0;
  for (size_t i = 0; i < groups.size(); ++i) {
    total += groups[i].weight;
    EXPECT_EQ(groups[i].zero, 0u);
    EXPECT_EQ(groups[i].weight, i < 10 ? 1u : 3u);
    EXPECT_EQ(CardSuit(groups[i].card), i < 10 ? 0 : 1);
  }
  EXPECT_EQ(total, 49);
  // Rainbow: 36 singles of suits 0..2, then 13 cards of suit 3, weight 1.
  groups = MakeNextCardGroups(Cards("2c7dKh"), true);
  EXPECT_EQ(groups.size(), 49u);
  // Without isomorphism: every card off the board, in card-number order.
  for (const char* board : {"2c7cKc", "2c7cKc5d"}) {
    groups = MakeNextCardGroups(Cards(board), false);
    ASSERT_EQ(groups.size(), 52u - CardCount(Cards(board)));
    for (size_t i = 0; i < groups.size(); ++i) {
      EXPECT_EQ(groups[i].weight, 1u);
      EXPECT_FALSE(Cards(board) & CardBit(groups[i].card));
      if (i > 0) {
        EXPECT_LT(groups[i - 1].card, groups[i].card);
      }
    }
  }
}

}  // namespace
