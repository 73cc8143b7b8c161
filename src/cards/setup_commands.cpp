#include "cards/setup_commands.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "cards/situation.h"
#include "protocol/command_error.h"
#include "protocol/dispatcher.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/accuracy_settings.h"

namespace {

// Weights this small are noise from the tools that write ranges; they would
// only cost work in every pass.
constexpr double kMinRangeWeight = 1e-5;
// Weights above this are refused as out of range: the reach products of two
// such ranges overflow the float rows and every result reads NaN. Weights are
// otherwise not limited; results depend only on their ratios.
constexpr double kMaxRangeWeight = 1e12;

}  // namespace

PlayerIndex ParsePlayerName(const std::string& word) {
  if (word == "OOP" || word == "hero") return 0;
  if (word == "IP" || word == "villain") return 1;
  ThrowRefusal("incorrect player name");
}

void CmdSetRange(const WordList& words) {
  const PlayerIndex player = ParsePlayerName(words[1]);

  // Every word is read before anything is stored: a bad one leaves the range as it was.
  std::vector<double> by_hand_order(kComboCount);
  for (HandOrder p = 0; p < kComboCount; ++p) {
    by_hand_order[p] = ParseFiniteDoubleWord(words[2 + p]);
    if (by_hand_order[p] > kMaxRangeWeight) throw std::out_of_range("weight too large");
  }

  std::vector<double> range(kComboCount);
  for (ComboIndex k = 0; k < kComboCount; ++k) {
    const double weight = by_hand_order[g_hand_order_by_combo[k]];
    range[k] = weight < kMinRangeWeight ? 0.0 : weight;
  }
  g_ranges[player] = std::move(range);
  PrintReply("%s ok!\n", g_command_name.c_str());
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
  PrintReply("%s ok!\n", g_command_name.c_str());
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
  PrintReply("%s ok!\n", g_command_name.c_str());
}
