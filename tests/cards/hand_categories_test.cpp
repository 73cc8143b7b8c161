// Hand categories: worked boards, the command replies, both builds, and draw
// outs counted by brute force with the reference ranking.
#include "cards/hand_categories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cards/poker_reference.h"
#include "platform/cpu_features.h"
#include "support/engine_harness.h"

namespace {

// Card number 13 * suit + rank from its text ("Ah").
int CardOf(const std::string& text) {
  const std::string ranks = "23456789TJQKA", suits = "cdhs";
  return 13 * static_cast<int>(suits.find(text[1])) + static_cast<int>(ranks.find(text[0]));
}

// HandOrder position of a combination, from the numbering 4 * rank + suit.
int PositionOf(const std::string& name) {
  const int a = CardOf(name.substr(0, 2)), b = CardOf(name.substr(2, 2));
  int x = 4 * (a % 13) + a / 13, y = 4 * (b % 13) + b / 13;
  if (x < y) std::swap(x, y);
  return x * (x - 1) / 2 + y;
}

ClassifierBoard BoardOf(const std::vector<std::string>& cards) {
  ClassifierBoard board{};
  board.count = static_cast<int>(cards.size());
  for (size_t i = 0; i < cards.size(); ++i) board.cards[i] = DescendingCardNumber(CardOf(cards[i]));
  return board;
}

std::vector<int32_t> Made(const std::vector<std::string>& cards) {
  std::vector<int32_t> out(kComboCount, 12345);
  Kernels<HandCategoriesKernels>().ClassifyMadeHands(out.data(), BoardOf(cards));
  return out;
}

std::vector<int32_t> Draws(const std::vector<std::string>& cards) {
  std::vector<int32_t> out(kComboCount, 0);
  Kernels<HandCategoriesKernels>().ClassifyDraws(out.data(), BoardOf(cards));
  return out;
}

// The numbers of one reply line.
std::vector<int> NumbersOf(const std::string& line) {
  std::istringstream words(line);
  std::vector<int> numbers;
  for (int n; words >> n;) numbers.push_back(n);
  return numbers;
}

struct CategoryReply {
  std::vector<int> made, draws;
  std::string end;
};

CategoryReply ShowCategories(const std::string& board) {
  std::istringstream reply(RunLine("show_categories " + board));
  CategoryReply result;
  std::string made, draws;
  std::getline(reply, made);
  std::getline(reply, draws);
  std::getline(reply, result.end);
  result.made = NumbersOf(made);
  result.draws = NumbersOf(draws);
  return result;
}

struct Expected {
  const char* combo;
  int32_t value;
};

void ExpectMade(const std::vector<std::string>& board, std::initializer_list<Expected> cases) {
  const std::vector<int32_t> out = Made(board);
  for (const Expected& e : cases) EXPECT_EQ(out[PositionOf(e.combo)], e.value) << e.combo;
}

void ExpectDraws(const std::vector<std::string>& board, std::initializer_list<Expected> cases) {
  const std::vector<int32_t> out = Draws(board);
  for (const Expected& e : cases) EXPECT_EQ(out[PositionOf(e.combo)], e.value) << e.combo;
}

// The first `count` cards of a shuffled deck.
ClassifierBoard RandomBoard(std::mt19937_64& rng, int count) {
  std::vector<int> deck(52);
  for (int i = 0; i < 52; ++i) deck[i] = i;
  std::shuffle(deck.begin(), deck.end(), rng);
  ClassifierBoard board{};
  board.count = count;
  for (int i = 0; i < board.count; ++i) board.cards[i] = static_cast<uint32_t>(deck[i]);
  return board;
}

}  // namespace

