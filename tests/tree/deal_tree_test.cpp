#include "tree/deal_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/suit_isomorphism.h"
#include "protocol/command_error.h"
#include "solver/solver_state.h"
#include "tree/tree_records.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }
int Card(const char* text) { return __builtin_ctzll(ParseCardText(text)); }

const std::vector<double> kFullRange(kComboCount, 1.0);

// A state with only a root decision node on the street, as the builder leaves
// it before the dealt cards.
std::unique_ptr<SolverState> MakeState(Street street, int max_actions) {
  auto state = std::make_unique<SolverState>(1, 0);
  TreeNode& root = state->nodes.emplace_back();
  root.street = street;
  state->max_actions = max_actions;
  return state;
}

std::unique_ptr<SolverState> Build(const char* flop, const char* turn, const char* river,
                                   bool isomorphism,
                                   const std::vector<double>& oop = kFullRange,
                                   const std::vector<double>& ip = kFullRange) {
  const Street street = *river ? STREET_RIVER : *turn ? STREET_TURN : STREET_FLOP;
  auto state = MakeState(street, 2);
  BuildChanceLevels(*state, Cards(flop), *turn ? Card(turn) : -1, *river ? Card(river) : -1, oop,
                    ip, isomorphism);
  return state;
}

// Weights that depend on the hand class only, with some classes left out:
// symmetric under every renaming of suits.
std::vector<double> ClassRange(unsigned seed, double share = 0.7) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> weight(0.0, 1.0);
  std::vector<double> by_class(kHandClassCount);
  for (double& w : by_class) w = weight(rng) < share ? weight(rng) : 0.0;
  std::vector<double> range(kComboCount);
  for (int a = 0; a < 52; ++a)
    for (int b = 0; b < a; ++b) range[ComboIndexOfCards(a, b)] = by_class[HandClassOfCards(a, b)];
  return range;
}

TEST(DealTree, FlopTreeWithoutIsomorphismDealsEveryCard) {
  auto state = Build("Ah7d2c", "", "", false);
  const DealTree& tree = *state->deal_tree;
  EXPECT_EQ(state->flags & ISOMORPHISM_ON, 0u);
  EXPECT_EQ(state->start_turn_slot, -1);
  EXPECT_EQ(state->start_river_slot, -1);
  EXPECT_EQ(tree.base_board, Cards("Ah7d2c"));
  ASSERT_EQ(tree.turn_records.size(), 49u);
  ASSERT_EQ(tree.turn_slot_map.size(), 52u);
  for (int card = 0; card < 52; ++card) {
    const bool on_flop = Cards("Ah7d2c") & CardBit(card);
    EXPECT_EQ(tree.turn_slot_map[card] == -1, on_flop) << card;
  }
  int slot = 0;
  for (int card = 0; card < 52; ++card) {
    if (tree.turn_slot_map[card] < 0) continue;
    EXPECT_EQ(tree.turn_slot_map[card], slot);  // card-number order
    const TurnDealRecord& turn = tree.turn_records[slot];
    EXPECT_EQ(turn.turn_card, static_cast<uint32_t>(card));
    EXPECT_EQ(turn.weight, 1);
    EXPECT_EQ(turn.card_lists.size(), 1u);
    ASSERT_EQ(turn.river_records.size(), 48u);
    int rivers = 0;
    for (int r = 0; r < 52; ++r) {
      const bool dealt = turn.board & CardBit(r);
      EXPECT_EQ(turn.river_slot_map[r] == -1, dealt);
      if (dealt) continue;
      const RiverDealRecord& river = turn.river_records[turn.river_slot_map[r]];
      EXPECT_EQ(river.river_card, static_cast<uint32_t>(r));
      EXPECT_EQ(river.weight, 1);
      EXPECT_EQ(river.hand_group_flag, 0u);
      ++rivers;
    }
    EXPECT_EQ(rivers, 48);
    // 48 unseen cards on the turn: C(48, 2) hands; 47 on the river: C(47, 2).
    EXPECT_EQ(turn.hands.size(), 1128u);
    EXPECT_EQ(tree.turn_hand_counts[slot], 1128u);
    for (const RiverDealRecord& river : turn.river_records) EXPECT_EQ(river.hands.size(), 1081u);
    ++slot;
  }
  EXPECT_EQ(tree.hands.size(), 1176u);
  EXPECT_EQ(tree.river_hand_counts.size(), 49u);
}

