#include "cards/suit_isomorphism.h"

#include <algorithm>

#include "cards/combo_tables.h"

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

std::vector<NextCardGroup> MakeRiverCardGroups(CardMask board, bool isomorphism) {
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
  return groups;
}
