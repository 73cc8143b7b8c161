// The ordering of a board's hands and its suit-image check, compiled once per
// instruction set. Both builds compute the same order.
#include <algorithm>

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "cards/showdown_prep.h"
#include "cards/suit_isomorphism.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "showdown_prep.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

constexpr uint32_t kBlockedValue = 0xFFFFFFFFu;

inline int ComboIndexOfMask(CardMask mask) {
  return ComboIndexOfCards(__builtin_ctzll(mask), 63 - __builtin_clzll(mask));
}

// Values of the board plus each hand; n = board cards + 2 fixed per loop.
template <int n>
void EvaluateAll(CardMask board, const CardMask* hands, size_t count, uint32_t* values) {
  const HandBits board_bits = CardMaskToHandBits(board);
  for (size_t i = 0; i < count; ++i) {
    const CardMask hand = hands[i];
    values[i] = (hand == 0 || (hand & board) != 0)
                    ? kBlockedValue
                    : hand_eval_core::EvaluateCount(board_bits | CardMaskToHandBits(hand), n);
  }
}

void EvaluateInto(CardMask board, const CardMask* hands, size_t count, uint32_t* values) {
  switch (CardCount(board) + 2) {
    case 5:
      return EvaluateAll<5>(board, hands, count, values);
    case 6:
      return EvaluateAll<6>(board, hands, count, values);
    case 7:
      return EvaluateAll<7>(board, hands, count, values);
    default:
      for (size_t i = 0; i < count; ++i) {
        const CardMask hand = hands[i];
        values[i] = (hand == 0 || (hand & board) != 0)
                        ? kBlockedValue
                        : hand_eval_core::EvaluateCount(CardMaskToHandBits(board | hand),
                                                        CardCount(board | hand));
      }
  }
}

// Tie-break of equal river values: (13 * higher rank + lower rank) * 256, plus
// marks for the suits that have board cards, so that the suit images of a hand
// land at matching places in every isomorphic board.
inline uint32_t ComboKey(CardMask hand, CardMask board) {
  const int lo = __builtin_ctzll(hand), hi = 63 - __builtin_clzll(hand);
  // a: the higher-ranked card (for a pair the lower card number), b: the other.
  const bool hi_ranks_higher = CardRank(hi) > CardRank(lo);
  const int a = hi_ranks_higher ? hi : lo;
  const int b = hi_ranks_higher ? lo : hi;
  const int suit_a = CardSuit(a), suit_b = CardSuit(b);
  auto board_has = [board](int suit) { return ((board >> (13 * suit)) & 0x1FFF) != 0; };
  uint32_t key = static_cast<uint32_t>(13 * CardRank(a) + CardRank(b)) * 256;
  if (suit_a != suit_b) {
    if (board_has(suit_a)) key += 32 - 8 * suit_a;
    if (board_has(suit_b)) key += 4 - suit_b;
  } else {
    if (board_has(suit_a)) key += 4 - suit_a;
    key += 64;
  }
  return key;
}

void EvaluateCombosOnBoard(std::vector<uint32_t>& values, const std::vector<CardMask>& hands,
                           CardMask board) {
  values.resize(hands.size());
  EvaluateInto(board, hands.data(), hands.size(), values.data());
}

bool OrderBoardHands(CardMask board, int record_card, int weight,
                     const std::vector<CardMask>& parent_hands,
                     const std::vector<int16_t>& parent_map, std::vector<CardMask>& hands,
                     std::vector<uint32_t>& values,
                     std::vector<std::vector<int16_t>>& card_lists, IsomorphFault& fault) {
  const size_t n = parent_hands.size();
  std::vector<uint32_t> parent_values(n);
  EvaluateInto(board, parent_hands.data(), n, parent_values.data());

  // One 64-bit key per hand in play: value, tie-break, parent index. Sorting
  // the keys is the stable sort by (value, tie-break); blocked hands (value -1,
  // first in the order) are skipped before sorting instead of after.
  const bool river = CardCount(board) == 5;
  std::vector<uint64_t> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (parent_values[i] == kBlockedValue) continue;
    const uint64_t tie = river ? ComboKey(parent_hands[i], board) : 0;
    keys.push_back(static_cast<uint64_t>(parent_values[i]) << 32 | tie << 16 | i);
  }
  std::sort(keys.begin(), keys.end());

  const size_t m = keys.size();
  hands.resize(m);
  values.resize(m);
  card_lists.resize(static_cast<size_t>(weight));
  for (auto& list : card_lists) list.resize(m);
  const int suit = CardSuit(record_card);
  for (size_t k = 0; k < m; ++k) {
    const size_t i = keys[k] & 0xFFFF;
    const CardMask hand = parent_hands[i];
    hands[k] = hand;
    values[k] = parent_values[i];
    card_lists[0][k] = static_cast<int16_t>(i);
    for (int j = 1; j < weight; ++j) {
      const CardMask image = SwapSuits(hand, suit, suit + j);
      const int16_t index = parent_map[ComboIndexOfMask(image)];
      if (index < 0) {
        fault.hand = hand;
        fault.image = image;
        return false;
      }
      card_lists[j][k] = index;
    }
  }
  return true;
}

}  // namespace

const ShowdownPrepKernels kShowdownPrepKernels = {
    .EvaluateCombosOnBoard = EvaluateCombosOnBoard,
    .OrderBoardHands = OrderBoardHands,
};

}  // namespace isa_avx2 / isa_avx