TEST(DealTree, TurnAndRiverTreesHaveOneStartingRecord) {
  auto turn_tree = Build("Ah7d2c", "Ks", "", false);
  const DealTree& tree = *turn_tree->deal_tree;
  ASSERT_EQ(tree.turn_records.size(), 1u);
  EXPECT_EQ(tree.turn_slot_map[Card("Ks")], 0);
  EXPECT_EQ(turn_tree->start_turn_slot, 0);
  EXPECT_EQ(turn_tree->start_river_slot, -1);
  EXPECT_EQ(tree.turn_records[0].river_records.size(), 48u);
  EXPECT_EQ(turn_tree->board_mask, Cards("Ah7d2cKs"));
  EXPECT_EQ(turn_tree->root_hand_weights[0].size(), 1128u);  // the turn board's hands

  auto river_tree = Build("Ah7d2c", "Ks", "3h", false);
  const DealTree& rtree = *river_tree->deal_tree;
  ASSERT_EQ(rtree.turn_records.size(), 1u);
  ASSERT_EQ(rtree.turn_records[0].river_records.size(), 1u);
  EXPECT_EQ(river_tree->start_turn_slot, 0);
  EXPECT_EQ(river_tree->start_river_slot, 0);
  EXPECT_EQ(rtree.turn_records[0].river_slot_map[Card("3h")], 0);
  EXPECT_EQ(river_tree->root_hand_weights[1].size(), 1081u);

  // A flop root ignores turn and river cards handed in.
  auto state = MakeState(STREET_FLOP, 1);
  BuildChanceLevels(*state, Cards("Ah7d2c"), Card("Ks"), Card("3h"), kFullRange, kFullRange,
                    false);
  EXPECT_EQ(state->board_mask, Cards("Ah7d2c"));
  EXPECT_EQ(state->deal_tree->turn_records.size(), 49u);
}

TEST(DealTree, UnusableBoardsAreRefused) {
  auto state = MakeState(STREET_TURN, 1);
  EXPECT_THROW(BuildChanceLevels(*state, Cards("Ah7d2c"), -1, -1, kFullRange, kFullRange, false),
               std::runtime_error);
  EXPECT_THROW(BuildChanceLevels(*state, Cards("Ah7d2c"), Card("Ah"), -1, kFullRange, kFullRange,
                                 false),
               std::runtime_error);
  auto river = MakeState(STREET_RIVER, 1);
  EXPECT_THROW(BuildChanceLevels(*river, Cards("Ah7d2c"), Card("Ks"), Card("Ks"), kFullRange,
                                 kFullRange, false),
               std::runtime_error);
  auto flop = MakeState(STREET_FLOP, 1);
  EXPECT_THROW(BuildChanceLevels(*flop, Cards("Ah7d"), -1, -1, kFullRange, kFullRange, false),
               std::runtime_error);
  EXPECT_EQ(flop->deal_tree, nullptr);
}

TEST(DealTree, HandListHoldsTheHandsOfEitherRange) {
  std::vector<double> oop(kComboCount, 0.0), ip(kComboCount, 0.0);
  const int aks = ComboIndexOfCards(Card("As"), Card("Ks"));
  const int qq = ComboIndexOfCards(Card("Qc"), Card("Qd"));
  const int ah_blocked = ComboIndexOfCards(Card("Ah"), Card("Kd"));
  const int tt = ComboIndexOfCards(Card("Tc"), Card("Th"));
  oop[aks] = 0.5;
  ip[qq] = 1.0;
  oop[ah_blocked] = 1.0;  // touches the flop
  ip[ah_blocked] = 1.0;
  oop[tt] = 0.0;          // weight 0 in both
  auto state = Build("Ah7d2c", "", "", false, oop, ip);
  const DealTree& tree = *state->deal_tree;
  ASSERT_EQ(tree.hands.size(), 2u);
  EXPECT_EQ(tree.hands[0], Cards("QcQd"));  // ComboIndex order
  EXPECT_EQ(tree.hands[1], Cards("AsKs"));
  EXPECT_EQ(tree.combo_map[qq], 0);
  EXPECT_EQ(tree.combo_map[aks], 1);
  EXPECT_EQ(tree.combo_map[ah_blocked], -1);
  EXPECT_EQ(tree.combo_map[tt], -1);
  EXPECT_EQ(tree.hand_cards[1], Card("Ks") | Card("As") << 8);
  int mapped = 0;
  for (int16_t entry : tree.combo_map) mapped += entry >= 0;
  EXPECT_EQ(mapped, 2);
  EXPECT_EQ(state->root_hand_weights[0], (std::vector<double>{0.0, 0.5}));
  EXPECT_EQ(state->root_hand_weights[1], (std::vector<double>{1.0, 0.0}));
  // Z = 0.5 * 1.0 (AsKs against QcQd).
  EXPECT_EQ(state->normalised_root_weights[0], (std::vector<double>{0.0, 1.0}));
  EXPECT_EQ(state->normalised_root_weights[1], (std::vector<double>{2.0, 0.0}));
  // The ranges are kept as handed in.
  EXPECT_EQ(state->ranges[0], oop);
  EXPECT_EQ(state->ranges[1], ip);
}

