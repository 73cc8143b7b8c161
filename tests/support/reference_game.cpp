#include "support/reference_game.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "cards/combo_tables.h"
#include "cards/poker_reference.h"

namespace reference_game {
namespace {

constexpr int kRiverStreet = 3;

// The two cards of every ComboIndex, from the numbering rule hi * (hi - 1) / 2 + lo.
struct ComboCards {
  int lo[kReferenceComboCount];
  int hi[kReferenceComboCount];
  ComboCards() {
    for (int h = 1; h < 52; ++h)
      for (int l = 0; l < h; ++l) {
        const int index = h * (h - 1) / 2 + l;
        lo[index] = l;
        hi[index] = h;
      }
  }
};
const ComboCards& Cards() {
  static const ComboCards cards;
  return cards;
}
CardMask ComboMask(int combo) {
  return (CardMask{1} << Cards().lo[combo]) | (CardMask{1} << Cards().hi[combo]);
}

int ParseOneCard(const std::string& text, size_t at) {
  static const std::string kRanks = "23456789TJQKA", kSuits = "CDHS";
  if (at + 2 > text.size()) throw std::invalid_argument("bad card text: " + text);
  const size_t rank =
      kRanks.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[at]))));
  const size_t suit =
      kSuits.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[at + 1]))));
  if (rank == std::string::npos || suit == std::string::npos)
    throw std::invalid_argument("bad card text: " + text);
  return 13 * static_cast<int>(suit) + static_cast<int>(rank);
}

// Cards written together or separated by blanks; no card twice.
CardMask ParseCards(const std::string& text) {
  CardMask mask = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    const int card = ParseOneCard(text, at);
    if (mask & (CardMask{1} << card)) throw std::invalid_argument("repeated card: " + text);
    mask |= CardMask{1} << card;
    at += 2;
  }
  return mask;
}

// Strength of two hole cards on a five-card board; larger is stronger.
uint32_t HandStrength(CardMask board, int combo) {
  int cards[7];
  int n = 0;
  for (CardMask m = board; m; m &= m - 1) cards[n++] = __builtin_ctzll(m);
  cards[n++] = Cards().lo[combo];
  cards[n++] = Cards().hi[combo];
  return poker_reference::EncodeRefKey(poker_reference::RefBest(cards, n));
}

void Flatten(const LineNode& line_node, int parent, double key, int start_street, double pot,
             std::vector<RefNode>& out) {
  const int index = static_cast<int>(out.size());
  out.emplace_back();
  RefNode& node = out.back();
  node.parent = parent;
  node.street = line_node.street;
  node.amount = line_node.amount;
  if (!line_node.children.empty()) {
    node.kind = RefNode::kDecision;
    node.player = line_node.player;
    if (start_street + line_node.street > kRiverStreet)
      throw std::invalid_argument("invalid line: a decision beyond the river");
  } else {
    node.kind = key < 0 ? RefNode::kFold : RefNode::kShowdown;
    node.player = key < 0 ? out[parent].player : -1;
    node.value = pot / 2 + line_node.amount;
  }
  if (parent >= 0) {
    out[parent].children.push_back(index);
    out[parent].keys.push_back(key);
  }
  for (const auto& [child_key, child] : line_node.children)
    Flatten(*child, index, child_key, start_street, pot, out);
}

std::string FormatNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string CardName(int card) {
  static const char kRanks[] = "23456789TJQKA", kSuits[] = "cdhs";
  return {kRanks[card % 13], kSuits[card / 13]};
}

}  // namespace

