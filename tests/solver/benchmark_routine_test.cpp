// The built-in benchmark's fixed situation: its two range tables, its bet tree
// (checked record by record on the river and by the rules on the flop), and the
// rounding helper beside it.
#include "solver/benchmark_routine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"

namespace {

struct ClassCounts {
  int zero_combos = 0, full_combos = 0;
  int partial_pairs = 0, partial_suited = 0, partial_offsuit = 0;
};

ClassCounts CountRange(const std::array<double, 1326>& range) {
  ClassCounts counts;
  for (int cls = 0; cls < kHandClassCount; ++cls) {
    const std::vector<uint16_t>& combos = g_hand_class_combos[cls];
    const double w = range[combos.front()];
    for (uint16_t combo : combos) EXPECT_EQ(range[combo], w) << "class " << cls;
    if (w == 0.0) {
      counts.zero_combos += static_cast<int>(combos.size());
    } else if (w == 1.0) {
      counts.full_combos += static_cast<int>(combos.size());
    } else {
      EXPECT_GT(w, 0.0);
      EXPECT_LT(w, 1.0);
      const int row = cls / 13, column = cls % 13;
      if (row == column)
        ++counts.partial_pairs;
      else if (row < column)
        ++counts.partial_suited;
      else
        ++counts.partial_offsuit;
    }
  }
  return counts;
}

int Card(const char* text) {
  static const std::string kRanks = "23456789TJQKA", kSuits = "cdhs";
  return CardNumber(static_cast<int>(kRanks.find(text[0])), static_cast<int>(kSuits.find(text[1])));
}

double Weight(Player player, const char* a, const char* b) {
  return BenchmarkRange(player)[static_cast<size_t>(ComboIndexOfCards(Card(a), Card(b)))];
}

TEST(BenchmarkRoutine, RangeTablesHaveTheGivenShape) {
  const ClassCounts oop = CountRange(BenchmarkRange(PLAYER_OOP));
  EXPECT_EQ(oop.zero_combos, 692);
  EXPECT_EQ(oop.full_combos, 136);
  EXPECT_EQ(oop.partial_pairs, 5);
  EXPECT_EQ(oop.partial_suited, 30);
  EXPECT_EQ(oop.partial_offsuit, 29);

  const ClassCounts ip = CountRange(BenchmarkRange(PLAYER_IP));
  EXPECT_EQ(ip.zero_combos, 296);
  EXPECT_EQ(ip.full_combos, 994);
  EXPECT_EQ(ip.partial_pairs, 0);
  EXPECT_EQ(ip.partial_suited, 0);
  EXPECT_EQ(ip.partial_offsuit, 3);
}

TEST(BenchmarkRoutine, ChartsReadSuitedAboveAndOffsuitBelowTheDiagonal) {
  EXPECT_EQ(Weight(PLAYER_OOP, "Ac", "Ad"), 1.0);
  EXPECT_EQ(Weight(PLAYER_OOP, "5h", "5s"), 0.0);
  EXPECT_EQ(Weight(PLAYER_OOP, "Kh", "Jh"), 1.0);   // KJs
  EXPECT_EQ(Weight(PLAYER_OOP, "Kh", "Jd"), 0.75);  // KJo
  EXPECT_EQ(Weight(PLAYER_OOP, "Ks", "4s"), 0.25);  // K4s
  EXPECT_EQ(Weight(PLAYER_OOP, "5c", "Ad"), 0.5);   // A5o
  EXPECT_EQ(Weight(PLAYER_IP, "3c", "2c"), 0.0);   // 32s
  EXPECT_EQ(Weight(PLAYER_IP, "7d", "9s"), 0.5);   // 97o
  EXPECT_EQ(Weight(PLAYER_IP, "Td", "2s"), 1.0);   // T2o
  EXPECT_EQ(Weight(PLAYER_IP, "9d", "2s"), 0.0);   // 92o
}

struct Expected {
  uint32_t kind;
  int32_t parent, player, street;
  double value;
};

void ExpectRecords(const std::vector<LineEntry>& records, const std::vector<Expected>& expected) {
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(records[i].kind, expected[i].kind);
    EXPECT_EQ(records[i].parent, expected[i].parent);
    EXPECT_EQ(records[i].player, expected[i].player);
    EXPECT_EQ(records[i].street, expected[i].street);
    EXPECT_EQ(records[i].value, expected[i].value);
  }
}