TEST(DealTree, RangeWeightsAreNormalisedByTheDisjointPairWeight) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> weight(0.0, 1.0);
  std::vector<double> oop(kComboCount), ip(kComboCount);
  for (int k = 0; k < kComboCount; ++k) {
    oop[k] = weight(rng) < 0.4 ? 0.0 : weight(rng);
    ip[k] = weight(rng) < 0.4 ? 0.0 : weight(rng);
  }
  auto state = MakeState(STREET_FLOP, 1);
  std::vector<CardMask> hands;
  for (int a = 0; a < 52; ++a)
    for (int b = 0; b < a; ++b)
      if (!(Cards("9s8s2d") & (CardBit(a) | CardBit(b)))) hands.push_back(CardBit(a) | CardBit(b));
  MapHandsToRangeWeights(*state, oop, ip, hands);

  // Brute force over card numbers.
  double z = 0.0;
  for (size_t i = 0; i < hands.size(); ++i) {
    const int a1 = __builtin_ctzll(hands[i]), a2 = 63 - __builtin_clzll(hands[i]);
    for (size_t j = 0; j < hands.size(); ++j) {
      const int b1 = __builtin_ctzll(hands[j]), b2 = 63 - __builtin_clzll(hands[j]);
      if (a1 == b1 || a1 == b2 || a2 == b1 || a2 == b2) continue;
      z += oop[ComboIndexOfCards(a1, a2)] * ip[ComboIndexOfCards(b1, b2)];
    }
  }
  ASSERT_EQ(state->root_hand_weights[0].size(), hands.size());
  for (size_t i = 0; i < hands.size(); ++i) {
    const int k = ComboIndexOfCards(__builtin_ctzll(hands[i]), 63 - __builtin_clzll(hands[i]));
    EXPECT_EQ(state->root_hand_weights[0][i], oop[k]);
    EXPECT_EQ(state->root_hand_weights[1][i], ip[k]);
    EXPECT_NEAR(state->normalised_root_weights[0][i] * z, oop[k], 1e-12);
    EXPECT_NEAR(state->normalised_root_weights[1][i] * z, ip[k], 1e-12);
  }

  // No possible deal: both hold only hands with the ace of spades.
  std::vector<double> a(kComboCount, 0.0), b(kComboCount, 0.0);
  a[ComboIndexOfCards(Card("As"), Card("Kd"))] = 1.0;
  b[ComboIndexOfCards(Card("As"), Card("Qd"))] = 0.3;
  b[ComboIndexOfCards(Card("As"), Card("Jd"))] = 0.1;
  MapHandsToRangeWeights(*state, a, b, hands);
  for (int p = 0; p < 2; ++p)
    for (double w : state->normalised_root_weights[p]) EXPECT_EQ(w, 0.0);
}

