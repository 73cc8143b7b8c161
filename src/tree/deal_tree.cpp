#include "tree/deal_tree.h"

#include <algorithm>
#include <memory>

#include "cards/combo_tables.h"
#include "cards/showdown_prep.h"
#include "cards/suit_isomorphism.h"
#include "protocol/command_error.h"
#include "tree/showdown_order.h"
#include "tree/tree_records.h"

namespace {

constexpr int16_t kNoHand = -1;

inline bool IsCard(int card) { return card >= 0 && card < kCardCount; }

inline int ComboIndexOfMask(CardMask mask) {
  return ComboIndexOfCards(__builtin_ctzll(mask), 63 - __builtin_clzll(mask));
}

Street StreetOfCards(int turn_card, int river_card) {
  if (turn_card >= 0 && river_card >= 0) return STREET_RIVER;
  if (turn_card >= 0 || river_card >= 0) return STREET_TURN;
  return STREET_FLOP;
}

const std::vector<CardMask>& StartingHandList(const GameTree& game) {
  const DealTree& tree = *game.deal_tree;
  if (game.start_turn_slot < 0) return tree.hands;
  const TurnDealRecord& turn = tree.turn_records[game.start_turn_slot];
  if (game.start_river_slot < 0) return turn.hands;
  return turn.river_records[game.start_river_slot].hands;
}

}  // namespace

void GroupIsomorphicCards(CardMask board, bool isomorphism, TurnDealRecord& parent,
                          uint32_t hand_group_flag) {
  const std::vector<NextCardGroup> groups = MakeRiverCardGroups(board, isomorphism);
  if (parent.river_slot_map.size() != static_cast<size_t>(kCardCount))
    parent.river_slot_map.assign(kCardCount, static_cast<int16_t>(kNoSlot));
  parent.river_records.reserve(parent.river_records.size() + groups.size());
  for (const NextCardGroup& group : groups) {
    parent.river_slot_map[group.card] = static_cast<int16_t>(parent.river_records.size());
    RiverDealRecord& river = parent.river_records.emplace_back();
    river.hand_group_flag = hand_group_flag;
    river.board = parent.board | CardBit(static_cast<int>(group.card));
    river.river_card = group.card;
    river.weight = static_cast<int32_t>(group.weight);
    river.card_lists.resize(group.weight);
  }
}

void CanonicalizeCombo(const GameTree& game, int turn_card, int river_card,
                       int& turn_slot, int& river_slot) {
  turn_slot = kNoSlot;
  river_slot = kNoSlot;
  const DealTree* tree = game.deal_tree.get();
  if (!tree || turn_card < 0 || turn_card >= kCardCount) return;
  const bool have_river = river_card >= 0 && river_card < kCardCount;
  if (game.flags & ISOMORPHISM_ON) {
    // The turn's suit is numbered before the river's, as when the tree was built.
    const SuitMap map = MakeCanonicalSuitMap(game.flop_mask, CardBit(turn_card),
                                             have_river ? CardBit(river_card) : 0);
    turn_card = MapCardSuit(map, turn_card);
    if (have_river) river_card = MapCardSuit(map, river_card);
  }
  if (static_cast<size_t>(turn_card) >= tree->turn_slot_map.size()) return;
  turn_slot = tree->turn_slot_map[turn_card];
  if (turn_slot < 0) {
    turn_slot = kNoSlot;
    return;
  }
  if (!have_river) return;
  const TurnDealRecord& record = tree->turn_records[turn_slot];
  if (static_cast<size_t>(river_card) >= record.river_slot_map.size()) return;
  river_slot = record.river_slot_map[river_card];
  if (river_slot < 0) river_slot = kNoSlot;
}