void InsertLine(LineNode& root, const std::vector<double>& line) {
  LineNode* node = &root;
  int player = 0, street = 0, bets = 0;
  bool after_check = false;
  double previous = 0.0;
  for (const double amount : line) {
    if (!(amount >= previous)) throw std::invalid_argument("amount below the previous one");
    auto& slot = node->children[amount];
    const bool is_new = !slot;
    if (is_new) slot = std::make_unique<LineNode>();
    LineNode* child = slot.get();
    if (amount > previous) {
      ++bets;
      player ^= 1;
      previous = amount;
      after_check = false;
    } else if (bets == 0 && !after_check) {
      player ^= 1;
      after_check = true;
    } else {
      ++street;
      bets = 0;
      after_check = false;
      player = 0;
    }
    child->street = street;
    child->player = player;
    child->bets = bets;
    child->amount = amount;
    if (is_new && (bets > 0 || after_check)) {
      auto& answer = child->children[amount];
      if (!answer) {
        answer = std::make_unique<LineNode>();
        answer->amount = amount;
        answer->street = street;
      }
      if (bets > 0) {
        auto& fold = child->children[-1.0];
        if (!fold) {
          fold = std::make_unique<LineNode>();
          fold->amount = node->amount;  // the folder's commitment before the bet
          fold->street = street;
        }
      }
    }
    node = child;
  }
}

// Per decision node, per hand of the acting player's list and action.
struct ReferenceGame::LocalProfile {
  std::vector<std::vector<double>> probs;
};

ReferenceGame::ReferenceGame(const Spot& spot) : board_(spot.board), pot_(spot.pot) {
  const int board_cards = CardCount(board_);
  if (board_cards < 3 || board_cards > 5 || (board_ >> 52) != 0)
    throw std::invalid_argument("the board must hold 3 to 5 cards");
  for (int p = 0; p < 2; ++p) {
    if (spot.ranges[p].size() != kReferenceComboCount)
      throw std::invalid_argument("a range must hold 1326 weights");
    weights_[p] = spot.ranges[p];
    for (double& w : weights_[p])
      if (!(w >= 1e-5)) w = 0.0;
    for (int c = 0; c < kReferenceComboCount; ++c)
      if (weights_[p][c] > 0 && !(ComboMask(c) & board_)) hands_[p].push_back(c);
  }

  LineNode root;
  for (const auto& line : spot.lines) InsertLine(root, line);
  if (root.children.empty()) throw std::invalid_argument("lines not set");
  const int start_street = board_cards - 2;  // 1 flop, 2 turn, 3 river
  Flatten(root, -1, 0.0, start_street, pot_, nodes_);

  const size_t n0 = hands_[0].size(), n1 = hands_[1].size();
  can_meet_.assign(n0 * n1, 0);
  for (size_t i = 0; i < n0; ++i)
    for (size_t j = 0; j < n1; ++j)
      if (!(ComboMask(hands_[0][i]) & ComboMask(hands_[1][j]))) {
        can_meet_[i * n1 + j] = 1;
        pair_weight_ += weights_[0][hands_[0][i]] * weights_[1][hands_[1][j]];
      }
  if (!(pair_weight_ > 0)) throw std::invalid_argument("no pair of hands can meet");

  if (board_cards == 5) {
    std::vector<uint32_t> strength[2];
    for (int p = 0; p < 2; ++p)
      for (int c : hands_[p]) strength[p].push_back(HandStrength(board_, c));
    showdown_.assign(n0 * n1, 0);
    for (size_t i = 0; i < n0; ++i)
      for (size_t j = 0; j < n1; ++j)
        showdown_[i * n1 + j] = strength[0][i] > strength[1][j]   ? 1
                                : strength[0][i] < strength[1][j] ? -1
                                                                  : 0;
  }
}

Strategy ReferenceGame::UniformStrategy() const {
  Strategy s;
  s.probs.resize(nodes_.size());
  s.action_counts.assign(nodes_.size(), 0);
  for (size_t n = 0; n < nodes_.size(); ++n) {
    const int actions = static_cast<int>(nodes_[n].children.size());
    s.action_counts[n] = actions;
    if (actions)
      s.probs[n].assign(static_cast<size_t>(kReferenceComboCount) * actions, 1.0 / actions);
  }
  return s;
}

void ReferenceGame::RequireRiver() const {
  if (CardCount(board_) != 5) throw std::logic_error("tree values need a river board");
}

