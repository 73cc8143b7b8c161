// The equity kernel against a brute force written from the rules of poker:
// every runout of the cards to come enumerated, every pair of hands compared
// with the reference hand ranking, card removal by testing the cards.
#include "analysis/equity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cards/poker_reference.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"

namespace {

using reference_game::Spot;

CardMask ComboCards(int combo) {
  // ComboIndex hi * (hi - 1) / 2 + lo.
  int hi = 1;
  while ((hi + 1) * hi / 2 <= combo) ++hi;
  const int lo = combo - hi * (hi - 1) / 2;
  return CardBit(hi) | CardBit(lo);
}

uint32_t RefStrength(CardMask cards) {
  int list[7];
  int n = 0;
  for (CardMask m = cards; m; m &= m - 1) list[n++] = __builtin_ctzll(m);
  return poker_reference::EncodeRefKey(poker_reference::RefBest(list, n));
}

struct Expected {
  std::vector<double> equity, weight;  // printed-scale equity (1 + e) / 2; NaN undefined
};

// For each combination of `own` with positive weight: the opponent weight it
// can meet T, and the mean over runouts of its share won (ties half).
Expected BruteForce(CardMask board, const std::vector<double>& own, const std::vector<double>& opp) {
  std::vector<int> deck;
  for (int c = 0; c < kCardCount; ++c)
    if (!(board & CardBit(c))) deck.push_back(c);
  std::vector<CardMask> runouts;
  const int missing = 5 - CardCount(board);
  if (missing == 0) runouts.push_back(0);
  for (size_t a = 0; a < deck.size() && missing > 0; ++a) {
    if (missing == 1) {
      runouts.push_back(CardBit(deck[a]));
      continue;
    }
    for (size_t b = a + 1; b < deck.size(); ++b) runouts.push_back(CardBit(deck[a]) | CardBit(deck[b]));
  }
  const double k = missing == 2 ? 1980.0 : missing == 1 ? 44.0 : 1.0;

  std::vector<int> own_hands, opp_hands;
  for (int c = 0; c < kComboCount; ++c) {
    if (ComboCards(c) & board) continue;
    if (own[c] > 0) own_hands.push_back(c);
    if (opp[c] > 0) opp_hands.push_back(c);
  }
  // Strengths per runout of every hand involved.
  std::vector<std::vector<uint32_t>> strength(runouts.size(), std::vector<uint32_t>(kComboCount));
  for (size_t r = 0; r < runouts.size(); ++r)
    for (const std::vector<int>* list : {&own_hands, &opp_hands})
      for (int c : *list)
        if (!(ComboCards(c) & runouts[r])) strength[r][c] = RefStrength(board | runouts[r] | ComboCards(c));

  Expected out;
  out.equity.assign(kComboCount, NAN);
  out.weight.assign(kComboCount, NAN);
  for (int h : own_hands) {
    double total = 0, won = 0;
    for (int j : opp_hands) {
      if (ComboCards(h) & ComboCards(j)) continue;
      double score = 0;
      int count = 0;
      for (size_t r = 0; r < runouts.size(); ++r) {
        if (runouts[r] & (ComboCards(h) | ComboCards(j))) continue;
        ++count;
        score += strength[r][h] > strength[r][j] ? 1.0 : strength[r][h] < strength[r][j] ? 0.0 : 0.5;
      }
      total += opp[j];
      won += opp[j] * score / count;
    }
    out.equity[h] = total > 0 ? won / total : 0.5;
    out.weight[h] = k * total * own[h];
  }
  return out;
}

// A deterministic scatter of `count` combinations off the board with weights in
// (0.1, 1].
std::vector<double> ScatteredRange(CardMask board, int count, uint32_t seed) {
  std::vector<double> range(kComboCount, 0.0);
  uint32_t x = seed;
  int placed = 0;
  while (placed < count) {
    x = x * 1664525u + 1013904223u;
    const int c = static_cast<int>((x >> 8) % kComboCount);
    if ((ComboCards(c) & board) || range[c] > 0) continue;
    range[c] = 0.1 + 0.9 * static_cast<double>((x >> 4) % 1000) / 999.0;
    ++placed;
  }
  return range;
}

class EquityTest : public TreeBuildTest {
 protected:
  // Builds a check-down tree on the board and compares both players' equities
  // (each against the other's range) with the brute force.
  void CheckAgainstBruteForce(const std::string& board_text, const std::vector<double>& oop,
                              const std::vector<double>& ip, bool isomorphism_off = true) {
    Spot spot;
    spot.board = reference_game::BoardFromText(board_text);
    spot.ranges[0] = oop;
    spot.ranges[1] = ip;
    spot.pot = 100;
    const int cards = CardCount(spot.board);
    spot.lines = {std::vector<double>(2 * (6 - cards), 0.0)};
    ASSERT_NO_FATAL_FAILURE(BuildSpot(spot, isomorphism_off));

    const int turn = cards >= 4 ? LowestCard(g_board_turn) : -1;
    const int river = cards >= 5 ? LowestCard(g_board_river) : -1;
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      const std::vector<double>& own = p == PLAYER_OOP ? oop : ip;
      const std::vector<double>& opp = p == PLAYER_OOP ? ip : oop;
      std::vector<double> equity(kComboCount, 0.0), weight(kComboCount, 0.0);
      ComputeEquities(&State(), p, turn, river, own.data(), opp.data(), equity.data(),
                      weight.data());
      const Expected expected = BruteForce(spot.board, own, opp);
      for (int c = 0; c < kComboCount; ++c) {
        if (std::isnan(expected.equity[c])) {
          EXPECT_TRUE(std::isnan(equity[c]) && std::isnan(weight[c])) << "combo " << c;
          continue;
        }
        EXPECT_NEAR(0.5 * (1.0 + equity[c]), expected.equity[c], 1e-12) << "player " << p << " combo " << c;
        EXPECT_NEAR(weight[c], expected.weight[c], 1e-9 * (1.0 + expected.weight[c])) << "combo " << c;
      }
    }
  }
};