void BuildDealtLevel(DealTree& tree, int turn_card, int weight, uint32_t deal_flag,
                     int river_card, bool isomorphism) {
  TurnDealRecord& turn = tree.turn_records.emplace_back();
  turn.board = tree.base_board | CardBit(turn_card);
  turn.turn_card = static_cast<uint32_t>(turn_card);
  turn.weight = weight;
  turn.card_lists.resize(static_cast<size_t>(weight));
  turn.river_slot_map.assign(kCardCount, static_cast<int16_t>(kNoSlot));
  if (river_card < 0) {
    GroupIsomorphicCards(turn.board, isomorphism, turn, deal_flag);
    return;
  }
  turn.river_slot_map[river_card] = 0;
  RiverDealRecord& river = turn.river_records.emplace_back();
  river.hand_group_flag = deal_flag;
  river.board = turn.board | CardBit(river_card);
  river.river_card = static_cast<uint32_t>(river_card);
  river.weight = 1;
  river.card_lists.resize(1);
}

void InitDealTree(DealTree& tree, CardMask base_board, uint32_t deal_flag, int turn_card,
                  int river_card, bool isomorphism) {
  tree.base_board = base_board;
  tree.turn_slot_map.assign(kCardCount, static_cast<int16_t>(kNoSlot));
  tree.turn_slot_map[turn_card] = 0;
  BuildDealtLevel(tree, turn_card, 1, deal_flag, river_card, isomorphism);
}

void BuildNodeComboLists(DealTree& tree, const std::vector<double>& oop_weights,
                         const std::vector<double>& ip_weights) {
  tree.hands.clear();
  tree.combo_map.assign(kComboCount, kNoHand);
  int k = 0;
  for (int hi = 1; hi < kCardCount; ++hi)
    for (int lo = 0; lo < hi; ++lo, ++k) {
      const CardMask mask = CardBit(hi) | CardBit(lo);
      if ((mask & tree.base_board) != 0) continue;
      if (!(oop_weights[k] > 0.0) && !(ip_weights[k] > 0.0)) continue;
      tree.combo_map[k] = static_cast<int16_t>(tree.hands.size());
      tree.hands.push_back(mask);
    }
  FillHandCards(tree.hands, tree.hand_cards);

  tree.turn_hand_counts.clear();
  tree.river_hand_counts.clear();
  for (TurnDealRecord& turn : tree.turn_records) {
    PrepareShowdown(turn, tree.hands, tree.combo_map);
    tree.turn_hand_counts.push_back(static_cast<uint32_t>(turn.hands.size()));
    tree.river_hand_counts.push_back(turn.river_hand_counts);
  }
}

void MapHandsToRangeWeights(GameTree& game, const std::vector<double>& oop_weights,
                            const std::vector<double>& ip_weights,
                            const std::vector<CardMask>& hands) {
  const size_t n = hands.size();
  std::vector<double>& oop = game.root_hand_weights[PLAYER_OOP];
  std::vector<double>& ip = game.root_hand_weights[PLAYER_IP];
  oop.clear();
  ip.clear();
  oop.reserve(n);
  ip.reserve(n);
  for (CardMask hand : hands) {
    const int k = ComboIndexOfMask(hand);
    oop.push_back(oop_weights[k]);
    ip.push_back(ip_weights[k]);
  }

  // Z summed pair by pair: a per-card inclusion-exclusion would cancel large
  // sums and could leave rounding noise where no deal is possible.
  double z = 0.0;
  for (size_t i = 0; i < n; ++i) {
    if (oop[i] == 0.0) continue;
    const CardMask hand = hands[i];
    double disjoint = 0.0;
    for (size_t j = 0; j < n; ++j) disjoint += (hands[j] & hand) == 0 ? ip[j] : 0.0;
    z += oop[i] * disjoint;
  }

  for (int p = 0; p < 2; ++p) {
    std::vector<double>& normalised = game.normalised_root_weights[p];
    normalised.assign(n, 0.0);
    if (z > 0.0)
      for (size_t i = 0; i < n; ++i) normalised[i] = game.root_hand_weights[p][i] / z;
  }
}