ReferenceGame::LocalProfile ReferenceGame::ToLocal(const Strategy& profile) const {
  if (profile.probs.size() != nodes_.size() || profile.action_counts.size() != nodes_.size())
    throw std::invalid_argument("the strategy does not fit the tree");
  LocalProfile local;
  local.probs.resize(nodes_.size());
  for (size_t n = 0; n < nodes_.size(); ++n) {
    const RefNode& node = nodes_[n];
    if (node.kind != RefNode::kDecision) continue;
    const int actions = static_cast<int>(node.children.size());
    if (profile.action_counts[n] != actions ||
        profile.probs[n].size() != static_cast<size_t>(kReferenceComboCount) * actions)
      throw std::invalid_argument("the strategy does not fit the tree");
    const auto& hands = hands_[node.player];
    auto& row = local.probs[n];
    row.resize(hands.size() * actions);
    for (size_t h = 0; h < hands.size(); ++h)
      for (int a = 0; a < actions; ++a)
        row[h * actions + a] = profile.At(static_cast<int>(n), hands[h], a);
  }
  return local;
}

// Per traverser hand: the sum over the opponent hands it can meet of their reach
// times the traverser's payoff at this end node.
void ReferenceGame::TerminalValues(int traverser, const RefNode& node,
                                   const std::vector<double>& opp_reach,
                                   std::vector<double>& out) const {
  const size_t n0 = hands_[0].size(), n1 = hands_[1].size();
  const bool fold = node.kind == RefNode::kFold;
  const double fold_value = node.player == traverser ? -node.value : node.value;
  const double showdown_value = traverser == kOop ? node.value : -node.value;
  for (size_t i = 0; i < n0; ++i)
    for (size_t j = 0; j < n1; ++j) {
      const size_t pair = i * n1 + j;
      if (!can_meet_[pair]) continue;
      const size_t mine = traverser == kOop ? i : j, theirs = traverser == kOop ? j : i;
      out[mine] += opp_reach[theirs] * (fold ? fold_value : showdown_value * showdown_[pair]);
    }
}

std::vector<double> ReferenceGame::Walk(int traverser, int node_index,
                                        const std::vector<double>& opp_reach,
                                        const LocalProfile& profile, bool best_response) const {
  const RefNode& node = nodes_[node_index];
  const size_t mine = hands_[traverser].size();
  std::vector<double> out(mine, 0.0);
  if (node.kind != RefNode::kDecision) {
    TerminalValues(traverser, node, opp_reach, out);
    return out;
  }
  const size_t actions = node.children.size();
  const auto& row = profile.probs[node_index];
  if (node.player == traverser) {
    if (best_response) std::fill(out.begin(), out.end(), -std::numeric_limits<double>::infinity());
    for (size_t a = 0; a < actions; ++a) {
      const auto child = Walk(traverser, node.children[a], opp_reach, profile, best_response);
      for (size_t h = 0; h < mine; ++h)
        out[h] =
            best_response ? std::max(out[h], child[h]) : out[h] + row[h * actions + a] * child[h];
    }
  } else {
    std::vector<double> reach(opp_reach.size());
    for (size_t a = 0; a < actions; ++a) {
      for (size_t h = 0; h < reach.size(); ++h) reach[h] = opp_reach[h] * row[h * actions + a];
      const auto child = Walk(traverser, node.children[a], reach, profile, best_response);
      for (size_t h = 0; h < mine; ++h) out[h] += child[h];
    }
  }
  return out;
}

namespace {
double RootValue(const std::vector<double>& values, const std::vector<int>& hands,
                 const std::vector<double>& weights, double pair_weight) {
  double sum = 0;
  for (size_t h = 0; h < hands.size(); ++h) sum += weights[hands[h]] * values[h];
  return sum / pair_weight;
}

std::vector<double> HandWeights(const std::vector<int>& hands, const std::vector<double>& weights) {
  std::vector<double> out;
  for (int c : hands) out.push_back(weights[c]);
  return out;
}
}  // namespace

double ReferenceGame::RootWalkValue(int player, const Strategy& profile,
                                    bool best_response) const {
  RequireRiver();
  const auto local = ToLocal(profile);
  const auto values = Walk(player, 0, HandWeights(hands_[player ^ 1], weights_[player ^ 1]),
                           local, best_response);
  return RootValue(values, hands_[player], weights_[player], pair_weight_);
}

double ReferenceGame::GameValue(int player, const Strategy& profile) const {
  return RootWalkValue(player, profile, false);
}