// Walks every (turn record, card list) and (river record, card list) and checks
// that the boards they stand for are the 49 x 48 real deals, each once, and that
// every hand maps to its suit image in the base list.
void ExpectEveryDealOnce(const SolverState& state) {
  const DealTree& tree = *state.deal_tree;
  const CardMask flop = tree.base_board;
  std::vector<int> turn_seen(52, 0);
  std::vector<int> pair_seen(52 * 52, 0);
  int turn_weight = 0;
  for (const TurnDealRecord& turn : tree.turn_records) {
    turn_weight += turn.weight;
    ASSERT_EQ(turn.card_lists.size(), static_cast<size_t>(turn.weight));
    const int t_suit = CardSuit(static_cast<int>(turn.turn_card));
    int river_weight = 0;
    for (const RiverDealRecord& river : turn.river_records) river_weight += river.weight;
    EXPECT_EQ(river_weight, 48);
    for (int j = 0; j < turn.weight; ++j) {
      const int real_turn = CardNumber(CardRank(static_cast<int>(turn.turn_card)), t_suit + j);
      ASSERT_FALSE(flop & CardBit(real_turn));
      ++turn_seen[real_turn];
      // Turn hands: the base hands that avoid the real turn, each once.
      std::vector<int> hand_seen(tree.hands.size(), 0);
      for (size_t k = 0; k < turn.hands.size(); ++k) {
        const int16_t index = turn.card_lists[j][k];
        ASSERT_GE(index, 0);
        ASSERT_EQ(tree.hands[index], SwapSuits(turn.hands[k], t_suit, t_suit + j));
        ++hand_seen[index];
      }
      for (size_t h = 0; h < tree.hands.size(); ++h)
        ASSERT_EQ(hand_seen[h], (tree.hands[h] & CardBit(real_turn)) ? 0 : 1);

      for (const RiverDealRecord& river : turn.river_records) {
        ASSERT_EQ(river.card_lists.size(), static_cast<size_t>(river.weight));
        const int r_suit = CardSuit(static_cast<int>(river.river_card));
        for (int i = 0; i < river.weight; ++i) {
          const CardMask river_in_turn =
              SwapSuits(CardBit(static_cast<int>(river.river_card)), r_suit, r_suit + i);
          const CardMask real_river = SwapSuits(river_in_turn, t_suit, t_suit + j);
          const int rc = __builtin_ctzll(real_river);
          ASSERT_FALSE((flop | CardBit(real_turn)) & real_river);
          ++pair_seen[real_turn * 52 + rc];
          std::vector<int> seen(tree.hands.size(), 0);
          for (size_t k = 0; k < river.hands.size(); ++k) {
            const int16_t in_turn = river.card_lists[i][k];
            ASSERT_GE(in_turn, 0);
            const int16_t in_flop = turn.card_lists[j][in_turn];
            const CardMask expected =
                SwapSuits(SwapSuits(river.hands[k], r_suit, r_suit + i), t_suit, t_suit + j);
            ASSERT_EQ(tree.hands[in_flop], expected);
            ++seen[in_flop];
          }
          for (size_t h = 0; h < tree.hands.size(); ++h)
            ASSERT_EQ(seen[h], (tree.hands[h] & (CardBit(real_turn) | real_river)) ? 0 : 1);
        }
      }
    }
  }
  EXPECT_EQ(turn_weight, 49);
  for (int t = 0; t < 52; ++t) {
    const bool dealable = !(flop & CardBit(t));
    EXPECT_EQ(turn_seen[t], dealable ? 1 : 0);
    for (int r = 0; r < 52; ++r) {
      const bool pair = dealable && r != t && !(flop & CardBit(r));
      ASSERT_EQ(pair_seen[t * 52 + r], pair ? 1 : 0) << t << " " << r;
    }
  }
}

TEST(DealTree, IsomorphicGroupsCoverEveryRealDealOnce) {
  for (const char* flop : {"KhTh4h", "Kh9h4s", "Ts7d2c", "8c8d8h", "AsAd2s"}) {
    SCOPED_TRACE(flop);
    auto state = Build(flop, "", "", true, ClassRange(3, 0.3), ClassRange(5, 0.3));
    EXPECT_TRUE(state->flags & ISOMORPHISM_ON);
    ExpectEveryDealOnce(*state);
  }
  // Without isomorphism the same walk holds trivially.
  auto state = Build("Kh9h4s", "", "", false, ClassRange(3), ClassRange(5));
  ExpectEveryDealOnce(*state);
}

TEST(DealTree, MonotoneFlopSharesTurnRecords) {
  auto state = Build("KhTh4h", "", "", true);
  const DealTree& tree = *state->deal_tree;
  EXPECT_EQ(tree.base_board, Cards("KcTc4c"));
  ASSERT_EQ(tree.turn_records.size(), 23u);
  for (int rank = 0; rank < 13; ++rank) {
    const int slot = tree.turn_slot_map[CardNumber(rank, 1)];
    ASSERT_GE(slot, 0);
    EXPECT_EQ(tree.turn_records[slot].weight, 3);
    EXPECT_EQ(tree.turn_slot_map[CardNumber(rank, 2)], -1);
    EXPECT_EQ(tree.turn_slot_map[CardNumber(rank, 3)], -1);
  }
}

