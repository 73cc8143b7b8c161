#include "commands/setup_commands.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "cards/card.h"
#include "cards/hand_categories.h"
#include "cards/situation.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/accuracy_settings.h"

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

Player ParsePlayerName(const std::string& word) {
  if (word == "OOP" || word == "hero") return PLAYER_OOP;
  if (word == "IP" || word == "villain") return PLAYER_IP;
  ThrowRefusal("incorrect player name");
}

void CmdShowHandOrder(const WordList& words) { PrintReply("%s\n", g_hand_order_text); }

void CmdSetRange(const WordList& words) {
  const Player player = ParsePlayerName(words[1]);

  // Every word is read before anything is stored: a bad one leaves the range as it was.
  std::vector<double> by_hand_order(kComboCount);
  for (HandOrder p = 0; p < kComboCount; ++p) {
    by_hand_order[p] = ParseFiniteDoubleWord(words[2 + p]);
    if (by_hand_order[p] > kMaxRangeWeight) throw std::out_of_range("weight too large");
  }
  SetRangeFromHandOrder(player, by_hand_order);
  PrintOkReply(words[0]);
}

void CmdSetBoard(const WordList& words) {
  if (words.size() < 4 || words.size() > 6) ThrowArgumentError(words[0]);

  const CardMask flop = ParseCardText(words[1]) | ParseCardText(words[2]) | ParseCardText(words[3]);
  if (CardCount(flop) != 3) ThrowArgumentError(words[0]);

  CardMask turn = 0;
  if (words.size() >= 5) {
    turn = ParseCardText(words[4]);
    if (CardCount(turn) != 1) ThrowArgumentError(words[0]);
  }
  CardMask river = 0;
  if (words.size() == 6) {
    river = ParseCardText(words[5]);
    if (CardCount(river) != 1) ThrowArgumentError(words[0]);
  }
  if (CardCount(flop | turn | river) != static_cast<int>(words.size()) - 1)
    ThrowRefusal("duplicate cards");

  g_board_flop = flop;
  g_board_turn = turn;
  g_board_river = river;
  PrintOkReply(words[0]);
}

void CmdSetPot(const WordList& words) {
  const int32_t a = ParseIntWord(words[1]);
  const int32_t b = ParseIntWord(words[2]);
  const int32_t pot = ParseIntWord(words[3]);
  g_pot[0] = a;
  g_pot[1] = b;
  g_pot[2] = pot;

  // A pot-relative accuracy follows the pot.
  SetAccuracyTarget(g_accuracy_relative ? g_accuracy_value * g_pot[2] : g_accuracy_value);
  PrintOkReply(words[0]);
}

void CmdShowCategoryNames(const WordList& words) {
  for (const char* name : g_made_hand_names) PrintReply("%s ", name);
  PrintReply("\n");
  for (const char* name : g_draw_names) PrintReply("%s ", name);
  PrintReply("\n");
  PrintReply("END\n");
}

void CmdShowCategories(const WordList& words) {
  const CardMask cards = ParseCardText(JoinWords(words, 1, words.size()));
  const int count = CardCount(cards);
  if (count < 3 || count > 5) ThrowRefusal("invalid board");
  ClassifierBoard board{};
  board.count = count;
  int i = 0;
  for (CardMask rest = cards; rest != 0; rest &= rest - 1)
    board.cards[i++] = DescendingCardNumber(__builtin_ctzll(rest));

  int32_t made[kComboCount] = {};
  int32_t draws[kComboCount] = {};
  const HandCategoriesKernels& classifiers = Kernels<HandCategoriesKernels>();
  classifiers.ClassifyMadeHands(made, board);
  classifiers.ClassifyDraws(draws, board);
  // Blocked combinations (-1) print 0 on the made-hand line.
  for (int32_t& value : made) value /= 100;
  PrintNumberLine(made);
  PrintNumberLine(draws);
  PrintReply("END\n");
}