double ReferenceGame::BestResponseValue(int player, const Strategy& profile) const {
  return RootWalkValue(player, profile, true);
}

double ReferenceGame::Exploitability(const Strategy& profile) const {
  return 0.5 * (BestResponseValue(kOop, profile) + BestResponseValue(kIp, profile) -
                GameValue(kOop, profile) - GameValue(kIp, profile));
}

// CFR+ state: cumulative regrets (kept non-negative) and the weighted strategy
// sums, both per decision node in the acting player's hand-list order.
struct ReferenceGame::CfrRun {
  const ReferenceGame& game;
  std::vector<std::vector<double>> regrets, sums;
  double weight = 0;  // the iteration number: linear averaging

  explicit CfrRun(const ReferenceGame& g) : game(g) {
    regrets.resize(g.nodes_.size());
    sums.resize(g.nodes_.size());
    for (size_t n = 0; n < g.nodes_.size(); ++n) {
      const RefNode& node = g.nodes_[n];
      if (node.kind != RefNode::kDecision) continue;
      regrets[n].assign(g.hands_[node.player].size() * node.children.size(), 0.0);
      sums[n].assign(regrets[n].size(), 0.0);
    }
  }

  // Regret matching: each action in proportion to its positive regret; uniform
  // when no regret is positive.
  std::vector<double> Current(int node_index) const {
    const size_t actions = game.nodes_[node_index].children.size();
    const auto& r = regrets[node_index];
    std::vector<double> sigma(r.size());
    for (size_t h = 0; h < r.size() / actions; ++h) {
      double total = 0;
      for (size_t a = 0; a < actions; ++a) total += std::max(r[h * actions + a], 0.0);
      for (size_t a = 0; a < actions; ++a)
        sigma[h * actions + a] =
            total > 0 ? std::max(r[h * actions + a], 0.0) / total : 1.0 / actions;
    }
    return sigma;
  }

  std::vector<double> Walk(int traverser, int node_index, const std::vector<double>& own_reach,
                           const std::vector<double>& opp_reach) {
    const RefNode& node = game.nodes_[node_index];
    const size_t mine = game.hands_[traverser].size();
    std::vector<double> out(mine, 0.0);
    if (node.kind != RefNode::kDecision) {
      game.TerminalValues(traverser, node, opp_reach, out);
      return out;
    }
    const size_t actions = node.children.size();
    const auto sigma = Current(node_index);
    if (node.player == traverser) {
      std::vector<std::vector<double>> child_values(actions);
      std::vector<double> reach(mine);
      for (size_t a = 0; a < actions; ++a) {
        for (size_t h = 0; h < mine; ++h) reach[h] = own_reach[h] * sigma[h * actions + a];
        child_values[a] = Walk(traverser, node.children[a], reach, opp_reach);
        for (size_t h = 0; h < mine; ++h) out[h] += sigma[h * actions + a] * child_values[a][h];
      }
      auto& r = regrets[node_index];
      auto& s = sums[node_index];
      for (size_t h = 0; h < mine; ++h)
        for (size_t a = 0; a < actions; ++a) {
          const size_t k = h * actions + a;
          r[k] = std::max(r[k] + child_values[a][h] - out[h], 0.0);
          s[k] += weight * own_reach[h] * sigma[k];
        }
    } else {
      std::vector<double> reach(opp_reach.size());
      for (size_t a = 0; a < actions; ++a) {
        for (size_t h = 0; h < reach.size(); ++h) reach[h] = opp_reach[h] * sigma[h * actions + a];
        const auto child = Walk(traverser, node.children[a], own_reach, reach);
        for (size_t h = 0; h < mine; ++h) out[h] += child[h];
      }
    }
    return out;
  }

  Strategy Average() const {
    Strategy s = game.UniformStrategy();
    for (size_t n = 0; n < game.nodes_.size(); ++n) {
      const RefNode& node = game.nodes_[n];
      if (node.kind != RefNode::kDecision) continue;
      const size_t actions = node.children.size();
      const auto& hands = game.hands_[node.player];
      for (size_t h = 0; h < hands.size(); ++h) {
        double total = 0;
        for (size_t a = 0; a < actions; ++a) total += sums[n][h * actions + a];
        if (!(total > 0)) continue;  // never reached: stays uniform
        for (size_t a = 0; a < actions; ++a)
          s.Set(static_cast<int>(n), hands[h], static_cast<int>(a),
                sums[n][h * actions + a] / total);
      }
    }
    return s;
  }
};

