#pragma once
#include <cstdint>
#include <vector>

#include "cards/card.h"
#include "platform/isa_dispatch.h"

// Per-board hand-strength orders for the showdown kernels: a board's hands
// (those of its parent's list that avoid the board) sorted weakest first, equal
// hands grouped, and, for a board that stands for several suit-isomorphic
// cards, mapped to the parent's hands of every card it stands for. The deal
// records are filled from these by the tree (tree/showdown_order.h).

// Which hand of an ordering had no suit image in the parent list.
struct IsomorphFault {
  CardMask hand = 0;
  CardMask image = 0;
};

// The evaluation and ordering per instruction set, one table of them per build
// (Kernels<ShowdownPrepKernels>() is the one in use).
struct ShowdownPrepKernels {
  // values[i] = the HandValue of the board plus hands[i]; 0xFFFFFFFF (-1 as a
  // signed value) for an empty hand or one that touches the board.
  void (*EvaluateCombosOnBoard)(std::vector<uint32_t>& values,
                                const std::vector<CardMask>& hands, CardMask board);

  // The ordering of one board. The parent's hands that avoid the board are
  // sorted by value (on a five-card board by value, then by a combination key
  // that puts the suit images of a hand at matching places), ties kept in
  // parent order; hands, values and card list 0 get them in that order, and
  // card list j (1 <= j < weight) each hand's parent index with the suit of
  // record_card exchanged with that suit + j. False, with the fault, when such
  // an image is missing.
  bool (*OrderBoardHands)(CardMask board, int record_card, int weight,
                          const std::vector<CardMask>& parent_hands,
                          const std::vector<int16_t>& parent_map, std::vector<CardMask>& hands,
                          std::vector<uint32_t>& values,
                          std::vector<std::vector<int16_t>>& card_lists, IsomorphFault& fault);
};
TDX_KERNEL_TABLES(ShowdownPrepKernels)

// The ordering of one board by the kernels in use (ShowdownPrepKernels::
// OrderBoardHands) for the card `card` standing for `weight` suits. Refuses
// with the reason "isomorph error: <board> | <hand> | <image> " (each card as
// rank and lower-case suit followed by a blank) when the suit image of a hand is
// missing from the parent list; nothing is written through such an index.
void OrderBoardHandsOrRefuse(CardMask board, uint32_t card, int32_t weight,
                             const std::vector<CardMask>& parent_hands,
                             const std::vector<int16_t>& parent_map, std::vector<CardMask>& hands,
                             std::vector<uint32_t>& values,
                             std::vector<std::vector<int16_t>>& card_lists);

// hand_cards[i] = the low card of hands[i] in the low byte, the high card in
// the high byte (0xFFFF for an empty mask). True when every hand holds two
// cards of the deck, so that both bytes are card numbers.
bool FillHandCards(const std::vector<CardMask>& hands, std::vector<uint16_t>& hand_cards);
