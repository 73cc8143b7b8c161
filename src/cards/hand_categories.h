#pragma once
// Hand categories of a board: every combination sorted into a made-hand
// category ("nothing" to "straight_flush") and a draw category ("no_draw" to
// "combo_draw"), judged against what the board itself already shows.
//
// The classifiers number cards in descending order, 51 - (4 * rank + suit):
// 0 = As, 1 = Ah, 2 = Ad, 3 = Ac, 4 = Ks, ..., 51 = 2c. They work in HandOrder
// throughout, so their outputs print without reordering.
#include <array>
#include <cstdint>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "platform/isa_dispatch.h"

enum MadeHandCategory : int32_t {
  MADE_NOTHING = 0,
  MADE_KING_HIGH = 1,
  MADE_ACE_HIGH = 2,
  MADE_LOW_PAIR = 3,
  MADE_THIRD_PAIR = 4,
  MADE_SECOND_PAIR = 5,
  MADE_UNDERPAIR = 6,
  MADE_TOP_PAIR = 7,
  MADE_TOP_PAIR_TP = 8,  // no rule gives it; the name keeps its place
  MADE_OVERPAIR = 9,
  MADE_TWO_PAIR = 10,
  MADE_TRIPS = 11,
  MADE_SET = 12,
  MADE_STRAIGHT = 13,
  MADE_FLUSH = 14,
  MADE_FULLHOUSE = 15,
  MADE_TOP_FULLHOUSE = 16,
  MADE_QUADS = 17,
  MADE_STRAIGHT_FLUSH = 18,
};
constexpr int kMadeHandCategoryCount = 19;

enum DrawCategory : int32_t {
  DRAW_NONE = 0,
  DRAW_4OUT_STRAIGHT = 1,
  DRAW_8OUT_STRAIGHT = 2,
  DRAW_FLUSH = 3,
  DRAW_COMBO = 4,
};
constexpr int kDrawCategoryCount = 5;

extern const char* const g_made_hand_names[kMadeHandCategoryCount];
extern const char* const g_draw_names[kDrawCategoryCount];

// HandOrder walks hi = 1..51 and, within it, lo = 0..hi-1 over the numbering
// 4 * rank + suit; a card's descending number is 51 minus that number.
constexpr std::array<uint32_t, kComboCount> MakeComboCardTable(bool first) {
  std::array<uint32_t, kComboCount> cards{};
  int p = 0;
  for (int hi = 1; hi < 52; ++hi)
    for (int lo = 0; lo < hi; ++lo) cards[p++] = static_cast<uint32_t>(51 - (first ? hi : lo));
  return cards;
}

// The two cards of each combination by HandOrder, descending numbers, the card
// named first (the higher) in g_combo_first_card.
alignas(32) inline constexpr std::array<uint32_t, kComboCount> g_combo_first_card =
    MakeComboCardTable(true);
alignas(32) inline constexpr std::array<uint32_t, kComboCount> g_combo_second_card =
    MakeComboCardTable(false);

inline uint32_t DescendingCardNumber(int card) {
  return 51u - static_cast<uint32_t>(4 * CardRank(card) + CardSuit(card));
}
inline int DescendingCardRank(uint32_t number) { return 12 - static_cast<int>(number / 4); }
inline int DescendingCardSuit(uint32_t number) { return 3 - static_cast<int>(number % 4); }

// The board as the classifiers take it: the first `count` (3..5) cards in
// descending numbers.
struct ClassifierBoard {
  uint32_t cards[5];
  int32_t count;
};

// The classifiers, one table of them per build
// (Kernels<HandCategoriesKernels>() is the one in use).
struct HandCategoriesKernels {
  // out: 1326 entries by HandOrder, the made-hand category times 100, or -1 for
  // a combination sharing a card with the board. The board is taken by value.
  void (*ClassifyMadeHands)(int32_t* out, ClassifierBoard board);

  // out: 1326 entries by HandOrder, zero-filled by the caller: the draw
  // category, or -1 for a combination sharing a card with the board. A
  // five-card board has no draws and leaves out untouched.
  void (*ClassifyDraws)(int32_t* out, ClassifierBoard board);
};
TDX_KERNEL_TABLES(HandCategoriesKernels)

// The board's cards sorted by rank, highest first.
void SortBoardByRank(ClassifierBoard& board);

// 2 * (distinct board ranks above the card's rank), plus 1 when the card's rank
// is on the board.
int BoardRankPosition(const ClassifierBoard& board, uint32_t card);

// A made hand that the board's own category rules out: prints the error line
// on standard output and ends the process with exit code 1.
[[noreturn]] void ReportClassifierBug();