TEST(HandCategories, ComboCardTablesFollowHandOrder) {
  EXPECT_EQ(PositionOf("2d2c"), 0);
  EXPECT_EQ(PositionOf("AsAh"), 1325);
  // 2d2c: 2d is 51 - 1, 2c is 51 - 0; AsAh: As is 0, Ah is 1.
  EXPECT_EQ(g_combo_first_card[0], 50u);
  EXPECT_EQ(g_combo_second_card[0], 51u);
  EXPECT_EQ(g_combo_first_card[1325], 0u);
  EXPECT_EQ(g_combo_second_card[1325], 1u);
  for (int p = 0; p < kComboCount; ++p) ASSERT_LT(g_combo_first_card[p], g_combo_second_card[p]);
}

TEST(HandCategories, BoardHelpersSortAndPlaceRanks) {
  ClassifierBoard board = BoardOf({"4c", "Ks", "9d"});
  SortBoardByRank(board);
  EXPECT_EQ(board.cards[0], DescendingCardNumber(CardOf("Ks")));
  EXPECT_EQ(board.cards[1], DescendingCardNumber(CardOf("9d")));
  EXPECT_EQ(board.cards[2], DescendingCardNumber(CardOf("4c")));
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("Ah"))), 0);
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("Kh"))), 1);
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("Qh"))), 2);
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("9h"))), 3);
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("4h"))), 5);
  EXPECT_EQ(BoardRankPosition(board, DescendingCardNumber(CardOf("2h"))), 6);
}

TEST(HandCategories, PairsOnAHighCardFlop) {
  ExpectMade({"Ks", "9d", "4c"}, {{"AhAd", 900}, {"KhQh", 700}, {"QdQc", 600}, {"9h8h", 500},
                                  {"8h4h", 400}, {"5d5c", 400}, {"3d3c", 300}, {"Ah2h", 200},
                                  {"Qh2h", 0},   {"KsQs", -1}, {"AsKs", -1},  {"9c9h", 1200},
                                  {"Kh9h", 1000}, {"Qs2c", 0}});
  ExpectMade({"Qs", "9d", "4c"}, {{"Kh2c", 100}, {"Ah2c", 200}, {"Jh2c", 0}});
}

TEST(HandCategories, PairedFlop) {
  ExpectMade({"Kh", "Kd", "7c"}, {{"7s2s", 500}, {"AsQs", 200}, {"QsJs", 0}, {"AsAd", 900},
                                  {"5s5d", 400}, {"Ks2s", 1100}, {"Ks7s", 1500}});
}

TEST(HandCategories, MadeHandsAgainstStrongBoards) {
  // A flush board makes every flush nothing, however high.
  ExpectMade({"2h", "7h", "9h", "Jh", "Kh"}, {{"AhQc", 0}, {"AcQc", 0}, {"AcAd", 0}});
  // A straight board: only a higher straight counts.
  ExpectMade({"5c", "6d", "7h", "8s", "9c"}, {{"Tc2d", 1300}, {"AhKd", 0}, {"TcJc", 1300}});
  // Full house boards.
  ExpectMade({"7c", "7d", "2s", "2c", "2h"}, {{"7hAd", 1600}, {"AcAd", 1500}, {"7h7s", 1700},
                                              {"2d3d", 1700}, {"KcQd", 0}});
  ExpectMade({"Kc", "Kd", "Kh", "7s", "7c"}, {{"AsAd", 1500}, {"Ks2d", 1700}, {"7d2d", 0},
                                              {"QsQd", 1500}, {"5s5d", 0}});
  // Trips and quads on the board: kickers decide.
  ExpectMade({"5c", "5d", "5h"}, {{"AhKh", 200}, {"KhQh", 100}, {"2c2d", 1500}, {"5s2d", 1700}});
  ExpectMade({"8c", "8d", "8h", "8s", "3c"}, {{"AhKd", 200}, {"KhQd", 100}, {"2h2d", 0}});
  ExpectMade({"8c", "8d", "8h", "8s", "Ac"}, {{"AhKd", 0}, {"KhQd", 0}});
  // A straight flush board.
  ExpectMade({"5h", "6h", "7h", "8h", "9h"}, {{"Th2c", 1800}, {"2c3c", 0}, {"AsAd", 0}});
  ExpectMade({"5h", "6h", "7h", "8c", "Kd"}, {{"4h3h", 1800}, {"9h4d", 1300}, {"AhTh", 1400}});
  // Two pair on the turn: a pair above the board's pairs, else kickers.
  ExpectMade({"Kc", "Kd", "9h", "9s"},
             {{"AcAd", 900}, {"QcQd", 600}, {"5c5d", 0}, {"AhQh", 200}, {"Kh2c", 1500}});
}

