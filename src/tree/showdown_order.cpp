#include "cards/showdown_prep.h"

#include <string>

#include "cards/combo_tables.h"
#include "protocol/command_error.h"
#include "protocol/fail.h"
#include "tree/deal_tree.h"

namespace {

constexpr int16_t kNoHand = -1;

// Cards as "%c%c " each: rank character, lower-case suit character.
std::string FaultCardsText(CardMask mask) {
  static const char kSuits[] = "cdhs";
  std::string text;
  for (int card = 0; card < kCardCount; ++card)
    if (mask & CardBit(card)) {
      text += g_rank_chars[CardRank(card)];
      text += kSuits[CardSuit(card)];
      text += ' ';
    }
  return text;
}

// A board whose hands have no suit image in the parent cannot stand for the
// cards of its group: the build stops instead of mapping through a missing index.
[[noreturn]] void ThrowIsomorphFault(CardMask board, const IsomorphFault& fault) {
  const std::string board_text = FaultCardsText(board);
  const std::string hand_text = FaultCardsText(fault.hand);
  const std::string image_text = FaultCardsText(fault.image);
  ThrowRefusal("isomorph error: " + board_text + " | " + hand_text + " | " + image_text);
}

void OrderRecord(CardMask board, uint32_t card, int32_t weight,
                 const std::vector<CardMask>& parent_hands,
                 const std::vector<int16_t>& parent_map, std::vector<CardMask>& hands,
                 std::vector<uint32_t>& values, std::vector<std::vector<int16_t>>& card_lists) {
  // Suit s stands for s .. s + weight - 1; anything else is a broken deal tree.
  if (weight < 1 || CardSuit(static_cast<int>(card)) + weight > kSuitCount) Fail("deal weight");
  IsomorphFault fault;
  if (!Kernels<ShowdownPrepKernels>().OrderBoardHands(board, static_cast<int>(card), weight,
                                                      parent_hands, parent_map, hands, values,
                                                      card_lists, fault))
    ThrowIsomorphFault(board, fault);
}

// True when every hand holds two cards of the deck, so that both card bytes
// are card numbers.
bool FillHandCards(const std::vector<CardMask>& hands, std::vector<uint16_t>& hand_cards) {
  hand_cards.resize(hands.size());
  bool in_range = true;
  for (size_t i = 0; i < hands.size(); ++i) {
    const CardMask mask = hands[i];
    in_range = in_range && __builtin_popcountll(mask) == 2 && mask >> kCardCount == 0;
    // No card at all: both bytes out of range, so that the kernels skip the hand.
    const int lo = mask ? __builtin_ctzll(mask) : 0xFF;
    const int hi = mask ? 63 - __builtin_clzll(mask) : 0xFF;
    hand_cards[i] = static_cast<uint16_t>(lo | hi << 8);
  }
  return in_range;
}

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
  OrderRecord(river.board, river.river_card, river.weight, turn.hands, turn.combo_map,
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
  OrderRecord(record.board, record.turn_card, record.weight, hands, hand_index, record.hands,
              record.hand_values, record.card_lists);
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
