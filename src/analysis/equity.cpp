#include "analysis/equity.h"

#include <algorithm>
#include <cfloat>
#include <limits>
#include <numeric>

#include "cards/suit_isomorphism.h"
#include "solver/array_ops.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/terminal_kernels.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/node_path.h"
#include "tree/tree_records.h"

namespace {

constexpr double kQuietNan = std::numeric_limits<double>::quiet_NaN();

// A grouped river record maps combinations to hand groups; the equity needs
// the hands themselves.
std::vector<int16_t> PerHandComboMap(const std::vector<uint16_t>& hand_cards) {
  std::vector<int16_t> map(kComboCount, static_cast<int16_t>(-1));
  for (size_t i = 0; i < hand_cards.size(); ++i) {
    const int low = hand_cards[i] & 0xFF, high = hand_cards[i] >> 8;
    if (low < kCardCount && high < kCardCount && low != high)
      map[ComboIndexOfCards(low, high)] = static_cast<int16_t>(i);
  }
  return map;
}

}  // namespace

BoardHands FindBoardHands(const SolverState& state, int turn_card, int river_card) {
  BoardHands board;
  const DealTree& deal = *state.deal_tree;
  CanonicalizeCombo(state, turn_card, river_card, board.turn_slot, board.river_slot);
  if (board.river_slot >= 0) {
    const RiverDealRecord& river =
        deal.turn_records[static_cast<size_t>(board.turn_slot)]
            .river_records[static_cast<size_t>(board.river_slot)];
    board.hand_cards = &river.hand_cards;
    if (river.hand_group_flag != 0) {
      board.own_map = PerHandComboMap(river.hand_cards);
      board.combo_map = board.own_map.data();
    } else {
      board.combo_map = river.combo_map.data();
    }
    board.runouts = 1.0;
  } else if (board.turn_slot >= 0) {
    const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(board.turn_slot)];
    board.hand_cards = &turn.hand_cards;
    board.combo_map = turn.combo_map.data();
    board.runouts = kTurnRunouts;
  } else {
    board.hand_cards = &deal.hand_cards;
    board.combo_map = deal.combo_map.data();
    board.runouts = kFlopRunouts;
  }
  return board;
}

namespace {

// The per-hand view of a river record: the equity sums every hand on its own,
// even on a board whose solving passes work per hand group.
HandGroupView PerHandView(const RiverDealRecord& record) {
  HandGroupView view = record.GroupView();
  view.hand_group_flag = 0;
  return view;
}

// Showdown sums of one river board: +1 per opponent weight beaten, -1 per
// weight that wins, through the board's strength order.
void RiverShowdownSums(const RiverDealRecord& river, const NumArray& opp, NumArray& out) {
  const int32_t n = river.HandCount();
  if (!opp.HasData()) {
    out.Free();
    out.count = n;
    return;
  }
  out.Resize(n);
  Kernels<TerminalKernels>().ComputeShowdownValues(
      out.data, opp.data, n, river.strength_groups.data(),
      static_cast<int32_t>(river.strength_groups.size()), river.hand_cards.data(), 1.0);
}

// The turn board's sums: every river card's showdown sums added through the
// card's hand list, then the mean over the 44 rivers a matchup meets on.
void TurnRunoutSums(const TurnDealRecord& turn, const NumArray& opp, NumArray& out) {
  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  out.AssignZeros(turn.HandCount());
  for (const RiverDealRecord& river : turn.river_records) {
    const HandGroupView view = PerHandView(river);
    NumArray child_in, child_out;
    maps.GatherSumHandGroups(view, child_in, opp);
    RiverShowdownSums(river, child_in, child_out);
    maps.ScatterAddHandGroups(view, out, child_out);
  }
  Kernels<ArrayOpsKernels>().ScaleArray(out, 1.0 / kTurnRunouts);
}

// The flop board's sums: every turn card's sums added through the card's hand
// list, then the mean over the 45 turns a matchup meets on.
void FlopRunoutSums(const DealTree& deal, const NumArray& opp, NumArray& out) {
  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  out.AssignZeros(static_cast<int32_t>(deal.hand_cards.size()));
  for (const TurnDealRecord& turn : deal.turn_records) {
    if (turn.card_lists.empty()) continue;
    const std::vector<int16_t>& first = turn.card_lists[0];
    const int32_t n = turn.HandCount();
    NumArray child_in, child_out;
    if (opp.HasData()) {
      child_in.Resize(n);
      for (int32_t k = 0; k < n; ++k) child_in.data[k] = opp.data[first[static_cast<size_t>(k)]];
    } else {
      child_in.count = n;
    }
    TurnRunoutSums(turn, child_in, child_out);
    for (const std::vector<int16_t>& list : turn.card_lists)
      maps.ScatterAddCombos(out, child_out, list.data());
  }
  Kernels<ArrayOpsKernels>().ScaleArray(out, 1.0 / 45.0);
}

}  // namespace

