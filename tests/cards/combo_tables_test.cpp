// Card text, card sets and the combination tables, checked against names and
// numbers derived here from the rules of the deck rather than from the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "protocol/command_error.h"
#include "support/engine_harness.h"

namespace {

const std::string kRanks = "23456789TJQKA";
const std::string kSuits = "cdhs";

struct DerivedCombo {
  std::string name;
  int engine_hi, engine_lo;  // 13 * suit + rank
};

// HandOrder by its own rule: cards numbered 4 * rank + suit, walked hi > lo.
std::vector<DerivedCombo> DeriveHandOrder() {
  std::vector<DerivedCombo> combos;
  for (int hi = 1; hi < 52; ++hi)
    for (int lo = 0; lo < hi; ++lo) {
      DerivedCombo combo;
      combo.name = {kRanks[hi / 4], kSuits[hi % 4], kRanks[lo / 4], kSuits[lo % 4]};
      const int a = 13 * (hi % 4) + hi / 4, b = 13 * (lo % 4) + lo / 4;
      combo.engine_hi = std::max(a, b);
      combo.engine_lo = std::min(a, b);
      combos.push_back(combo);
    }
  return combos;
}

// ComboIndex by enumeration: the position in the walk hi = 1..51, lo = 0..hi-1.
int EnumeratedComboIndex(int hi, int lo) {
  int index = 0;
  for (int h = 1; h < 52; ++h)
    for (int l = 0; l < h; ++l, ++index)
      if (h == hi && l == lo) return index;
  return -1;
}

HandOrder FindName(const std::string& name) {
  for (HandOrder p = 0; p < kComboCount; ++p)
    if (HandOrderName(p) == name) return p;
  return -1;
}

int Card(const char* text) { return __builtin_ctzll(ParseCardText(text)); }

}  // namespace

TEST(HandOrderText, MatchesDerivedNamesAndShowHandOrder) {
  const std::vector<DerivedCombo> combos = DeriveHandOrder();
  ASSERT_EQ(combos.size(), 1326u);
  std::string expected;
  for (const DerivedCombo& combo : combos) {
    if (!expected.empty()) expected += ' ';
    expected += combo.name;
  }
  EXPECT_EQ(expected.size(), 6629u);
  EXPECT_EQ(std::string(g_hand_order_text), expected);
  EXPECT_EQ(RunLine("show_hand_order"), expected + "\n");
  EXPECT_EQ(RunLine("show_hand_order x"), "ERROR: show_hand_order incorrect or missing argument\n");
}

TEST(HandOrderText, KnownPositions) {
  EXPECT_EQ(std::string(g_hand_order_text, 14), "2d2c 2h2c 2h2d");
  EXPECT_EQ(HandOrderName(0), "2d2c");
  EXPECT_EQ(HandOrderName(6), "3c2c");
  EXPECT_EQ(HandOrderName(1322), "AsKs");
  EXPECT_EQ(HandOrderName(1325), "AsAh");
  const std::string text(g_hand_order_text);
  EXPECT_EQ(text.substr(text.size() - 19), "AsKs AsAc AsAd AsAh");
}

TEST(ComboTables, AgreeWithEnumeration) {
  const std::vector<DerivedCombo> combos = DeriveHandOrder();
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const DerivedCombo& combo = combos[p];
    const int expected = EnumeratedComboIndex(combo.engine_hi, combo.engine_lo);
    ASSERT_EQ(g_combo_by_hand_order[p], expected) << combo.name;
    ASSERT_EQ(g_combo_card_masks[p], (1ull << combo.engine_hi) | (1ull << combo.engine_lo)) << combo.name;
    ASSERT_EQ(ComboIndexOfCards(combo.engine_lo, combo.engine_hi), expected);
  }
}

TEST(ComboTables, KnownComboIndices) {
  EXPECT_EQ(ComboIndexOfCards(1, 0), 0);
  EXPECT_EQ(g_combo_by_hand_order[FindName("3c2c")], 0);
  EXPECT_EQ(g_combo_by_hand_order[FindName("2d2c")], 78);
  EXPECT_EQ(g_combo_by_hand_order[FindName("AsAh")], 1313);
  EXPECT_EQ(g_combo_by_hand_order[FindName("AcKc")], 77);
  EXPECT_EQ(ComboIndexOfCards(Card("As"), Card("Ah")), 1313);
  EXPECT_EQ(ComboIndexOfCards(Card("Ac"), Card("Kc")), 77);
}

TEST(ComboTables, IndexTablesAreInversePermutations) {
  std::set<int> seen_combos, seen_orders;
  for (int i = 0; i < kComboCount; ++i) {
    ASSERT_EQ(g_hand_order_by_combo[g_combo_by_hand_order[i]], i);
    ASSERT_EQ(g_combo_by_hand_order[g_hand_order_by_combo[i]], i);
    seen_combos.insert(g_combo_by_hand_order[i]);
    seen_orders.insert(g_hand_order_by_combo[i]);
  }
  EXPECT_EQ(seen_combos.size(), 1326u);
  EXPECT_EQ(seen_orders.size(), 1326u);
  EXPECT_EQ(*seen_combos.rbegin(), 1325);
  EXPECT_EQ(*seen_orders.rbegin(), 1325);
}

