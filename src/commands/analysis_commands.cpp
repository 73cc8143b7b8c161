#include "commands/analysis_commands.h"

#include "commands/command_table.h"

#include <string>
#include <vector>

#include "analysis/equity.h"
#include "analysis/equity_lines.h"
#include "cards/situation.h"
#include "commands/setup_commands.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"
#include "solver/solver_state.h"
#include "tree/node_path.h"

namespace {

// The player of word 1 of an equity command.
Player EquityPlayerWord(const WordList& words) {
  if (words.size() < 2) ThrowArgumentError(words[0]);
  return ParsePlayerName(words[1]);
}

// The player's current root range (zeros while none is set).
std::vector<double> RootRange(Player player) {
  std::vector<double> range = g_ranges[player];
  range.resize(kComboCount, 0.0);
  return range;
}

// Equities (printed scale) and weights of the player's root range against the
// opponent's on the program-wide board.
void RootEquities(Player player, std::vector<double>& equity, std::vector<double>& weight) {
  const std::vector<double> own = RootRange(player), opp = RootRange(Opponent(player));
  equity.assign(kComboCount, 0.0);
  weight.assign(kComboCount, 0.0);
  ComputeEquities(g_solver_state.get(), player, LowestCard(g_board_turn),
                  LowestCard(g_board_river), own.data(), opp.data(), equity.data(),
                  weight.data());
  for (double& e : equity) e = 0.5 * (1.0 + e);
}

// The word steps of calc_ev, calc_ev_pp and calc_ev_line: the player, and the
// node path with "r" standing for the root decision "r:0".
struct EvQuery {
  Player player = PLAYER_OOP;
  std::string path;
  ResolvedPath node;
};

EvQuery ParseEvQuery(const WordList& words) {
  if (words.size() < 3) ThrowArgumentError(words[0]);
  EvQuery query;
  query.player = ParsePlayerName(words[1]);
  query.path = words[2] == "r" ? "r:0" : words[2];
  query.node = ResolveNodePath(g_solver_state.get(), query.path);
  return query;
}

}  // namespace

void CmdShowStrategy(const WordList& words) { CmdNotImplemented(words); }
void CmdShowStrategyPp(const WordList& words) { CmdNotImplemented(words); }
void CmdShowLockedCombos(const WordList& words) { CmdNotImplemented(words); }
void CmdShowRange(const WordList& words) { CmdNotImplemented(words); }
void CmdShowProbs(const WordList& words) { CmdNotImplemented(words); }

void CmdCalcEv(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEvPp(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEvLine(const WordList& words) {
  ParseEvQuery(words);  // the same refusals as calc_ev
  const std::vector<double> zeros(kComboCount, 0.0), ones(kComboCount, 1.0);
  PrintReplyText(FormatHandOrderLine(zeros.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(ones.data(), "0"));
  PrintReply("END\n");
}
void CmdCalcLineFreq(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcGlobalFreq(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEq(const WordList& words) {
  const Player player = EquityPlayerWord(words);
  std::vector<double> equity, weight;
  RootEquities(player, equity, weight);
  PrintReplyText(FormatHandOrderLine(equity.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(weight.data(), "0"));
  PrintReply("END\n");
}

void CmdCalcEqPp(const WordList& words) {
  const Player player = EquityPlayerWord(words);
  std::vector<double> equity, weight;
  RootEquities(player, equity, weight);
  // The root's order (OOP to act, uniform ranges) whichever player is named.
  for (const uint32_t p : SortCombosByEquity("r:0")) {
    const ComboIndex c = g_combo_by_hand_order[p];
    PrintReply("%s: %s; %s\n", std::string(HandOrderName(static_cast<HandOrder>(p))).c_str(),
               FormatListNumber(100.0 * equity[c]).c_str(), FormatListNumber(weight[c]).c_str());
  }
  PrintReply("END\n");
}
void CmdCalcEqNode(const WordList& words) { CmdNotImplemented(words); }

void CmdLockNode(const WordList& words) { CmdNotImplemented(words); }
void CmdUnlockNode(const WordList& words) { CmdNotImplemented(words); }
void CmdSetStrategy(const WordList& words) { CmdNotImplemented(words); }
void CmdComboLockNode(const WordList& words) { CmdNotImplemented(words); }
