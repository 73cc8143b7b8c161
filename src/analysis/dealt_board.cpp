#include "analysis/dealt_board.h"

#include <algorithm>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/suit_isomorphism.h"
#include "solver/solver_state.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

CardMask BitOrZero(int32_t card) { return card >= 0 ? CardBit(card) : 0; }

void MoveComboValues(const SolverState& state, const DealtBoard& board, double* out,
                     const double* in, bool to_real) {
  if (!(state.flags & ISOMORPHISM_ON)) {
    std::copy(in, in + kComboCount, out);
    return;
  }
  PermuteComboArrayBySuits(state.flop_mask, BitOrZero(board.turn_card),
                           BitOrZero(board.river_card), out, in, to_real);
}

}  // namespace

bool ResolveDealtBoard(const SolverState& state, const TreeNode& node, int32_t turn_card,
                       int32_t river_card, DealtBoard& board) {
  board = DealtBoard();
  const DealTree* deal = state.deal_tree.get();
  if (!deal) return false;
  // A store knows the boards of its own street only.
  if (node.street < STREET_TURN) turn_card = -1;
  if (node.street < STREET_RIVER || turn_card < 0) river_card = -1;
  board.turn_card = turn_card;
  board.river_card = river_card;
  CanonicalizeCombo(state, turn_card, river_card, board.turn_slot, board.river_slot);

  if (node.street < STREET_TURN) {
    board.combo_map = deal->combo_map.data();
    board.hand_count = static_cast<int32_t>(deal->hands.size());
    return deal->combo_map.size() == static_cast<size_t>(kComboCount);
  }
  if (board.turn_slot < 0) return false;
  const TurnDealRecord& turn = deal->turn_records[static_cast<size_t>(board.turn_slot)];
  if (node.street < STREET_RIVER) {
    board.combo_map = turn.combo_map.data();
    board.hand_count = turn.HandCount();
    return turn.combo_map.size() == static_cast<size_t>(kComboCount);
  }
  if (board.river_slot < 0) return false;
  const RiverDealRecord& river = turn.river_records[static_cast<size_t>(board.river_slot)];
  board.combo_map = river.combo_map.data();
  board.hand_count = static_cast<int32_t>(turn.river_hand_counts[static_cast<size_t>(board.river_slot)]);
  return river.combo_map.size() == static_cast<size_t>(kComboCount);
}

void ComboValuesToReal(const SolverState& state, const DealtBoard& board, double* out,
                       const double* in) {
  MoveComboValues(state, board, out, in, true);
}

void ComboValuesToCanonical(const SolverState& state, const DealtBoard& board, double* out,
                            const double* in) {
  MoveComboValues(state, board, out, in, false);
}