const Strategy& ReferenceGame::SolveCfr(int iterations, std::vector<double>* trace,
                                        int trace_every) {
  RequireRiver();
  CfrRun run(*this);
  const std::vector<double> reach[2] = {HandWeights(hands_[0], weights_[0]),
                                        HandWeights(hands_[1], weights_[1])};
  for (int t = 1; t <= iterations; ++t) {
    run.weight = t;
    for (int player : {kIp, kOop}) run.Walk(player, 0, reach[player], reach[player ^ 1]);
    if (trace && trace_every > 0 && t % trace_every == 0)
      trace->push_back(Exploitability(run.Average()));
  }
  solved_ = run.Average();
  has_solved_ = true;
  return solved_;
}

const Strategy& ReferenceGame::Solved() const {
  if (!has_solved_) throw std::logic_error("SolveCfr has not run");
  return solved_;
}

double ReferenceGame::CheckDownEv(int player) const {
  int at = 0;
  while (nodes_[at].kind == RefNode::kDecision) {
    if (nodes_[at].children.size() != 1) throw std::logic_error("not a check-down tree");
    at = nodes_[at].children[0];
  }
  if (nodes_[at].kind != RefNode::kShowdown) throw std::logic_error("not a check-down tree");
  const double value = nodes_[at].value;

  std::vector<int> deck;
  for (int c = 0; c < 52; ++c)
    if (!(board_ & (CardMask{1} << c))) deck.push_back(c);
  const int missing = 5 - CardCount(board_);
  // Runouts per pair of hands: the undealt cards less the four hole cards.
  const double left = static_cast<double>(deck.size()) - 4;
  const double runouts_per_pair = missing == 0 ? 1 : missing == 1 ? left : left * (left - 1) / 2;

  const size_t n0 = hands_[0].size(), n1 = hands_[1].size();
  std::vector<uint32_t> strength[2] = {std::vector<uint32_t>(n0), std::vector<uint32_t>(n1)};
  double total = 0;  // sum over pairs and runouts of w0 * w1 * (OOP's result)
  auto one_runout = [&](CardMask runout) {
    const CardMask full = board_ | runout;
    for (int p = 0; p < 2; ++p)
      for (size_t h = 0; h < hands_[p].size(); ++h)
        if (!(ComboMask(hands_[p][h]) & runout)) strength[p][h] = HandStrength(full, hands_[p][h]);
    for (size_t i = 0; i < n0; ++i) {
      if (ComboMask(hands_[0][i]) & runout) continue;
      for (size_t j = 0; j < n1; ++j) {
        if (!can_meet_[i * n1 + j] || (ComboMask(hands_[1][j]) & runout)) continue;
        const int result = strength[0][i] > strength[1][j]   ? 1
                           : strength[0][i] < strength[1][j] ? -1
                                                             : 0;
        total += weights_[0][hands_[0][i]] * weights_[1][hands_[1][j]] * result;
      }
    }
  };
  if (missing == 0) {
    one_runout(0);
  } else if (missing == 1) {
    for (int c : deck) one_runout(CardMask{1} << c);
  } else {
    for (size_t a = 0; a < deck.size(); ++a)
      for (size_t b = a + 1; b < deck.size(); ++b)
        one_runout((CardMask{1} << deck[a]) | (CardMask{1} << deck[b]));
  }
  const double oop = value * total / runouts_per_pair / pair_weight_;
  return player == kOop ? oop : -oop;
}

std::vector<double> RangeFromText(const std::string& text) {
  std::vector<double> range(kReferenceComboCount, 0.0);
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    const size_t colon = word.find(':');
    const std::string cards = word.substr(0, colon);
    double weight = 1.0;
    if (colon != std::string::npos) {
      size_t used = 0;
      try {
        weight = std::stod(word.substr(colon + 1), &used);
      } catch (const std::exception&) {
        throw std::invalid_argument("bad weight: " + word);
      }
      if (used != word.size() - colon - 1) throw std::invalid_argument("bad weight: " + word);
    }
    range[ComboFromText(cards)] = weight;
  }
  return range;
}