TEST(HandCategories, MadeLineNeverHoldsTopPairTp) {
  std::mt19937_64 rng(8);
  for (int round = 0; round < 200; ++round) {
    const ClassifierBoard board = RandomBoard(rng, 3 + round % 3);
    std::vector<int32_t> out(kComboCount);
    Kernels<HandCategoriesKernels>().ClassifyMadeHands(out.data(), board);
    int blocked = 0;
    for (int32_t value : out) {
      ASSERT_NE(value, 800);
      ASSERT_TRUE(value == -1 || (value % 100 == 0 && value >= 0 && value <= 1800)) << value;
      blocked += value == -1;
    }
    // Each board card blocks the 51 combinations holding it.
    EXPECT_EQ(blocked, board.count * 51 - board.count * (board.count - 1) / 2);
  }
}

TEST(HandCategories, DrawsOnATwoToneFlop) {
  ExpectDraws({"9h", "8h", "2c"}, {{"JhTh", 4}, {"JcTd", 2}, {"6c5d", 1}, {"AhKh", 3},
                                   {"AhKc", 0}, {"9c9d", 0}, {"2c3h", -1}, {"2h3h", 3}});
}

TEST(HandCategories, FiveCardBoardHasNoDraws) {
  std::vector<int32_t> out(kComboCount, 0);
  Kernels<HandCategoriesKernels>().ClassifyDraws(out.data(),
                                                 BoardOf({"9h", "8h", "2c", "Th", "3s"}));
  for (int32_t value : out) ASSERT_EQ(value, 0);
  const CategoryReply reply = ShowCategories("9h 8h 2c Th 3s");
  ASSERT_EQ(reply.draws.size(), 1326u);
  for (int value : reply.draws) ASSERT_EQ(value, 0);
  EXPECT_EQ(reply.end, "END");
}

TEST(HandCategories, ShowCategoriesRepliesInHandOrder) {
  const CategoryReply reply = ShowCategories("ks 9D   4c");
  ASSERT_EQ(reply.made.size(), 1326u);
  ASSERT_EQ(reply.draws.size(), 1326u);
  EXPECT_EQ(reply.end, "END");
  EXPECT_EQ(reply.made[PositionOf("AhAd")], 9);
  EXPECT_EQ(reply.made[PositionOf("KhQh")], 7);
  EXPECT_EQ(reply.made[PositionOf("Ah2h")], 2);
  // Blocked: 0 on the made-hand line (-1 / 100), -1 on the draw line.
  EXPECT_EQ(reply.made[PositionOf("AsKs")], 0);
  EXPECT_EQ(reply.draws[PositionOf("AsKs")], -1);
  EXPECT_EQ(reply.draws[PositionOf("QcJc")], 1);  // gutshot to the ten

  const CategoryReply draws = ShowCategories("9h8h2c");
  EXPECT_EQ(draws.draws[PositionOf("JhTh")], 4);
  EXPECT_EQ(draws.draws[PositionOf("AhKh")], 3);
}

