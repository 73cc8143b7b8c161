#include "commands/analysis_commands.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/combo_ev.h"
#include "analysis/display_strategy.h"
#include "analysis/equity.h"
#include "analysis/equity_lines.h"
#include "analysis/line_freq.h"
#include "analysis/node_locks.h"
#include "analysis/node_range.h"
#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "commands/command_table.h"
#include "commands/preconditions.h"
#include "commands/setup_commands.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

// One answer line of 1326 values holds at most this many bytes.
constexpr size_t kComboLineBytes = 65536;

// The 1326 values (ComboIndex order) as one line in hand order, each "%.12g",
// a NaN as "0".
std::string ComboValuesLine(const std::vector<double>& values) {
  std::string line;
  line.reserve(kComboCount * 8);
  char number[32];
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const double v = values[g_combo_by_hand_order[p]];
    if (p > 0) line += ' ';
    if (std::isnan(v)) {
      line += '0';
    } else {
      std::snprintf(number, sizeof number, "%.12g", v);
      line += number;
    }
  }
  line += '\n';
  if (line.size() >= kComboLineBytes) ThrowRefusal("buffer too small");
  return line;
}

// "%.12g" of a probability; a reach of no weight at all (0 / 0) is "nan",
// whatever the sign bit of the NaN.
void FormatProbability(char* out, size_t size, double p) {
  if (std::isnan(p))
    std::snprintf(out, size, "nan");
  else
    std::snprintf(out, size, "%.12g", p);
}

// The path of a command that works on a decision node.
ResolvedPath ResolveDecisionPath(const std::string& text) {
  const ResolvedPath path = ResolveNodePath(g_solver_state.get(), text);
  const std::string type = GetNodeTypeName(path);
  if (type != "OOP_DEC" && type != "IP_DEC") ThrowRefusal("incorrect path");
  return path;
}

int32_t NodeIndex(const ResolvedPath& path) { return static_cast<int32_t>(path.node->entry_index); }

// The path of a command that changes a node's stores or locks: a decision
// node, and no solver running that could meet the change half made.
ResolvedPath ResolveNodeToChange(const std::string& text) {
  const ResolvedPath path = ResolveDecisionPath(text);
  RefuseWhileSolverRuns();
  return path;
}

// 1326 number words from words[first] on, in hand order, as values in
// ComboIndex order. Every word is read before anything changes; a word that
// is no finite number, or lies outside [low, high], is an invalid value.
std::vector<double> ComboWords(const WordList& words, size_t first, double low, double high) {
  std::vector<double> values(kComboCount);
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const double v = ParseFiniteDoubleWord(words[first + p]);
    if (v < low || v > high) throw std::out_of_range("combination value");
    values[g_combo_by_hand_order[p]] = v;
  }
  return values;
}

void LockNodeCommand(const WordList& words, bool on) {
  const ResolvedPath path = ResolveNodeToChange(words[1]);
  if (!SetNodeLock(*g_solver_state, NodeIndex(path), path.turn_card, path.river_card, on))
    ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}

}  // namespace

void CmdShowStrategy(const WordList& words) {
  const ResolvedPath path = ResolveDecisionPath(words[1]);
  std::vector<std::vector<double>> rows;
  GetDisplayStrategies(g_solver_state.get(), NodeIndex(path), path.turn_card, path.river_card,
                       rows);
  for (const std::vector<double>& row : rows) PrintReplyText(ComboValuesLine(row));
  PrintReply("END\n");
}

