#pragma once
// A hand ranking written from the rules of poker, independent of the engine's
// evaluator: the best five of five to seven cards by category and tie-breaking
// ranks; three and four cards by their groups of equal ranks.
#include <algorithm>
#include <array>
#include <cstdint>

namespace poker_reference {

// Category, then the ranks that break ties, most important first; -1 pads.
using RefKey = std::array<int, 6>;

enum RefCategory {
  kHigh, kPair, kTwoPair, kTrips, kStraight, kFlush, kFull, kQuads, kStraightFlush
};

inline int Rank(int card) { return card % 13; }
inline int Suit(int card) { return card / 13; }

// Ranks grouped by how often they occur: larger groups first, higher ranks first
// within a size.
struct Group {
  int count, rank;
};
struct Groups {
  Group items[7];
  int size = 0;
  const Group& operator[](int i) const { return items[i]; }
};

inline Groups RankGroups(const int* cards, int n) {
  int counts[13] = {};
  for (int i = 0; i < n; ++i) ++counts[Rank(cards[i])];
  Groups groups;
  for (int size = 4; size >= 1; --size)
    for (int r = 12; r >= 0; --r)
      if (counts[r] == size) groups.items[groups.size++] = {size, r};
  return groups;
}

// The category of a hand without a straight or a flush, from the sizes of its
// two largest rank groups.
inline int GroupCategory(const Groups& groups) {
  const int top = groups[0].count, second = groups.size > 1 ? groups[1].count : 0;
  if (top == 4) return kQuads;
  if (top == 3 && second == 2) return kFull;
  if (top == 3) return kTrips;
  if (top == 2 && second == 2) return kTwoPair;
  if (top == 2) return kPair;
  return kHigh;
}

// Three or four cards: no straights or flushes.
inline RefKey RefSmallHand(const int* cards, int n) {
  const auto groups = RankGroups(cards, n);
  RefKey key;
  key.fill(-1);
  key[0] = GroupCategory(groups);
  for (int i = 0; i < groups.size; ++i) key[1 + i] = groups[i].rank;
  return key;
}

inline RefKey RefFive(const int* cards) {
  const auto groups = RankGroups(cards, 5);
  bool flush = true;
  for (int i = 1; i < 5; ++i) flush = flush && Suit(cards[i]) == Suit(cards[0]);
  int straight_top = -1;
  if (groups.size == 5) {
    const int high = groups[0].rank, low = groups[4].rank;
    if (high - low == 4) straight_top = high;
    // A-2-3-4-5: the ace plays low.
    if (high == 12 && groups[1].rank == 3 && low == 0) straight_top = 3;
  }
  RefKey key;
  key.fill(-1);
  if (straight_top >= 0) {
    key[0] = flush ? kStraightFlush : kStraight;
    key[1] = straight_top;
    return key;
  }
  key[0] = flush ? kFlush : GroupCategory(groups);
  for (int i = 0; i < groups.size; ++i) key[1 + i] = groups[i].rank;
  return key;
}

// The best five of five to seven cards; three and four cards as they are.
inline RefKey RefBest(const int* cards, int n) {
  if (n < 5) return RefSmallHand(cards, n);
  RefKey best;
  best.fill(-2);
  int pick[5];
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b)
      for (int c = b + 1; c < n; ++c)
        for (int d = c + 1; d < n; ++d)
          for (int e = d + 1; e < n; ++e) {
            pick[0] = cards[a], pick[1] = cards[b], pick[2] = cards[c], pick[3] = cards[d],
            pick[4] = cards[e];
            best = std::max(best, RefFive(pick));
          }
  return best;
}

// The reference key in the engine's layout: category, then the tie-break ranks
// left-aligned in the five 4-bit fields.
inline uint32_t EncodeRefKey(const RefKey& key) {
  uint32_t value = static_cast<uint32_t>(key[0]) << 24;
  for (int i = 0; i < 5; ++i)
    if (key[1 + i] >= 0) value |= static_cast<uint32_t>(key[1 + i]) << (16 - 4 * i);
  return value;
}

}  // namespace poker_reference
