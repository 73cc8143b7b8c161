#include "cards/hand_categories.h"

#include <algorithm>

#include "protocol/fail.h"
#include "protocol/reply.h"

const char* const g_made_hand_names[kMadeHandCategoryCount] = {
    "nothing",   "king_high", "ace_high",      "low_pair",    "third_pair",
    "second_pair", "underpair", "top_pair",    "top_pair_tp", "overpair",
    "two_pair",  "trips",     "set",           "straight",    "flush",
    "fullhouse", "top_fullhouse", "quads",     "straight_flush"};

const char* const g_draw_names[kDrawCategoryCount] = {
    "no_draw", "4out_straight_draw", "8out_straight_draw", "flush_draw", "combo_draw"};

void SortBoardByRank(ClassifierBoard& board) {
  const int count = std::clamp(board.count, 0, 5);
  // A lower descending number is a higher rank (ties by suit, spades first).
  std::sort(board.cards, board.cards + count);
}

int BoardRankPosition(const ClassifierBoard& board, uint32_t card) {
  uint32_t ranks = 0;
  for (int i = 0; i < std::clamp(board.count, 0, 5); ++i)
    ranks |= 1u << DescendingCardRank(board.cards[i] % 52);
  const int rank = DescendingCardRank(card % 52);
  return 2 * __builtin_popcount(ranks >> (rank + 1)) + static_cast<int>(ranks >> rank & 1);
}

void ReportClassifierBug() {
  PrintConsole("ERROR: bug in hand classifier, please report!\n");
  ExitImmediately(1);
}