namespace {

// The player of word 1 of an equity command.
Player EquityPlayerWord(const WordList& words) {
  if (words.size() < 2) ThrowArgumentError(words[0]);
  return ParsePlayerName(words[1]);
}

// Equities (printed scale) and weights of the player's range against the
// opponent's at the node of the path ("" for the root ranges on the tree's own
// board).
void NodeEquities(Player player, const std::string& path, std::vector<double>& equity,
                  std::vector<double>& weight) {
  SolverState* state = g_solver_state.get();
  int32_t turn_card = state ? state->start_turn_card : -1;
  int32_t river_card = state ? state->start_river_card : -1;
  if (!path.empty()) {
    const ResolvedPath node = ResolveNodePath(state, path);
    turn_card = node.turn_card;
    river_card = node.river_card;
  }
  // The root ranges need neither a tree nor set ranges: without a tree every
  // equity is one half.
  std::vector<double> own = path.empty() ? RootRange(state, player)
                                         : ComputeNodeRange(state, player, path);
  std::vector<double> opp = path.empty() ? RootRange(state, Opponent(player))
                                         : ComputeNodeRange(state, Opponent(player), path);
  own.resize(kComboCount, 0.0);
  opp.resize(kComboCount, 0.0);
  equity.assign(kComboCount, 0.0);
  weight.assign(kComboCount, 0.0);
  ComputeEquities(state, player, turn_card, river_card, own.data(), opp.data(), equity.data(),
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

// calc_ev's two arrays: the EVs as printed (half the pot added; 0 for a tree
// loaded without values) and the weights.
void PrintedComboEvs(const EvQuery& query, std::vector<double>& evs,
                     std::vector<double>& weights) {
  SolverState* state = g_solver_state.get();
  evs.assign(kComboCount, 0.0);
  weights.assign(kComboCount, 0.0);
  ComputeComboEvs(state, query.player, NodeIndex(query.node), query.node.turn_card,
                  query.node.river_card, evs.data(), weights.data());
  // Half the pot the tree was built with, as calc_results adds it.
  const double half_pot = HalfRootPot();
  for (double& ev : evs)
    if (ev == ev) ev = g_tree_without_values ? 0.0 : ev + half_pot;
}

// What calc_line_freq and calc_global_freq share: the root total (OOP's
// frequencies at the root on the tree's own board) and the path's node.
struct FrequencyQuery {
  double root_total = 0.0;
  ResolvedPath node;
};

FrequencyQuery ParseFrequencyQuery(const WordList& words) {
  SolverState* state = g_solver_state.get();
  FrequencyQuery query;
  const std::string path = words[1] == "r" ? "r:0" : words[1];
  query.node = ResolveNodePath(state, path);
  query.root_total =
      SumNodeFrequencies(state, 0, state->start_turn_card, state->start_river_card);
  return query;
}

EvQuery ParseEvQuery(const WordList& words) {
  if (words.size() < 3) ThrowArgumentError(words[0]);
  EvQuery query;
  query.player = ParsePlayerName(words[1]);
  query.path = words[2] == "r" ? "r:0" : words[2];
  query.node = ResolveNodePath(g_solver_state.get(), query.path);
  return query;
}

}  // namespace

void CmdShowStrategyPp(const WordList& words) {
  const ResolvedPath path = ResolveDecisionPath(words[1]);
  std::vector<std::vector<double>> rows;
  GetDisplayStrategies(g_solver_state.get(), NodeIndex(path), path.turn_card, path.river_card,
                       rows);
  // The acting player's order: the player whose strategy is shown.
  for (const uint32_t p : SortCombosByEquity(words[1])) {
    const ComboIndex c = g_combo_by_hand_order[p];
    std::string line = std::string(HandOrderName(static_cast<HandOrder>(p))) + ": ";
    char number[64];
    for (const std::vector<double>& row : rows) {
      if (std::isnan(row[c]))
        line += "  nan";
      else
        std::snprintf(number, sizeof number, "  %.6f", row[c]), line += number;
    }
    PrintReplyText(line + "\n");
  }
  PrintReply("END\n");
}
void CmdShowLockedCombos(const WordList& words) {
  const ResolvedPath path = ResolveDecisionPath(words[1]);
  std::vector<double> values(kComboCount, 0.0);
  GetLockedCombos(g_solver_state.get(), NodeIndex(path), path.turn_card, path.river_card,
                  values.data());
  PrintReplyText(ComboValuesLine(values));
}

void CmdShowRange(const WordList& words) {
  if (words.size() < 2) ThrowArgumentError(words[0]);
  const Player player = ParsePlayerName(words[1]);
  const std::string path = words.size() >= 3 ? words[2] : std::string();
  PrintReplyText(ComboValuesLine(ComputeNodeRange(g_solver_state.get(), player, path)));
}

void CmdShowProbs(const WordList& words) {
  const std::string& text = words[1];
  SolverState* state = g_solver_state.get();
  const double reach[2] = {ComputeReachProbability(state, PLAYER_OOP, text),
                           ComputeReachProbability(state, PLAYER_IP, text)};
  const ResolvedPath path = ResolveNodePath(state, text);
  std::string entries;
  if (path.node && !path.split && !path.node->children.empty()) {
    const Player actor = path.node->player;
    const double own = reach[actor];
    if (own > 0.0) {
      char number[32];
      for (int i = 0; i < static_cast<int>(path.node->children.size()); ++i) {
        const std::string label = MakeChildLabel(path, i);
        const double child = ComputeReachProbability(state, actor, text + ":" + label);
        FormatProbability(number, sizeof number, child / own);
        if (!entries.empty()) entries += ' ';
        entries += label + ' ' + number;
      }
    }
  }
  char oop[32];
  char ip[32];
  FormatProbability(oop, sizeof oop, reach[PLAYER_OOP]);
  FormatProbability(ip, sizeof ip, reach[PLAYER_IP]);
  PrintReply("OOP %s IP %s %s\n", oop, ip, entries.c_str());
}

void CmdCalcEv(const WordList& words) {
  const EvQuery query = ParseEvQuery(words);
  std::vector<double> evs, weights;
  PrintedComboEvs(query, evs, weights);
  PrintReplyText(FormatHandOrderLine(evs.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(weights.data(), "0"));
  PrintReply("END\n");
}

void CmdCalcEvPp(const WordList& words) {
  const EvQuery query = ParseEvQuery(words);
  std::vector<double> evs, weights;
  PrintedComboEvs(query, evs, weights);
  for (const uint32_t p : SortCombosByEquity(query.path)) {
    const ComboIndex c = g_combo_by_hand_order[p];
    PrintReply("%s: %s; %s\n", std::string(HandOrderName(static_cast<HandOrder>(p))).c_str(),
               FormatListNumber(evs[c]).c_str(), FormatListNumber(weights[c]).c_str());
  }
  PrintReply("END\n");
}
void CmdCalcEvLine(const WordList& words) {
  ParseEvQuery(words);  // the same refusals as calc_ev
  const std::vector<double> zeros(kComboCount, 0.0), ones(kComboCount, 1.0);
  PrintReplyText(FormatHandOrderLine(zeros.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(ones.data(), "0"));
  PrintReply("END\n");
}
void CmdCalcLineFreq(const WordList& words) {
  const FrequencyQuery query = ParseFrequencyQuery(words);
  SolverState* state = g_solver_state.get();
  // The path's cards only choose the street: the line is taken over every card
  // that can come.
  double sum = 0.0;
  if (state->nodes[0].street == STREET_FLOP && LineStreet(*state, query.node) == STREET_RIVER)
    sum = CalcRiverLineFrequency(state, NodeIndex(query.node), MakeRunoutList(state->board_mask));
  else
    ComputeLineFrequency(state, query.node, &sum);
  PrintReplyText(FormatValueNumber(sum / query.root_total));
}

void CmdCalcGlobalFreq(const WordList& words) {
  const FrequencyQuery query = ParseFrequencyQuery(words);
  const double sum = SumNodeFrequencies(g_solver_state.get(), NodeIndex(query.node),
                                        query.node.turn_card, query.node.river_card);
  PrintReplyText(FormatValueNumber(sum / query.root_total));
}
void CmdCalcEq(const WordList& words) {
  const Player player = EquityPlayerWord(words);
  std::vector<double> equity, weight;
  NodeEquities(player, "", equity, weight);
  PrintReplyText(FormatHandOrderLine(equity.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(weight.data(), "0"));
  PrintReply("END\n");
}

void CmdCalcEqPp(const WordList& words) {
  const Player player = EquityPlayerWord(words);
  std::vector<double> equity, weight;
  NodeEquities(player, "", equity, weight);
  // The root's order (OOP to act, uniform ranges) whichever player is named.
  for (const uint32_t p : SortCombosByEquity("r:0")) {
    const ComboIndex c = g_combo_by_hand_order[p];
    PrintReply("%s: %s; %s\n", std::string(HandOrderName(static_cast<HandOrder>(p))).c_str(),
               FormatListNumber(100.0 * equity[c]).c_str(), FormatListNumber(weight[c]).c_str());
  }
  PrintReply("END\n");
}
void CmdCalcEqNode(const WordList& words) {
  const Player player = EquityPlayerWord(words);
  if (words.size() < 3) ThrowArgumentError(words[0]);
  std::vector<double> equity, weight;
  NodeEquities(player, words[2] == "r" ? "r:0" : words[2], equity, weight);
  // The weighted mean over the combinations with defined values.
  double sum = 0.0, total = 0.0;
  for (int c = 0; c < kComboCount; ++c) {
    if (equity[c] == equity[c]) sum += weight[c] * equity[c];
    if (weight[c] == weight[c]) total += weight[c];
  }
  PrintReplyText(FormatHandOrderLine(equity.data(), "nan"));
  PrintReplyText(FormatHandOrderLine(weight.data(), "0"));
  PrintReplyText(FormatValueNumber(sum / total));
  PrintReply("END\n");
}

void CmdLockNode(const WordList& words) { LockNodeCommand(words, true); }

void CmdUnlockNode(const WordList& words) { LockNodeCommand(words, false); }

void CmdSetStrategy(const WordList& words) {
  const ResolvedPath path = ResolveNodeToChange(words[1]);
  SolverState& state = *g_solver_state;
  const TreeNode& node = state.nodes[path.node->entry_index];
  const int32_t child = ParseIntWord(words[2]);
  if (child < 0 || static_cast<size_t>(child) >= node.children.size())
    ThrowRefusal("invalid child index");
  // The regret rows hold 1000 times each value; beyond what they hold a value
  // would wrap around or overflow.
  const std::vector<double> values = ComboWords(words, 3, 0.0, MaxUserStrategyValue(state, node));
  if (!SetNodeStrategy(state, NodeIndex(path), child, path.turn_card, path.river_card,
                       values.data()))
    ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}

void CmdComboLockNode(const WordList& words) {
  const ResolvedPath path = ResolveNodeToChange(words[1]);
  const double largest = std::numeric_limits<double>::max();
  const std::vector<double> values = ComboWords(words, 2, -largest, largest);
  if (!SetComboLocks(*g_solver_state, NodeIndex(path), path.turn_card, path.river_card,
                     values.data()))
    ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}
