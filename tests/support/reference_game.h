#pragma once
// An independent reference for the engine's results, written from the rules of
// heads-up hold'em rather than from the engine's code: its own betting tree from
// the add_line words, exact values by plain enumeration of hand pairs (card
// removal by testing every pair), best responses, and a small CFR+ solver.
//
// Values follow the engine's pass values: a player's expectation over the joint
// distribution of the two players' hands that share no card with each other or
// the board, each pair weighted by the product of the two range weights; an end
// node is worth pot/2 + its amount (the largest commitment), a fold gives the
// folder -value and the other +value, a showdown gives +-value (0 on a tie). The
// printed reports add pot/2 to these figures.
//
// Decision-tree values need a river board (5 cards). Flop and turn boards are
// supported for check-down lines only (CheckDownEv), which average over every
// runout of the remaining cards.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cards/card.h"

namespace reference_game {

constexpr int kOop = 0;
constexpr int kIp = 1;
constexpr int kReferenceComboCount = 1326;

struct Spot {
  CardMask board = 0;                      // 3, 4 or 5 cards
  std::vector<double> ranges[2];           // 1326 weights each, ComboIndex order
  double pot = 100.0;                      // the third set_pot figure (an integer)
  std::vector<std::vector<double>> lines;  // the amounts of each add_line
};

struct RefNode {
  enum Kind { kDecision = 0, kShowdown = 1, kFold = 2 };
  Kind kind = kDecision;
  int parent = -1;
  int player = -1;            // decision: the player to act; fold: the folder; showdown: -1
  int street = 0;             // counted within the line: 0 is the board's own street
  double amount = 0;          // the largest commitment of a player so far
  double value = 0;           // end nodes: pot/2 + amount
  std::vector<int> children;  // largest bet first, then call/check, fold last
  std::vector<double> keys;   // per child: its amount, -1 for the fold
};

// A strategy profile for both players: per decision node, per ComboIndex and
// action the probability, laid out [node][combo * action_count + action]. Only
// the combinations a player holds are read; end nodes have empty rows.
struct Strategy {
  std::vector<std::vector<double>> probs;
  std::vector<int> action_counts;  // per node; 0 for end nodes

  double At(int node, int combo, int action) const {
    return probs[node][static_cast<size_t>(combo) * action_counts[node] + action];
  }
  void Set(int node, int combo, int action, double p) {
    probs[node][static_cast<size_t>(combo) * action_counts[node] + action] = p;
  }
};

class ReferenceGame {
 public:
  // Throws std::invalid_argument on a bad spot: ranges not 1326 weights, a board
  // that is not 3 to 5 cards, no lines, an amount below the one before it, a
  // decision beyond the river, or no pair of hands that can meet. Weights below
  // 1e-5 count as 0, as set_range stores them.
  explicit ReferenceGame(const Spot& spot);

  // Nodes in the engine's order: pre-order, children by descending key.
  const std::vector<RefNode>& Nodes() const { return nodes_; }
  // ComboIndex of each hand a player holds on this board (positive weight).
  const std::vector<int>& Hands(int player) const { return hands_[player]; }
  // Sum over the pairs of hands that can meet of the product of their weights.
  double PairWeight() const { return pair_weight_; }
  // Every action at every decision with the same probability.
  Strategy UniformStrategy() const;

  // The following need a river board.
  double GameValue(int player, const Strategy& profile) const;
  double UniformEv(int player) const { return GameValue(player, UniformStrategy()); }
  // The value of a per-hand best response against the opponent's part of profile.
  double BestResponseValue(int player, const Strategy& profile) const;
  // 0.5 * (MES OOP + MES IP - EV OOP - EV IP), as the engine reports it.
  double Exploitability(const Strategy& profile) const;

  // Runs CFR+ (regret matching+, alternating updates, linearly weighted average)
  // from scratch and keeps the average strategies as the solved profile. With a
  // trace, the exploitability of the average is appended every trace_every
  // iterations.
  const Strategy& SolveCfr(int iterations, std::vector<double>* trace = nullptr,
                           int trace_every = 0);
  const Strategy& Solved() const;  // throws std::logic_error before SolveCfr
  double GameValue(int player) const { return GameValue(player, Solved()); }
  double Exploitability() const { return Exploitability(Solved()); }