// From the river with 25.0 in each and 100.0 behind: a pot-sized bet of 50, a
// raise capped at the 50 left, checks, calls and folds.
TEST(BenchmarkRoutine, RiverLinesRecordByRecord) {
  std::vector<LineEntry> records;
  std::string label;
  GenerateBenchmarkLines(3, 0, 25.0, 0.0, 125.0, -1, records, label);
  EXPECT_TRUE(label.empty());
  const uint32_t D = DECISION_NODE, SD = SHOWDOWN_NODE, F = FOLD_NODE;
  ExpectRecords(records, {
                             {D, -1, 0, 3, 0.0},     // OOP
                             {D, 0, 1, 3, 0.0},      // IP facing 50
                             {D, 1, 0, 3, 0.0},      // OOP facing the all-in raise
                             {SD, 2, -1, -1, 125.0},  // called all-in
                             {F, 2, -1, -1, 75.0},
                             {SD, 1, -1, -1, 75.0},  // bet called
                             {F, 1, -1, -1, 25.0},
                             {D, 0, 1, 3, 0.0},      // OOP checked: IP
                             {D, 7, 0, 3, 0.0},      // OOP facing 50
                             {D, 8, 1, 3, 0.0},      // IP facing the all-in raise
                             {SD, 9, -1, -1, 125.0},
                             {F, 9, -1, -1, 75.0},
                             {SD, 8, -1, -1, 75.0},
                             {F, 8, -1, -1, 25.0},
                             {SD, 7, -1, -1, 25.0},  // checked back
                         });
}

// The flop tree follows the rules: children of a decision are its raise (when
// chips remain), then call and fold facing a bet, else the check; calls and
// IP's check move to the next street with OOP first, and once every chip is in
// the line goes straight to a showdown.
TEST(BenchmarkRoutine, FlopTreeFollowsTheRules) {
  std::vector<LineEntry> records;
  std::string label;
  GenerateBenchmarkLines(1, 0, 25.0, 0.0, 125.0, -1, records, label);
  ASSERT_FALSE(records.empty());
  std::vector<std::vector<int32_t>> children(records.size());
  for (size_t i = 1; i < records.size(); ++i) {
    ASSERT_GE(records[i].parent, 0);
    ASSERT_LT(records[i].parent, static_cast<int32_t>(i));
    ASSERT_EQ(records[records[i].parent].kind, DECISION_NODE);
    children[records[i].parent].push_back(static_cast<int32_t>(i));
  }
  int showdowns_at_stack = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const LineEntry& r = records[i];
    if (r.kind != DECISION_NODE) {
      EXPECT_TRUE(children[i].empty());
      EXPECT_LE(r.value, 125.0);
      if (r.kind == SHOWDOWN_NODE && r.value == 125.0) ++showdowns_at_stack;
      continue;
    }
    EXPECT_GE(r.street, STREET_FLOP);
    EXPECT_LE(r.street, STREET_RIVER);
    for (int32_t c : children[i]) {
      const LineEntry& child = records[c];
      if (child.kind != DECISION_NODE) continue;
      EXPECT_GE(child.street, r.street);
      // A new street starts with OOP; on the same street the other player acts.
      EXPECT_EQ(child.player, child.street > r.street ? PLAYER_OOP : Opponent(r.player));
    }
    // A decision has two or three children, the last a fold or a check.
    EXPECT_GE(children[i].size(), 2u);
    EXPECT_LE(children[i].size(), 3u);
  }
  EXPECT_GT(showdowns_at_stack, 0);

  // OOP bets 50 on the flop; IP raises by the 50 left; OOP has call and fold.
  const auto& root = children[0];
  ASSERT_EQ(root.size(), 2u);
  const auto& ip_facing = children[root[0]];
  ASSERT_EQ(ip_facing.size(), 3u);
  const auto& oop_facing_all_in = children[ip_facing[0]];
  ASSERT_EQ(oop_facing_all_in.size(), 2u);
  EXPECT_EQ(records[oop_facing_all_in[0]].kind, SHOWDOWN_NODE);
  EXPECT_EQ(records[oop_facing_all_in[0]].value, 125.0);
  EXPECT_EQ(records[oop_facing_all_in[1]].kind, FOLD_NODE);
  EXPECT_EQ(records[oop_facing_all_in[1]].value, 75.0);
  // IP's call of the 50 bet leads to the turn with OOP to act.
  EXPECT_EQ(records[ip_facing[1]].kind, DECISION_NODE);
  EXPECT_EQ(records[ip_facing[1]].street, 2);
  EXPECT_EQ(records[ip_facing[1]].player, 0);
  // OOP's check keeps the flop with IP to act; IP's check back goes to the turn.
  const LineEntry& after_check = records[root[1]];
  EXPECT_EQ(after_check.street, 1);
  EXPECT_EQ(after_check.player, 1);
  const LineEntry& checked_back = records[children[root[1]].back()];
  EXPECT_EQ(checked_back.street, 2);
  EXPECT_EQ(checked_back.player, 0);
}

TEST(BenchmarkRoutine, RoundToDecimals) {
  EXPECT_EQ(RoundToDecimals(1.2345, 2), 1.23);
  EXPECT_EQ(RoundToDecimals(1.235001, 2), 1.24);
  EXPECT_EQ(RoundToDecimals(2.5, 0), 3.0);
  EXPECT_EQ(RoundToDecimals(-2.5, 0), -2.0);
  EXPECT_EQ(RoundToDecimals(149.96, 1), 150.0);
}

}  // namespace