void BuildChanceLevels(GameTree& game, CardMask flop, int turn_card, int river_card,
                       const std::vector<double>& oop_range,
                       const std::vector<double>& ip_range, bool isomorphism) {
  const Street root_street =
      game.nodes.empty() ? StreetOfCards(turn_card, river_card) : game.nodes[0].street;
  if (root_street < STREET_TURN) turn_card = -1;
  if (root_street < STREET_RIVER) river_card = -1;
  // Refuse what would index outside the records: a board that is not three
  // flop cards plus distinct turn and river cards where the root needs them.
  const bool turn_ok =
      root_street < STREET_TURN || (IsCard(turn_card) && !(flop & CardBit(turn_card)));
  const bool river_ok =
      root_street < STREET_RIVER ||
      (IsCard(river_card) && river_card != turn_card && !(flop & CardBit(river_card)));
  if (CardCount(flop) != 3 || !turn_ok || !river_ok) ThrowRefusal("board not set");
  if (oop_range.size() != static_cast<size_t>(kComboCount) ||
      ip_range.size() != static_cast<size_t>(kComboCount))
    ThrowRefusal("ranges not set");

  if (isomorphism) game.flags |= ISOMORPHISM_ON;
  const CardMask real_turn = turn_card >= 0 ? CardBit(turn_card) : 0;
  const CardMask real_river = river_card >= 0 ? CardBit(river_card) : 0;
  game.flop_mask = flop;
  game.board_mask = flop | real_turn | real_river;
  game.start_turn_card = turn_card;
  game.start_river_card = river_card;

  CardMask base = flop, turn = real_turn, river = real_river;
  if (isomorphism) {
    SuitMap map;
    CanonicalizeBoardSuits(map, base, turn, river);
    if (turn) turn_card = __builtin_ctzll(turn);
    if (river) river_card = __builtin_ctzll(river);
  }

  game.ranges[PLAYER_OOP] = oop_range;
  game.ranges[PLAYER_IP] = ip_range;
  std::vector<double> working[2];
  for (int p = 0; p < 2; ++p) {
    if (isomorphism) {
      working[p].resize(kComboCount);
      PermuteComboArrayBySuits(flop, real_turn, real_river, working[p].data(),
                               game.ranges[p].data(), false);
    } else {
      working[p] = game.ranges[p];
    }
  }

  auto tree = std::make_unique<DealTree>();
  const uint32_t deal_flag = static_cast<uint32_t>(game.deal_flag);
  game.start_turn_slot = kNoSlot;
  game.start_river_slot = kNoSlot;
  if (root_street < STREET_TURN) {
    tree->base_board = base;
    tree->turn_slot_map.assign(kCardCount, static_cast<int16_t>(kNoSlot));
    // The turn groups in the grouping's own order: no sorting at this level.
    const std::vector<NextCardGroup> groups = MakeNextCardGroups(base, isomorphism);
    tree->turn_records.reserve(groups.size());
    for (const NextCardGroup& group : groups) {
      tree->turn_slot_map[group.card] = static_cast<int16_t>(tree->turn_records.size());
      BuildDealtLevel(*tree, static_cast<int>(group.card), static_cast<int>(group.weight),
                      deal_flag, -1, isomorphism);
    }
  } else {
    InitDealTree(*tree, base, deal_flag, turn_card,
                 root_street >= STREET_RIVER ? river_card : -1, isomorphism);
    game.start_turn_slot = tree->turn_slot_map[turn_card];
    if (root_street >= STREET_RIVER)
      game.start_river_slot = tree->turn_records[game.start_turn_slot].river_slot_map[river_card];
  }

  // Throws on a missing suit image; the half-built tree goes with the exception.
  BuildNodeComboLists(*tree, working[0], working[1]);
  game.deal_tree = std::move(tree);

  MapHandsToRangeWeights(game, working[0], working[1], StartingHandList(game));

  game.board_layouts.clear();
  game.board_layouts.resize(static_cast<size_t>(std::max(game.max_actions, 0)) + 1);
  for (int a = 1; a <= game.max_actions; ++a)
    game.board_layouts[a] = MakeBoardLayout(a, game.deal_tree->river_hand_counts);
}
