#include "cards/category_commands.h"

#include <cstdio>
#include <string>

#include "cards/card.h"
#include "protocol/command_error.h"
#include "protocol/tokenizer.h"
#include "protocol/reply.h"

namespace {

// One line of 1326 numbers, each followed by a blank.
void PrintNumberLine(const int32_t* values) {
  std::string line;
  line.reserve(kComboCount * 3 + 1);
  char number[16];
  for (int p = 0; p < kComboCount; ++p) {
    const int length = std::snprintf(number, sizeof number, "%d ", values[p]);
    line.append(number, static_cast<size_t>(length));
  }
  line += '\n';
  PrintReplyText(line);
}

}  // namespace

void PrintCategoryNames() {
  for (const char* name : g_made_hand_names) PrintReply("%s ", name);
  PrintReply("\n");
  for (const char* name : g_draw_names) PrintReply("%s ", name);
  PrintReply("\n");
  PrintReply("END\n");
}

void PrintBoardCategories(const ClassifierBoard& board) {
  int32_t made[kComboCount] = {};
  int32_t draws[kComboCount] = {};
  ClassifyMadeHands(made, board);
  ClassifyDraws(draws, board);
  // Blocked combinations (-1) print 0 on the made-hand line.
  for (int32_t& value : made) value /= 100;
  PrintNumberLine(made);
  PrintNumberLine(draws);
  PrintReply("END\n");
}

void CmdShowCategoryNames(const WordList& words) { PrintCategoryNames(); }

void CmdShowCategories(const WordList& words) {
  const CardMask cards = ParseCardText(JoinWords(words, 1, words.size()));
  const int count = CardCount(cards);
  if (count < 3 || count > 5) ThrowRefusal("invalid board");
  ClassifierBoard board{};
  board.count = count;
  int i = 0;
  for (CardMask rest = cards; rest != 0; rest &= rest - 1)
    board.cards[i++] = DescendingCardNumber(__builtin_ctzll(rest));
  PrintBoardCategories(board);
}