  // Any board: the value of a tree that is one check-down chain ending in a
  // showdown, every runout of the undealt cards (none shared with either hand)
  // equally likely: pot * equity - pot / 2 for the check-down lines.
  double CheckDownEv(int player) const;

 private:
  struct LocalProfile;  // per node, per hand-list index and action
  struct CfrRun;
  LocalProfile ToLocal(const Strategy& profile) const;
  std::vector<double> Walk(int traverser, int node, const std::vector<double>& opp_reach,
                           const LocalProfile& profile, bool best_response) const;
  // The root value of `player` against profile: its own strategy from profile,
  // or a per-hand best response.
  double RootWalkValue(int player, const Strategy& profile, bool best_response) const;
  void TerminalValues(int traverser, const RefNode& node, const std::vector<double>& opp_reach,
                      std::vector<double>& out) const;
  void RequireRiver() const;

  CardMask board_;
  double pot_;
  std::vector<double> weights_[2];  // 1326 each, after the 1e-5 rule
  std::vector<int> hands_[2];
  std::vector<RefNode> nodes_;
  // Per OOP hand i and IP hand j at [i * n_ip + j]: 1 when the hands can meet.
  std::vector<uint8_t> can_meet_;
  // River only, same layout: +1 OOP wins, -1 IP wins, 0 split.
  std::vector<int8_t> showdown_;
  double pair_weight_ = 0;
  Strategy solved_;
  bool has_solved_ = false;
};

// One node of the bet-line tree as add_line builds it: children by descending
// amount, the fold (-1) last.
struct LineNode {
  std::map<double, std::unique_ptr<LineNode>, std::greater<double>> children;
  int player = 0, street = 0, bets = 0;
  double amount = 0;
};

// add_line: every word is the acting player's total commitment; a new bet gets
// its call and fold answers, a first check its check-back; a call or check-back
// ends the street and OOP opens the next one. Throws std::invalid_argument on an
// amount below the one before it.
void InsertLine(LineNode& root, const std::vector<double>& line);

// "AcAd 4c4d:0.5 KhKs" -> 1326 weights in ComboIndex order (1 when no weight is
// given). Throws std::invalid_argument on a malformed word.
std::vector<double> RangeFromText(const std::string& text);
// Hand classes ("AA", "T9s", "AKo", optionally ":weight") -> every combination
// of a class at the class's weight (w when none is given), in ComboIndex order:
// ranges that look the same under any renaming of the suits.
std::vector<double> ClassRange(const std::vector<std::string>& classes, double w = 1.0);
// "Kc7d2h3s4c" or "Kc 7d 2h" -> mask. Throws std::invalid_argument.
CardMask BoardFromText(const std::string& text);
// ComboIndex of a two-card text such as "AhKd".
int ComboFromText(const std::string& text);

// A spot from its parts: the board as BoardFromText reads it, the ranges as
// RangeFromText (MakeSpot) or ClassRange (MakeClassSpot) read them.
Spot MakeSpot(const std::string& board, const std::string& oop_hands, const std::string& ip_hands,
              double pot, std::vector<std::vector<double>> lines);
Spot MakeClassSpot(const std::string& board, const std::vector<std::string>& oop_classes,
                   const std::vector<std::string>& ip_classes, double pot,
                   std::vector<std::vector<double>> lines);

// The engine's set-up lines for a spot: both set_range lines (1328 words, the
// weights in HandOrder), set_board, set_pot, clear_lines and one add_line per
// line; optionally set_isomorphism 0 0 first (for ranges that are not symmetric
// under suit renaming on a flop). Needs the combination tables to be built.
std::vector<std::string> EngineCommands(const Spot& spot, bool isomorphism_off = false);
// The same joined by LF (with a final LF), ready for RunLines or a script.
std::string EngineScript(const Spot& spot, bool isomorphism_off = false);

}  // namespace reference_game
