#include "cards/combo_tables.h"

#include "protocol/command_error.h"

namespace {

// The hand-order text, generated at compile time from its rule: position
// hi * (hi - 1) / 2 + lo names the cards hi > lo of the numbering 4 * rank + suit,
// higher card first, rank character then lower-case suit.
struct HandOrderText {
  char chars[kHandOrderTextLength + 1] = {};
};

constexpr HandOrderText MakeHandOrderText() {
  constexpr char kRanks[] = "23456789TJQKA";
  constexpr char kSuits[] = "cdhs";
  HandOrderText text;
  size_t at = 0;
  for (int hi = 1; hi < kCardCount; ++hi) {
    for (int lo = 0; lo < hi; ++lo) {
      if (at > 0) text.chars[at++] = ' ';
      text.chars[at++] = kRanks[hi / 4];
      text.chars[at++] = kSuits[hi % 4];
      text.chars[at++] = kRanks[lo / 4];
      text.chars[at++] = kSuits[lo % 4];
    }
  }
  text.chars[at] = '\0';
  return text;
}

constexpr HandOrderText kHandOrderText = MakeHandOrderText();
static_assert(kHandOrderText.chars[kHandOrderTextLength - 1] == 'h' &&
              kHandOrderText.chars[kHandOrderTextLength] == '\0');

}  // namespace

const char* const g_hand_order_text = kHandOrderText.chars;

CardMask g_combo_card_masks[kComboCount];
uint16_t g_combo_by_hand_order[kComboCount];
int16_t g_hand_order_by_combo[kComboCount];
std::vector<uint16_t> g_hand_class_combos[kHandClassCount];

void BuildComboTables() {
  for (auto& members : g_hand_class_combos) members.clear();
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const CardMask cards = ParseCardText(std::string(HandOrderName(p)));
    if (CardCount(cards) != 2) ThrowUnnamedRefusal("invalid card");
    const int lo = __builtin_ctzll(cards);
    const int hi = 63 - __builtin_clzll(cards);
    const ComboIndex combo = ComboIndexOfCards(hi, lo);
    g_combo_card_masks[p] = cards;
    g_combo_by_hand_order[p] = static_cast<uint16_t>(combo);
    g_hand_order_by_combo[combo] = static_cast<int16_t>(p);
    g_hand_class_combos[HandClassOfCards(hi, lo)].push_back(static_cast<uint16_t>(combo));
  }
}