TEST(DealTree, RealCardsFindTheirSlots) {
  for (bool isomorphism : {false, true}) {
    for (const char* flop : {"Kh9h4s", "QdQs5c", "Ts7d2c", "AhKhQh"}) {
      SCOPED_TRACE(flop);
      // Slots do not depend on the hands; a small range keeps the build short.
      auto state = Build(flop, "", "", isomorphism, ClassRange(9, 0.05), ClassRange(9, 0.05));
      const DealTree& tree = *state->deal_tree;
      const CardMask real_flop = Cards(flop);
      for (int t = 0; t < 52; ++t) {
        if (real_flop & CardBit(t)) continue;
        int turn_slot = -2, river_slot = -2;
        CanonicalizeCombo(*state, t, -1, turn_slot, river_slot);
        ASSERT_GE(turn_slot, 0);
        EXPECT_EQ(river_slot, -1);
        for (int r = 0; r < 52; ++r) {
          if ((real_flop | CardBit(t)) & CardBit(r)) continue;
          CanonicalizeCombo(*state, t, r, turn_slot, river_slot);
          ASSERT_GE(turn_slot, 0);
          ASSERT_GE(river_slot, 0);
          // The record's board is the real board in canonical suits.
          CardMask f = real_flop, tm = CardBit(t), rm = CardBit(r);
          if (isomorphism) {
            SuitMap map;
            CanonicalizeBoardSuits(map, f, tm, rm);
          }
          const RiverDealRecord& river = tree.turn_records[turn_slot].river_records[river_slot];
          ASSERT_EQ(river.board, f | tm | rm);
        }
      }
      int turn_slot = 0, river_slot = 0;
      CanonicalizeCombo(*state, -1, 5, turn_slot, river_slot);
      EXPECT_EQ(turn_slot, -1);
      EXPECT_EQ(river_slot, -1);
      const int on_flop = __builtin_ctzll(real_flop);
      CanonicalizeCombo(*state, on_flop, 5, turn_slot, river_slot);
      EXPECT_EQ(turn_slot, -1);
      EXPECT_EQ(river_slot, -1);
    }
  }
}

TEST(DealTree, AsymmetricRangeUnderIsomorphismFailsTheBuild) {
  // A turn tree with isomorphism: 2d stands for 2d, 2h and 2s below 5c, but only
  // AdKd is in play, so its images AhKh and AsKs are missing.
  std::vector<double> oop(kComboCount, 0.0), ip(kComboCount, 0.0);
  oop[ComboIndexOfCards(Card("Ad"), Card("Kd"))] = 1.0;
  ip[ComboIndexOfCards(Card("Qc"), Card("Jc"))] = 1.0;
  auto state = MakeState(STREET_TURN, 1);
  try {
    BuildChanceLevels(*state, Cards("2c3c4c"), Card("5c"), -1, oop, ip, true);
    FAIL() << "built";
  } catch (const CommandRefusal& refusal) {
    EXPECT_EQ(RefusalReply("build_tree", refusal),
              "ERROR: build_tree isomorph error: 2c 3c 4c 5c 2d  | Kd Ad  | Kh Ah \n");
  }
  EXPECT_EQ(state->deal_tree, nullptr);
  // Without isomorphism the same situation builds.
  auto plain = MakeState(STREET_TURN, 1);
  BuildChanceLevels(*plain, Cards("2c3c4c"), Card("5c"), -1, oop, ip, false);
  EXPECT_EQ(plain->deal_tree->hands.size(), 2u);
}