void ComputeRunoutEquity(const SolverState& state, int32_t turn_slot, int32_t river_slot,
                         const NumArray& opp, NumArray& out) {
  const DealTree& deal = *state.deal_tree;
  if (turn_slot < 0) return FlopRunoutSums(deal, opp, out);
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(turn_slot)];
  if (river_slot < 0) return TurnRunoutSums(turn, opp, out);
  const RiverDealRecord& river = turn.river_records[static_cast<size_t>(river_slot)];
  // The opponent's weights come per hand; a grouped record's gather would sum them.
  RiverShowdownSums(river, opp, out);
}

void ComputeEquities(SolverState* state, Player player, int turn_card, int river_card,
                     const double* own, const double* opp, double* equity, double* weight) {
  if (!state || !state->deal_tree) return;
  AllocateStoreValues(*state);  // a refusal leaves the tree not ready; equities go on

  const BoardHands board = FindBoardHands(*state, turn_card, river_card);
  const bool isomorphism = (state->flags & ISOMORPHISM_ON) != 0;
  const CardMask flop = state->flop_mask;
  const CardMask turn_bit = turn_card >= 0 ? CardBit(turn_card) : 0;
  const CardMask river_bit = river_card >= 0 ? CardBit(river_card) : 0;

  // Both ranges in the tree's suits.
  std::vector<double> own_copy(own, own + kComboCount), opp_copy(opp, opp + kComboCount);
  if (isomorphism) {
    PermuteComboArrayBySuits(flop, turn_bit, river_bit, own_copy.data(), own, false);
    PermuteComboArrayBySuits(flop, turn_bit, river_bit, opp_copy.data(), opp, false);
  }

  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  const int32_t n = static_cast<int32_t>(board.hand_cards->size());
  NumArray opp_hands, own_hands, sums, totals;
  opp_hands.count = n;
  own_hands.count = n;
  maps.CompactCombosToHands(opp_hands, opp_copy.data(), board.combo_map);
  maps.CompactCombosToHands(own_hands, own_copy.data(), board.combo_map);
  ComputeRunoutEquity(*state, board.turn_slot, board.river_slot, opp_hands, sums);

  // T(h): the opponent's weight that h can meet, from per-card sums.
  totals.Resize(n);
  Kernels<TerminalKernels>().ComputeBlockedReach(totals.data, opp_hands.data, n,
                                                 board.hand_cards->data(), 1.0);
  NumArray hand_equity(n), hand_weight(n);
  for (int32_t h = 0; h < n; ++h) {
    const double t = totals.data[h];
    hand_equity.data[h] = t > 0.0 && sums.HasData() ? sums.data[h] / t : 0.0;
    hand_weight.data[h] = (board.runouts * t) * own_hands.data[h];
  }

  double canonical[2][kComboCount];
  maps.ExpandHandsToCombos(canonical[0], hand_equity, board.combo_map, true);
  maps.ExpandHandsToCombos(canonical[1], hand_weight, board.combo_map, true);
  if (isomorphism) {
    PermuteComboArrayBySuits(flop, turn_bit, river_bit, equity, canonical[0], true);
    PermuteComboArrayBySuits(flop, turn_bit, river_bit, weight, canonical[1], true);
  } else {
    std::copy(canonical[0], canonical[0] + kComboCount, equity);
    std::copy(canonical[1], canonical[1] + kComboCount, weight);
  }

  const std::vector<double>& build_range = state->ranges[player];
  for (int c = 0; c < kComboCount; ++c) {
    if (static_cast<size_t>(c) < build_range.size() && build_range[c] != 0.0) continue;
    equity[c] = kQuietNan;
    weight[c] = kQuietNan;
  }
}

std::vector<uint32_t> SortCombosByEquity(std::string path) {
  if (path == "r") path = "r:0";
  SolverState* state = g_solver_state.get();
  const ResolvedPath resolved = ResolveNodePath(state, path);
  const Player player = resolved.node ? resolved.node->player : PLAYER_OOP;

  std::vector<double> ones(kComboCount, 1.0), equity(kComboCount, 0.0),
      weight(kComboCount, 0.0);
  ComputeEquities(state, player, resolved.turn_card, resolved.river_card, ones.data(),
                  ones.data(), equity.data(), weight.data());

  // An undefined equity sorts below every defined one, and is then cut.
  constexpr double kUndefinedKey = -DBL_MAX;
  std::vector<double> key(kComboCount);
  for (int p = 0; p < kComboCount; ++p) {
    const double e = equity[g_combo_by_hand_order[p]];
    key[p] = e != e ? kUndefinedKey : e;
  }
  std::vector<uint32_t> order(kComboCount);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return key[a] > key[b]; });
  const auto cut = std::find_if(order.begin(), order.end(),
                                [&](uint32_t p) { return key[p] == kUndefinedKey; });
  order.erase(cut, order.end());
  return order;
}
