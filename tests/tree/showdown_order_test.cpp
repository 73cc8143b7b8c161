#include "tree/showdown_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/showdown_prep.h"
#include "platform/cpu_features.h"
#include "solver/solver_state.h"
#include "support/board_values.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }
int Card(const char* text) { return __builtin_ctzll(ParseCardText(text)); }
int ComboOf(CardMask hand) {
  return ComboIndexOfCards(__builtin_ctzll(hand), 63 - __builtin_clzll(hand));
}

const std::vector<double> kFullRange(kComboCount, 1.0);

// Checks one board's order against its parent list and the evaluator.
template <typename Record>
void ExpectOrdered(const Record& record, const std::vector<CardMask>& parent, bool river) {
  const size_t n = record.hands.size();
  ASSERT_EQ(record.hand_values.size(), n);
  ASSERT_EQ(record.hand_cards.size(), n);
  ASSERT_EQ(record.card_lists.size(), 1u);
  ASSERT_EQ(record.card_lists[0].size(), n);
  std::vector<int> seen(parent.size(), 0);
  for (size_t k = 0; k < n; ++k) {
    const CardMask hand = record.hands[k];
    ASSERT_EQ(hand & record.board, 0u);
    ASSERT_EQ(record.hand_values[k], BoardHandValue(record.board, hand));
    if (k > 0) {
      ASSERT_LE(record.hand_values[k - 1], record.hand_values[k]);
      // On the turn, equal hands keep the parent's order.
      if (!river && record.hand_values[k - 1] == record.hand_values[k]) {
        ASSERT_LT(record.card_lists[0][k - 1], record.card_lists[0][k]);
      }
    }
    const int16_t index = record.card_lists[0][k];
    ASSERT_EQ(parent[index], hand);
    ++seen[index];
    ASSERT_EQ(record.hand_cards[k],
              __builtin_ctzll(hand) | (63 - __builtin_clzll(hand)) << 8);
    ASSERT_EQ(record.combo_map[ComboOf(hand)], static_cast<int16_t>(k));
  }
  for (size_t i = 0; i < parent.size(); ++i)
    ASSERT_EQ(seen[i], (parent[i] & record.board) ? 0 : 1);
  // A river board's cards are known to be card numbers once made.
  if constexpr (requires { record.cards_in_range; }) {
    ASSERT_TRUE(record.cards_in_range);
  }
  ASSERT_EQ(std::count_if(record.combo_map.begin(), record.combo_map.end(),
                          [](int16_t e) { return e >= 0; }),
            static_cast<long>(n));
}

TEST(ShowdownOrder, EveryBoardIsOrderedByTheEvaluator) {
  auto state = std::make_unique<SolverState>(1, 0);
  state->nodes.emplace_back().street = STREET_FLOP;
  state->max_actions = 1;
  BuildChanceLevels(*state, Cards("Ts7d2c"), -1, -1, kFullRange, kFullRange, false);
  const DealTree& tree = *state->deal_tree;
  for (size_t t = 0; t < tree.turn_records.size(); ++t) {
    const TurnDealRecord& turn = tree.turn_records[t];
    SCOPED_TRACE(turn.turn_card);
    ExpectOrdered(turn, tree.hands, false);
    ASSERT_EQ(turn.river_hand_counts.size(), turn.river_records.size());
    ASSERT_EQ(tree.river_hand_counts[t], turn.river_hand_counts);
    for (size_t r = 0; r < turn.river_records.size(); ++r) {
      const RiverDealRecord& river = turn.river_records[r];
      ExpectOrdered(river, turn.hands, true);
      ASSERT_EQ(turn.river_hand_counts[r], river.hands.size());
      // Strength groups are the runs of equal values.
      size_t position = 0;
      for (int16_t size : river.strength_groups) {
        ASSERT_GT(size, 0);
        const uint32_t value = river.hand_values[position];
        for (int16_t i = 0; i < size; ++i) ASSERT_EQ(river.hand_values[position + i], value);
        position += size;
        if (position < river.hands.size()) {
          ASSERT_NE(river.hand_values[position], value);
        }
      }
      ASSERT_EQ(position, river.hands.size());
      EXPECT_TRUE(river.group_sizes.empty());
    }
  }
}

TEST(ShowdownOrder, RiverTiesFollowTheCombinationKey) {
  DealTree tree;
  InitDealTree(tree, Cards("2c3d4h"), 0, Card("5s"), Card("9c"), false);
  BuildNodeComboLists(tree, kFullRange, kFullRange);
  const RiverDealRecord& river = tree.turn_records[0].river_records[0];
  auto position = [&river](const char* hand) {
    return river.combo_map[ComboOf(Cards(hand))];
  };
  // Six-high straights: 6h8d, then 6dKs (marks 8 + 3), then 6hKd (marks 24 + 2).
  EXPECT_EQ(river.hand_values[position("6dKs")], river.hand_values[position("6hKd")]);
  EXPECT_EQ(river.hand_values[position("6h8d")], river.hand_values[position("6hKd")]);
  EXPECT_LT(position("6h8d"), position("6dKs"));
  EXPECT_LT(position("6dKs"), position("6hKd"));
}

