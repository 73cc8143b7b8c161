#include "tree/showdown_order.h"

#include <algorithm>

#include "cards/combo_tables.h"
#include "cards/showdown_prep.h"
#include "protocol/fail.h"
#include "tree/deal_tree.h"

namespace {

constexpr int16_t kNoHand = -1;

inline int ComboIndexOfMask(CardMask mask) {
  return ComboIndexOfCards(__builtin_ctzll(mask), 63 - __builtin_clzll(mask));
}

void CloseHandGroup(RiverDealRecord& river, const int* counters, int32_t size, uint32_t value) {
  river.group_sizes.push_back(static_cast<int16_t>(size));
  river.group_values.push_back(value);
  for (int c = 0; c < kCardCount; ++c)
    river.card_weights.push_back(static_cast<double>(counters[c]) / size);
}

// Hand groups of a grouped river record: consecutive runs of the hand list.
void BuildHandGroups(RiverDealRecord& river) {
  const size_t n = river.hands.size();
  river.group_sizes.clear();
  river.group_values.clear();
  river.card_weights.clear();
  int counters[kCardCount] = {};
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      bool opens = river.hand_values[i] != river.hand_values[start];
      // Flag 2: hands of different value that share a card stay together.
      if (river.hand_group_flag == 2 && (river.hands[i] & river.hands[i - 1]) != 0) opens = false;
      if (opens) {
        CloseHandGroup(river, counters, static_cast<int32_t>(i - start), river.hand_values[i]);
        std::fill(counters, counters + kCardCount, 0);
        start = i;
      }
    }
    ++counters[__builtin_ctzll(river.hands[i])];
    ++counters[63 - __builtin_clzll(river.hands[i])];
  }
  if (n > 0) CloseHandGroup(river, counters, static_cast<int32_t>(n - start), river.hand_values[n - 1]);
  int16_t group = 0;
  size_t position = 0;
  for (int16_t size : river.group_sizes) {
    for (int16_t k = 0; k < size; ++k, ++position)
      river.combo_map[ComboIndexOfMask(river.hands[position])] = group;
    ++group;
  }
}

void PrepareRiverRecord(RiverDealRecord& river, const TurnDealRecord& turn) {
  OrderBoardHandsOrRefuse(river.board, river.river_card, river.weight, turn.hands, turn.combo_map,
                          river.hands, river.hand_values, river.card_lists);
  river.cards_in_range = FillHandCards(river.hands, river.hand_cards);
  river.combo_map.assign(kComboCount, kNoHand);

  river.strength_groups.clear();
  size_t covered = 0;
  for (size_t i = 0; i < river.hand_values.size();) {
    size_t end = i + 1;
    while (end < river.hand_values.size() && river.hand_values[end] == river.hand_values[i]) ++end;
    river.strength_groups.push_back(static_cast<int16_t>(end - i));
    covered += end - i;
    i = end;
  }
  if (covered != river.hands.size()) Fail();

  if (river.hand_group_flag == 0) {
    for (size_t k = 0; k < river.hands.size(); ++k)
      river.combo_map[ComboIndexOfMask(river.hands[k])] = static_cast<int16_t>(k);
  } else {
    BuildHandGroups(river);
  }
}

}  // namespace

void PrepareShowdown(TurnDealRecord& record, const std::vector<CardMask>& hands,
                     const std::vector<int16_t>& hand_index) {
  OrderBoardHandsOrRefuse(record.board, record.turn_card, record.weight, hands, hand_index,
                          record.hands, record.hand_values, record.card_lists);
  FillHandCards(record.hands, record.hand_cards);
  record.combo_map.assign(kComboCount, kNoHand);
  for (size_t k = 0; k < record.hands.size(); ++k)
    record.combo_map[ComboIndexOfMask(record.hands[k])] = static_cast<int16_t>(k);

  record.river_hand_counts.clear();
  record.river_hand_counts.reserve(record.river_records.size());
  for (RiverDealRecord& river : record.river_records) {
    PrepareRiverRecord(river, record);
    const size_t count = river.hand_group_flag != 0 ? river.group_sizes.size() : river.hands.size();
    record.river_hand_counts.push_back(static_cast<uint32_t>(count));
  }
}