TEST(ComboTables, HandClasses) {
  EXPECT_EQ(g_hand_class_combos[0].size(), 6u);    // deuces
  EXPECT_EQ(g_hand_class_combos[168].size(), 6u);  // aces
  EXPECT_EQ(g_hand_class_combos[12].size(), 4u);   // A2 suited
  EXPECT_EQ(g_hand_class_combos[156].size(), 12u); // A2 offsuit

  std::vector<int> class_of(kComboCount, -1);
  size_t total = 0;
  for (int cls = 0; cls < kHandClassCount; ++cls) {
    const int row = cls / 13, column = cls % 13;
    const size_t expected_size = row == column ? 6 : (row < column ? 4 : 12);
    ASSERT_EQ(g_hand_class_combos[cls].size(), expected_size) << cls;
    total += expected_size;
    int previous_order = -1;
    for (const uint16_t combo : g_hand_class_combos[cls]) {
      ASSERT_EQ(class_of[combo], -1);
      class_of[combo] = cls;
      const int order = g_hand_order_by_combo[combo];
      ASSERT_GT(order, previous_order) << "class " << cls << " not in HandOrder";
      previous_order = order;
      // Ranks and suitedness from the name.
      const std::string_view name = HandOrderName(order);
      const int high = static_cast<int>(kRanks.find(name[0]));
      const int low = static_cast<int>(kRanks.find(name[2]));
      const bool suited = name[1] == name[3];
      const int expected = high == low ? 14 * high : (suited ? 13 * low + high : 13 * high + low);
      ASSERT_EQ(cls, expected) << name;
    }
  }
  EXPECT_EQ(total, 1326u);
}

TEST(ComboTables, RebuildIsIdempotent) {
  BuildComboTables();
  EXPECT_EQ(g_hand_class_combos[0].size(), 6u);
  EXPECT_EQ(g_hand_class_combos[156].size(), 12u);
  EXPECT_EQ(g_combo_by_hand_order[0], 78);
}

TEST(CardText, ParsesCardsAndRefusesBadText) {
  EXPECT_EQ(ParseCardText(""), 0u);
  EXPECT_EQ(ParseCardText("as  KD"), CardBit(CardNumber(12, 3)) | CardBit(CardNumber(11, 1)));
  EXPECT_EQ(ParseCardText("AsKd"), ParseCardText("as kd"));
  EXPECT_EQ(ParseCardText("2c"), 1u);
  EXPECT_EQ(ParseCardText("As "), CardBit(51));  // blanks after a card are skipped
  EXPECT_EQ(ParseCardText("tHjS"), CardBit(CardNumber(8, 2)) | CardBit(CardNumber(9, 3)));

  for (const char* bad : {"A", "AsAs", "As as", " As", "Ax", "1s", "As K", "10s", "s", "AsKdA", "*"})
    EXPECT_THROW(ParseCardText(bad), std::runtime_error) << bad;
  try {
    ParseCardText("AsAs");
    FAIL();
  } catch (const CommandRefusal& refusal) {
    EXPECT_EQ(RefusalReply("set_board", refusal), "ERROR: invalid card\n");
  }
  EXPECT_THROW(ParseCardText(std::string("As\0Kd", 5)), std::runtime_error);
}

TEST(CardText, LengthLimit) {
  // 255 characters fit the parse buffer; anything longer is refused, not cut.
  EXPECT_EQ(ParseCardText("As" + std::string(253, ' ')), CardBit(51));
  EXPECT_THROW(ParseCardText("As" + std::string(254, ' ')), std::runtime_error);
  EXPECT_THROW(ParseCardText(std::string(1000, 'A')), std::runtime_error);
}

TEST(CardText, MaskToTextAndBack) {
  EXPECT_EQ(CardMaskToText(0), "");
  EXPECT_EQ(CardMaskToText(CardBit(51)), "As");
  EXPECT_EQ(CardMaskToText(ParseCardText("Ah2c")), "2c Ah");
  EXPECT_EQ(CardText(0), "2c");
  EXPECT_EQ(CardText(25), "Ad");

  const CardMask deck = (CardMask{1} << 52) - 1;
  const std::string all = CardMaskToText(deck);
  EXPECT_EQ(all.substr(0, 8), "2c 3c 4c");
  EXPECT_EQ(all.substr(all.size() - 5), "Ks As");
  EXPECT_EQ(ParseCardText(all), deck);

  std::mt19937_64 random(7);
  for (int i = 0; i < 200; ++i) {
    const CardMask mask = random() & random() & deck;
    ASSERT_EQ(ParseCardText(CardMaskToText(mask)), mask);
  }
}