TEST_F(EquityTest, RiverTurnAndFlopBoardsMatchEveryRunoutEnumerated) {
  for (const char* board : {"2c7d8hJs3s", "Kh9h4cTd", "2c7d8h"}) {
    SCOPED_TRACE(board);
    const CardMask mask = reference_game::BoardFromText(board);
    const int count = CardCount(mask) == 3 ? 28 : 80;
    ResetSituation();
    CheckAgainstBruteForce(board, ScatteredRange(mask, count, 7), ScatteredRange(mask, count, 11));
  }
}

TEST_F(EquityTest, IsomorphicFlopTreeGivesTheSameEquitiesForSymmetricRanges) {
  // Ranges that look alike under any renaming of suits, so one representative
  // turn card per suit group stands for its group exactly.
  const std::vector<double> oop = reference_game::ClassRange({"AA", "KQs", "76s", "T9o:0.5"});
  const std::vector<double> ip = reference_game::ClassRange({"QQ", "A5s", "88:0.25", "KJo"});
  CheckAgainstBruteForce("Qh8h5s", oop, ip, false);
  EXPECT_TRUE(State().flags & ISOMORPHISM_ON);
  EXPECT_LT(State().deal_tree->turn_records.size(), 49u);
}

TEST_F(EquityTest, TiesBeatsAndLossesOnARiverAndTheNoOpponentCase) {
  // Board plays for everyone but AcKc (flush over the straight on board).
  const std::string board = "Ts9h8d7s6c";
  std::vector<double> oop = reference_game::RangeFromText("2d2h AcKc 3c3d");
  std::vector<double> ip = reference_game::RangeFromText("4d4h 5d5h AdKd");
  Spot spot = reference_game::MakeSpot(board, "2d2h AcKc 3c3d", "4d4h 5d5h AdKd", 100, {{0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpot(spot));
  std::vector<double> equity(kComboCount), weight(kComboCount);
  ComputeEquities(&State(), PLAYER_OOP, LowestCard(g_board_turn), LowestCard(g_board_river),
                  oop.data(), ip.data(), equity.data(), weight.data());
  using reference_game::ComboFromText;
  // Straight on board: every hand without a better one ties.
  EXPECT_DOUBLE_EQ(equity[ComboFromText("2d2h")], 0.0);
  EXPECT_DOUBLE_EQ(weight[ComboFromText("2d2h")], 3.0);
  EXPECT_DOUBLE_EQ(equity[ComboFromText("AcKc")], 0.0);  // no flush: three clubs short
  // A combination in the opponent's range only: NaN for this player.
  EXPECT_TRUE(std::isnan(equity[ComboFromText("4d4h")]));
  EXPECT_TRUE(std::isnan(weight[ComboFromText("4d4h")]));
  // A board card: NaN.
  EXPECT_TRUE(std::isnan(equity[ComboFromText("Ts2d")]));

  // No opponent weight at all: equity 0 on the kernel scale, weight 0.
  std::vector<double> nobody(kComboCount, 0.0);
  ComputeEquities(&State(), PLAYER_OOP, LowestCard(g_board_turn), LowestCard(g_board_river),
                  oop.data(), nobody.data(), equity.data(), weight.data());
  EXPECT_DOUBLE_EQ(equity[ComboFromText("3c3d")], 0.0);
  EXPECT_DOUBLE_EQ(weight[ComboFromText("3c3d")], 0.0);
}

TEST_F(EquityTest, SortOrderIsDescendingEquityWithHandOrderTiesAndNoUndefinedEntries) {
  Spot spot = reference_game::MakeSpot("Ts9h8d7s6c", "2d2h AcKc 3c3d JcQc", "4d4h 5d5h AdKd", 100,
                                       {{0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpot(spot));
  const std::vector<uint32_t> order = SortCombosByEquity("r");
  // OOP's hands with weight: JcQc (the nut straight) first, then the three tying
  // hands in HandOrder.
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(HandOrderName(static_cast<HandOrder>(order[0])), "QcJc");
  for (size_t i = 2; i < order.size(); ++i) EXPECT_LT(order[i - 1], order[i]);
  EXPECT_EQ(order, SortCombosByEquity("r:0"));
}

}  // namespace