TEST(DealTree, BoardLayoutsFollowTheRiverHandCounts) {
  auto state = MakeState(STREET_TURN, 3);
  BuildChanceLevels(*state, Cards("Ah7d2c"), Card("Ks"), -1, kFullRange, kFullRange, false);
  ASSERT_EQ(state->board_layouts.size(), 4u);
  EXPECT_EQ(state->board_layouts[0], nullptr);
  for (int a = 1; a <= 3; ++a) {
    const BoardLayout& layout = *state->board_layouts[a];
    EXPECT_EQ(layout.actions, a);
    EXPECT_EQ(layout.turn_slots, 1);
    EXPECT_EQ(layout.board_count, 48);
    // 1081 hands per river board, rounded up to 1084 places per row.
    EXPECT_EQ(layout.value_count, 48 * 1081 * a);
    EXPECT_EQ(layout.value_places, 48 * 1084 * a);
    EXPECT_EQ(layout.boards[1].value_offset, 1084 * a);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(layout.boards) % 64, 0u);
  }
}

TEST(BoardLayout, OffsetsPadEveryRowToFourPlaces) {
  auto layout = MakeBoardLayout(2, {{45, 44}, {43}});
  EXPECT_EQ(layout->board_count, 3);
  EXPECT_EQ(layout->turn_slots, 2);
  EXPECT_EQ(layout->boards[0].value_offset, 0);
  EXPECT_EQ(layout->boards[1].value_offset, 96);
  EXPECT_EQ(layout->boards[2].value_offset, 184);
  EXPECT_EQ(layout->value_places, 272);
  EXPECT_EQ(layout->value_count, 264);
  EXPECT_EQ(layout->BoardIndex(1, 0), 2);
  EXPECT_EQ(layout->boards[layout->BoardIndex(1, 0)].hand_count, 43);
  EXPECT_EQ(layout->turn_index[1].first_board, 2);
  EXPECT_EQ(layout->turn_index[0].board_count, 2);
  EXPECT_EQ(layout->turn_ranges[0].value_offset, 0);
  EXPECT_EQ(layout->turn_ranges[0].value_places, 184);
  EXPECT_EQ(layout->turn_ranges[1].value_offset, 184);
  EXPECT_EQ(layout->turn_ranges[1].value_places, 88);
}

TEST(DealTree, FullFlopBuildIsFast) {
  for (bool isomorphism : {false, true}) {
    auto state = MakeState(STREET_FLOP, 3);
    const auto start = std::chrono::steady_clock::now();
    BuildChanceLevels(*state, Cards("Kh9h4s"), -1, -1, kFullRange, kFullRange, isomorphism);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("flop deal tree with full ranges, isomorphism %d: %.1f ms\n", isomorphism, ms);
    RecordProperty(isomorphism ? "isomorphic_ms" : "plain_ms", static_cast<int>(ms));
    EXPECT_FALSE(state->deal_tree->turn_records.empty());
  }
}

TEST(DealTree, RiverGroupsPutTheDominantSuitLast) {
  TurnDealRecord turn;
  turn.board = Cards("2c7cKc5d");
  GroupIsomorphicCards(turn.board, true, turn, 1);
  // Suits 0 and 1 singly (10 + 12), suit 2 for hearts and spades (13 x 2).
  ASSERT_EQ(turn.river_records.size(), 35u);
  int total = 0;
  bool in_dominant = false;
  for (size_t slot = 0; slot < turn.river_records.size(); ++slot) {
    const RiverDealRecord& river = turn.river_records[slot];
    const int card = static_cast<int>(river.river_card);
    total += river.weight;
    EXPECT_EQ(river.hand_group_flag, 1u);
    EXPECT_EQ(river.board, turn.board | CardBit(card));
    EXPECT_EQ(river.card_lists.size(), static_cast<size_t>(river.weight));
    EXPECT_EQ(river.weight, CardSuit(card) == 2 ? 2 : 1);
    EXPECT_EQ(turn.river_slot_map[card], static_cast<int>(slot));
    // Clubs (three board cards) come after every other card, by rank then suit.
    if (CardSuit(card) == 0) in_dominant = true;
    EXPECT_EQ(CardSuit(card) == 0, in_dominant);
    if (slot > 0 && CardSuit(card) != 0) {
      const int before = static_cast<int>(turn.river_records[slot - 1].river_card);
      EXPECT_LE(CardRank(before), CardRank(card));
    }
  }
  EXPECT_EQ(total, 48);
  int mapped = 0;
  for (int card = 0; card < 52; ++card) mapped += turn.river_slot_map[card] >= 0;
  EXPECT_EQ(mapped, 35);
  for (int card : {CardNumber(0, 3), CardNumber(12, 3)}) EXPECT_EQ(turn.river_slot_map[card], -1);
}

}  // namespace