TEST(ShowdownOrder, HandGroupsOfGroupedRiverRecords) {
  // Royal flush on the board: every hand ties.
  DealTree royal;
  InitDealTree(royal, Cards("AsKsQs"), 1, Card("Js"), Card("Ts"), false);
  BuildNodeComboLists(royal, kFullRange, kFullRange);
  const RiverDealRecord& tie = royal.turn_records[0].river_records[0];
  ASSERT_EQ(tie.hands.size(), 1081u);
  ASSERT_EQ(tie.group_sizes, (std::vector<int16_t>{1081}));
  ASSERT_EQ(tie.group_values, (std::vector<uint32_t>{tie.hand_values[0]}));
  EXPECT_EQ(tie.strength_groups, (std::vector<int16_t>{1081}));
  EXPECT_EQ(royal.turn_records[0].river_hand_counts, (std::vector<uint32_t>{1}));
  ASSERT_EQ(tie.card_weights.size(), 52u);
  for (int c = 0; c < 52; ++c)
    EXPECT_DOUBLE_EQ(tie.card_weights[c], (Cards("AsKsQsJsTs") & CardBit(c)) ? 0.0 : 46.0 / 1081);
  for (int16_t entry : tie.combo_map) EXPECT_TRUE(entry == 0 || entry == -1);

  for (uint32_t flag : {1u, 2u}) {
    SCOPED_TRACE(flag);
    DealTree tree;
    InitDealTree(tree, Cards("Kh9h4s"), flag, Card("2d"), Card("Jh"), false);
    BuildNodeComboLists(tree, kFullRange, kFullRange);
    const RiverDealRecord& river = tree.turn_records[0].river_records[0];
    const size_t groups = river.group_sizes.size();
    ASSERT_EQ(river.group_values.size(), groups);
    ASSERT_EQ(river.card_weights.size(), 52 * groups);
    EXPECT_EQ(tree.turn_records[0].river_hand_counts[0], groups);
    if (flag == 1) {
      EXPECT_EQ(river.group_sizes, river.strength_groups);
    } else {
      EXPECT_LT(groups, river.strength_groups.size());
    }
    size_t start = 0;
    for (size_t g = 0; g < groups; ++g) {
      const size_t end = start + river.group_sizes[g];
      double weight_sum = 0.0;
      for (int c = 0; c < 52; ++c) weight_sum += river.card_weights[52 * g + c];
      EXPECT_NEAR(weight_sum, 2.0, 1e-12);  // two cards per hand
      for (size_t i = start; i < end; ++i) {
        ASSERT_EQ(river.combo_map[ComboOf(river.hands[i])], static_cast<int16_t>(g));
        // A hand of another value than the group's first stays only by sharing
        // a card with the hand before it.
        if (i > start && river.hand_values[i] != river.hand_values[start]) {
          ASSERT_EQ(flag, 2u);
          ASSERT_NE(river.hands[i] & river.hands[i - 1], 0u);
        }
      }
      if (end < river.hands.size()) {
        ASSERT_EQ(river.group_values[g], river.hand_values[end]);
        ASSERT_NE(river.hand_values[end], river.hand_values[start]);
        if (flag == 2) {
          ASSERT_EQ(river.hands[end] & river.hands[end - 1], 0u);
        }
      } else {
        ASSERT_EQ(river.group_values[g], river.hand_values.back());
      }
      start = end;
    }
    ASSERT_EQ(start, river.hands.size());
  }
}

TEST(ShowdownOrder, BothKernelBuildsOrderTheRiverRecordsAlike) {
  DealTree tree;
  InitDealTree(tree, Cards("2c3c4c"), 0, Card("5c"), -1, true);
  BuildNodeComboLists(tree, kFullRange, kFullRange);
  const TurnDealRecord& turn = tree.turn_records[0];
  if (!CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2";
  for (const RiverDealRecord& river : turn.river_records) {
    std::vector<CardMask> hands[2];
    std::vector<uint32_t> values[2];
    std::vector<std::vector<int16_t>> lists[2];
    IsomorphFault fault;
    ASSERT_TRUE(isa_avx2::kShowdownPrepKernels.OrderBoardHands(
        river.board, river.river_card, river.weight, turn.hands, turn.combo_map, hands[0],
        values[0], lists[0], fault));
    ASSERT_TRUE(isa_avx::kShowdownPrepKernels.OrderBoardHands(
        river.board, river.river_card, river.weight, turn.hands, turn.combo_map, hands[1],
        values[1], lists[1], fault));
    EXPECT_EQ(hands[0], hands[1]);
    EXPECT_EQ(values[0], values[1]);
    EXPECT_EQ(lists[0], lists[1]);
    EXPECT_EQ(hands[0], river.hands);
    EXPECT_EQ(lists[0], river.card_lists);
    if (CpuHasAvx512()) {
      ASSERT_TRUE(isa_avx512::kShowdownPrepKernels.OrderBoardHands(
          river.board, river.river_card, river.weight, turn.hands, turn.combo_map, hands[1],
          values[1], lists[1], fault));
      EXPECT_EQ(hands[0], hands[1]);
      EXPECT_EQ(values[0], values[1]);
      EXPECT_EQ(lists[0], lists[1]);
    }
  }
}

}  // namespace
