#include "cards/suit_isomorphism.h"

#include <algorithm>

#include "cards/combo_tables.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

constexpr CardMask kSuitField = 0x1FFF;

inline int LowestCard(CardMask mask) { return __builtin_ctzll(mask); }

}  // namespace

SuitMap MakeCanonicalSuitMap(CardMask flop, CardMask turn, CardMask river) {
  SuitMap map = {kUnassignedSuit, kUnassignedSuit, kUnassignedSuit, kUnassignedSuit};
  int counts[4];
  for (int s = 0; s < 4; ++s) counts[s] = SuitCardCount(flop, s);
  uint8_t next = 0;
  // Flop suits by falling card count, ties to the lower real suit; with three
  // flop cards this is the dominant suit first, or the suits in order (rainbow).
  for (int wanted = kRankCount; wanted >= 1; --wanted)
    for (int s = 0; s < 4; ++s)
      if (counts[s] == wanted) map[s] = next++;
  if (turn) {
    const int s = CardSuit(LowestCard(turn));
    if (map[s] == kUnassignedSuit) map[s] = next++;
  }
  if (river) {
    const int s = CardSuit(LowestCard(river));
    if (map[s] == kUnassignedSuit) map[s] = next++;
  }
  for (int s = 0; s < 4; ++s)
    if (map[s] == kUnassignedSuit) map[s] = next++;
  return map;
}

CardMask ApplySuitMap(const SuitMap& map, CardMask mask) {
  CardMask result = 0;
  for (int s = 0; s < 4; ++s) result |= ((mask >> (13 * s)) & kSuitField) << (13 * map[s]);
  return result;
}

void CanonicalizeBoardSuits(SuitMap& map, CardMask& flop, CardMask& turn, CardMask& river) {
  map = MakeCanonicalSuitMap(flop, turn, river);
  flop = ApplySuitMap(map, flop);
  if (turn) turn = ApplySuitMap(map, turn);
  if (river) river = ApplySuitMap(map, river);
}

void PermuteComboArrayBySuits(CardMask flop, CardMask turn, CardMask river, double* out,
                              const double* in, bool to_real) {
  const SuitMap map = MakeCanonicalSuitMap(flop, turn, river);
  int k = 0;
  for (int hi = 1; hi < kCardCount; ++hi) {
    const int mapped_hi = MapCardSuit(map, hi);
    for (int lo = 0; lo < hi; ++lo, ++k) {
      const int m = ComboIndexOfCards(mapped_hi, MapCardSuit(map, lo));
      if (to_real)
        out[k] = in[m];
      else
        out[m] = in[k];
    }
  }
}

void CanonicalizeCombo(const SolverState& state, int turn_card, int river_card,
                       int& turn_slot, int& river_slot) {
  turn_slot = kNoSlot;
  river_slot = kNoSlot;
  const DealTree* tree = state.deal_tree.get();
  if (!tree || turn_card < 0 || turn_card >= kCardCount) return;
  const bool have_river = river_card >= 0 && river_card < kCardCount;
  if (state.flags & ISOMORPHISM_ON) {
    // The turn's suit is numbered before the river's, as when the tree was built.
    const SuitMap map = MakeCanonicalSuitMap(state.flop_mask, CardBit(turn_card),
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

std::vector<NextCardGroup> MakeNextCardGroups(CardMask board, bool isomorphism) {
  std::vector<NextCardGroup> groups;
  groups.reserve(kCardCount);
  // A canonical board occupies suits 0..k-1. Taking k past the highest occupied
  // suit keeps the grouping sound for any board: suits k..3 are always empty.
  int k = kSuitCount;
  if (isomorphism) {
    k = 0;
    for (int s = 0; s < kSuitCount; ++s)
      if (SuitCardCount(board, s) > 0) k = s + 1;
  }
  for (int card = 0; card < 13 * k; ++card)
    if (!(board & CardBit(card))) groups.push_back({0, 1, static_cast<uint32_t>(card)});
  if (k < kSuitCount)
    for (int rank = 0; rank < kRankCount; ++rank)
      groups.push_back(
          {0, static_cast<uint32_t>(kSuitCount - k), static_cast<uint32_t>(CardNumber(rank, k))});
  return groups;
}

void GroupIsomorphicCards(CardMask board, bool isomorphism, TurnDealRecord& parent,
                          uint32_t hand_group_flag) {
  std::vector<NextCardGroup> groups = MakeNextCardGroups(board, isomorphism);

  int dominant = -1, best = 1;
  for (int s = 0; s < kSuitCount; ++s) {
    const int count = SuitCardCount(board, s);
    if (count > best) best = count, dominant = s;
  }
  // Off the dominant suit first, then by rank, then by suit; the key is unique.
  auto key = [dominant](const NextCardGroup& g) {
    const int card = static_cast<int>(g.card);
    return (CardSuit(card) == dominant ? 1000 : 0) + 10 * CardRank(card) + CardSuit(card);
  };
  std::sort(groups.begin(), groups.end(),
            [&key](const NextCardGroup& a, const NextCardGroup& b) { return key(a) < key(b); });

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