TEST(HandCategories, BothBuildsClassifyAlike) {
  if (!CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2 build on this processor";
  std::mt19937_64 rng(21);
  for (int round = 0; round < 60; ++round) {
    const ClassifierBoard board = RandomBoard(rng, 3 + round % 3);
    std::vector<int32_t> made_avx(kComboCount), made_avx2(kComboCount);
    std::vector<int32_t> draws_avx(kComboCount, 0), draws_avx2(kComboCount, 0);
    isa_avx::kHandCategoriesKernels.ClassifyMadeHands(made_avx.data(), board);
    isa_avx2::kHandCategoriesKernels.ClassifyMadeHands(made_avx2.data(), board);
    isa_avx::kHandCategoriesKernels.ClassifyDraws(draws_avx.data(), board);
    isa_avx2::kHandCategoriesKernels.ClassifyDraws(draws_avx2.data(), board);
    ASSERT_EQ(made_avx, made_avx2);
    ASSERT_EQ(draws_avx, draws_avx2);
    if (CpuHasAvx512()) {
      std::vector<int32_t> made_avx512(kComboCount), draws_avx512(kComboCount, 0);
      isa_avx512::kHandCategoriesKernels.ClassifyMadeHands(made_avx512.data(), board);
      isa_avx512::kHandCategoriesKernels.ClassifyDraws(draws_avx512.data(), board);
      ASSERT_EQ(made_avx512, made_avx2);
      ASSERT_EQ(draws_avx512, draws_avx2);
    }
  }
}

// Draw outs counted by dealing every next card and ranking with the reference:
// a straight out makes exactly a straight that beats the next board itself (on
// the turn) and improves a hand below a straight; a flush out makes a flush or
// straight flush that beats the board and improves a hand below a flush.
TEST(HandCategories, DrawOutsMatchBruteForce) {
  using namespace poker_reference;
  const std::vector<std::vector<std::string>> boards = {
      {"9h", "8h", "2c"},       {"As", "Ks", "5d"}, {"5c", "6c", "7d"},       {"Qs", "Js", "9s"},
      {"9h", "8h", "2c", "Td"}, {"4s", "5s", "6s", "7d"}, {"8c", "9c", "Tc", "Jc"},
      {"Ah", "2d", "3c", "Kh"}};
  for (const auto& names : boards) {
    std::vector<int> board;
    for (const auto& name : names) board.push_back(CardOf(name));
    const int n = static_cast<int>(board.size());
    const std::vector<int32_t> out = Draws(names);
    int checked = 0;
    for (int hi = 1; hi < 52; ++hi) {
      for (int lo = 0; lo < hi; ++lo) {
        const int a = lo % 13 * 4 + lo / 13, b = hi % 13 * 4 + hi / 13;  // 4 * rank + suit
        const int p = std::max(a, b) * (std::max(a, b) - 1) / 2 + std::min(a, b);
        bool blocked = false;
        for (int card : board) blocked = blocked || card == hi || card == lo;
        if (blocked) {
          ASSERT_EQ(out[p], -1);
          continue;
        }
        // cards: the board, the combination, then the next card; next_board:
        // the board and the next card.
        int cards[7], next_board[5];
        std::copy(board.begin(), board.end(), cards);
        std::copy(board.begin(), board.end(), next_board);
        cards[n] = hi;
        cards[n + 1] = lo;
        const int now = RefBest(cards, n + 2)[0];
        int straight_outs = 0, flush_outs = 0;
        for (int next = 0; next < 52; ++next) {
          const bool on_board = std::find(board.begin(), board.end(), next) != board.end();
          if (next == hi || next == lo || on_board) continue;
          cards[n + 2] = next;
          next_board[n] = next;
          const RefKey key = RefBest(cards, n + 3);
          // On the turn the river board alone may already hold a straight or flush.
          if (n == 4 && !(key > RefBest(next_board, 5))) continue;
          if (key[0] == kStraight && now < kStraight) ++straight_outs;
          if ((key[0] == kFlush || key[0] == kStraightFlush) && now < kFlush) ++flush_outs;
        }
        int expected = straight_outs / 4;
        if (flush_outs > 0) expected = straight_outs > 0 ? 4 : 3;
        ASSERT_EQ(out[p], expected) << names[0] << names[1] << names[2] << " combo " << p
                                    << " straight outs " << straight_outs << " flush outs "
                                    << flush_outs;
        ++checked;
      }
    }
    EXPECT_EQ(checked, (52 - n) * (51 - n) / 2);
  }
}