std::vector<double> ClassRange(const std::vector<std::string>& classes, double w) {
  static const std::string kRanks = "23456789TJQKA";
  std::vector<double> range(kComboCount, 0.0);
  for (const std::string& item : classes) {
    const size_t colon = item.find(':');
    const std::string name = item.substr(0, colon);
    const double weight = colon == std::string::npos ? w : std::stod(item.substr(colon + 1));
    const int a = static_cast<int>(kRanks.find(name[0]));
    const int b = static_cast<int>(kRanks.find(name[1]));
    const int high = std::max(a, b), low = std::min(a, b);
    int cls = 13 * high + low;                                      // pair or offsuit
    if (name.size() == 3 && name[2] == 's') cls = 13 * low + high;  // suited
    for (uint16_t combo : g_hand_class_combos[cls]) range[combo] = weight;
  }
  return range;
}

CardMask BoardFromText(const std::string& text) { return ParseCards(text); }

int ComboFromText(const std::string& text) {
  const CardMask mask = ParseCards(text);
  if (CardCount(mask) != 2) throw std::invalid_argument("not two cards: " + text);
  const int lo = __builtin_ctzll(mask), hi = 63 - __builtin_clzll(mask);
  return hi * (hi - 1) / 2 + lo;
}

namespace {

Spot SpotOf(const std::string& board, std::vector<double> oop_range, std::vector<double> ip_range,
            double pot, std::vector<std::vector<double>> lines) {
  Spot spot;
  spot.board = BoardFromText(board);
  spot.ranges[kOop] = std::move(oop_range);
  spot.ranges[kIp] = std::move(ip_range);
  spot.pot = pot;
  spot.lines = std::move(lines);
  return spot;
}

}  // namespace

Spot MakeSpot(const std::string& board, const std::string& oop_hands, const std::string& ip_hands,
              double pot, std::vector<std::vector<double>> lines) {
  return SpotOf(board, RangeFromText(oop_hands), RangeFromText(ip_hands), pot, std::move(lines));
}

Spot MakeClassSpot(const std::string& board, const std::vector<std::string>& oop_classes,
                   const std::vector<std::string>& ip_classes, double pot,
                   std::vector<std::vector<double>> lines) {
  return SpotOf(board, ClassRange(oop_classes), ClassRange(ip_classes), pot, std::move(lines));
}

std::vector<std::string> EngineCommands(const Spot& spot, bool isomorphism_off) {
  if (spot.pot != std::floor(spot.pot) || std::fabs(spot.pot) > 2147483647.0)
    throw std::invalid_argument("set_pot takes whole numbers");
  std::vector<std::string> commands;
  if (isomorphism_off) commands.push_back("set_isomorphism 0 0");
  static const char* const kPlayers[2] = {"OOP", "IP"};
  for (int p = 0; p < 2; ++p) {
    if (spot.ranges[p].size() != kReferenceComboCount)
      throw std::invalid_argument("a range must hold 1326 weights");
    std::string line = std::string("set_range ") + kPlayers[p];
    for (int order = 0; order < kComboCount; ++order)
      line.append(1, ' ').append(FormatNumber(spot.ranges[p][g_combo_by_hand_order[order]]));
    commands.push_back(line);
  }
  std::string board = "set_board";
  for (CardMask m = spot.board; m; m &= m - 1)
    board.append(1, ' ').append(CardName(__builtin_ctzll(m)));
  commands.push_back(board);
  commands.push_back("set_pot 0 0 " + std::to_string(static_cast<long long>(spot.pot)));
  commands.push_back("clear_lines");
  for (const auto& amounts : spot.lines) {
    std::string line = "add_line";
    for (double amount : amounts) line.append(1, ' ').append(FormatNumber(amount));
    commands.push_back(line);
  }
  return commands;
}

std::string EngineScript(const Spot& spot, bool isomorphism_off) {
  std::string script;
  for (const auto& line : EngineCommands(spot, isomorphism_off)) script += line + "\n";
  return script;
}

}  // namespace reference_game
