#pragma once
// Seven-card hand evaluator: three to seven cards to one 32-bit HandValue, a
// larger value being a stronger hand and equal values a tie. Each evaluation is
// a union, an exclusive-or, a few look-ups in four tables indexed by a 13-bit
// rank mask and, for the rarer patterns, a switch on the number of distinct ranks.
#include <array>
#include <cstddef>
#include <cstdint>

#include "cards/card.h"
#include "platform/isa_dispatch.h"

// Four 16-bit suit fields (clubs in bits 0..15, then diamonds, hearts, spades);
// bit r of a field is the card of rank r in that suit. A card 13 * suit + rank
// sets bit rank + 16 * suit; bits 13..15 of every field stay clear.
using HandBits = uint64_t;

// Category (0 high card ... 8 straight flush) in bits 24..27, then up to five
// 4-bit rank fields at bits 16, 12, 8, 4 and 0, left-aligned at the first.
using HandValue = uint32_t;

enum HandCategory : uint32_t {
  HIGH_CARD = 0,
  ONE_PAIR = 1,
  TWO_PAIR = 2,
  THREE_OF_A_KIND = 3,
  STRAIGHT = 4,
  FLUSH = 5,
  FULL_HOUSE = 6,
  FOUR_OF_A_KIND = 7,
  STRAIGHT_FLUSH = 8,
};

inline uint32_t HandValueCategory(HandValue value) { return value >> 24; }
// Rank field 0 (first, bits 16..19) to 4 (fifth, bits 0..3).
inline uint32_t HandValueField(HandValue value, int field) {
  return (value >> (16 - 4 * field)) & 0xF;
}

// Entries 0..8128 (8128 is the largest mask of at most seven ranks).
constexpr size_t kEvalTableSize = 8129;

// Filled once by InitHandEvaluator and read-only afterwards.
extern uint32_t* g_eval_rank_count;  // number of ranks in the mask
extern uint32_t* g_eval_top_rank;    // highest rank in the mask
extern uint32_t* g_eval_top_five;    // up to five highest ranks as nibbles, highest first
extern uint32_t* g_eval_straight;    // HandValue of the highest straight, or 0
extern bool g_eval_ready;

// Builds the four tables; later calls return true at once. False when the
// tables cannot be allocated.
bool InitHandEvaluator();

// Exactly that many distinct cards; 0 when the number of distinct ranks cannot
// occur with that many cards.
HandValue EvaluateHand7(HandBits hand);
HandValue EvaluateHand6(HandBits hand);
HandValue EvaluateHand5(HandBits hand);
HandValue EvaluateHand4(HandBits hand);
HandValue EvaluateHand3(HandBits hand);

// The evaluations compiled per instruction set, one table per build
// (Kernels<HandEvaluatorKernels>() is the one in use).
struct HandEvaluatorKernels {
  // Cards as 13 * suit + rank; count 3..7 (any other count gives 0).
  HandValue (*EvaluateCardArray)(const uint8_t* cards, int count);

  // Values of many hands on one board (one to five cards), as the showdown
  // orders need them: values[i] is the value of the board plus the two cards of
  // hands[i]; 0xFFFFFFFF (-1 as a signed value) for a hand that is not two
  // cards off the board, the empty mask among them.
  void (*EvaluateHandsOnBoard)(CardMask board, const CardMask* hands, size_t count,
                               uint32_t* values);
};
TDX_KERNEL_TABLES(HandEvaluatorKernels)

// A combination as the hand classifier keeps it: value non-zero for an active
// combination (its HandValue once evaluated), the two cards in the descending
// numbering 51 - (4 * rank + suit).
struct ClassifierRecord {
  uint32_t value;
  uint16_t first_card;
  uint16_t second_card;
};

// Gives every active record the value of the board (3..5 cards in the descending
// numbering) plus its two cards.
void EvaluateClassifierRecords(ClassifierRecord* records, size_t count,
                               const uint32_t* board_cards, int board_count);

// ---------------------------------------------------------------------------
// Card conversions.

inline constexpr std::array<HandBits, 52> kCardHandBits = [] {
  std::array<HandBits, 52> bits{};
  for (int card = 0; card < 52; ++card)
    bits[card] = HandBits{1} << (card % 13 + 16 * (card / 13));
  return bits;
}();

// Descending numbering: 0 = As, 1 = Ah, 2 = Ad, 3 = Ac, 4 = Ks, ..., 51 = 2c.
inline constexpr std::array<HandBits, 52> kDescendingCardHandBits = [] {
  std::array<HandBits, 52> bits{};
  for (int number = 0; number < 52; ++number) {
    const int rank = 12 - number / 4, suit = 3 - number % 4;
    bits[number] = HandBits{1} << (rank + 16 * suit);
  }
  return bits;
}();

// A CardMask's 13-bit suit fields moved into the 16-bit fields.
inline HandBits CardMaskToHandBits(CardMask mask) {
  return (mask & 0x1FFF) | ((mask & (0x1FFFull << 13)) << 3) |
         ((mask & (0x1FFFull << 26)) << 6) | ((mask & (0x1FFFull << 39)) << 9);
}

// ---------------------------------------------------------------------------
// The evaluation itself, inline so that every build compiles it with its own
// instructions. The functions are static: each translation unit keeps its own
// copy, and a baseline caller never links to an AVX2 body.
namespace hand_eval_core {

[[gnu::always_inline]] static inline uint32_t RankCount(uint32_t mask) {
#if defined(__POPCNT__)
  return static_cast<uint32_t>(__builtin_popcount(mask));
#else
  // Every mask past the table (above the top seven ranks) holds eight ranks
  // or more, which no hand of up to seven cards has.
  return mask < kEvalTableSize ? g_eval_rank_count[mask] : 8u;
#endif
}

// Highest rank of a non-empty mask.
[[gnu::always_inline]] static inline uint32_t TopRank(uint32_t mask) {
  return 31u - static_cast<uint32_t>(__builtin_clz(mask));
}

// Cards n = 5, 6 or 7. Each pattern of repeats is recognised as it occurs with
// seven cards; with fewer cards the same pattern has 7 - n fewer single ranks,
// so the switch runs on distinct + 7 - n and only the kicker counts change.
template <int n>
[[gnu::always_inline]] static inline HandValue EvaluateFiveToSeven(HandBits hand) {
  static_assert(n >= 5 && n <= 7);
  constexpr uint32_t missing = 7 - n;
  const uint32_t c = static_cast<uint32_t>(hand) & 0x1FFF;
  const uint32_t d = static_cast<uint32_t>(hand >> 16) & 0x1FFF;
  const uint32_t h = static_cast<uint32_t>(hand >> 32) & 0x1FFF;
  const uint32_t s = static_cast<uint32_t>(hand >> 48) & 0x1FFF;
  const uint32_t u = c | d | h | s;
  const uint32_t odd = c ^ d ^ h ^ s;  // ranks held in one or three suits
  const uint32_t distinct = RankCount(u);
  // More ranks than cards is no hand of this size (and a rank set past seven
  // ranks would index past the tables).
  if (distinct > n) return 0;

  if (distinct >= 5) {
    // At most one suit can hold five of n <= 7 cards.
    const uint32_t in_c = RankCount(c), in_d = RankCount(d);
    const uint32_t in_h = RankCount(h), in_s = RankCount(s);
    if ((in_c >= 5) | (in_d >= 5) | (in_h >= 5) | (in_s >= 5)) {
      const uint32_t flush = in_c >= 5 ? c : in_d >= 5 ? d : in_h >= 5 ? h : s;
      const uint32_t straight = g_eval_straight[flush];
      if (straight != 0) return straight + 0x4000000;
      return 0x5000000 | g_eval_top_five[flush];
    }
    const uint32_t straight = g_eval_straight[u];
    if (straight != 0) return straight;
  }
  if (distinct < 2) return 0;

  const uint32_t pattern = distinct + missing;
  if (pattern >= 5) {
    // High card (7), one pair (6), two pair or trips (5): the common hands, laid
    // out without branches as the ranks of the main group (the pairs or the
    // trips) followed by the highest remaining ranks as kickers. Random hands
    // fall into these cases unpredictably, so a switch would mispredict.
    const bool trips_hand = pattern == 5 && RankCount(odd) == 5 - missing;
    const uint32_t cd = c & d;
    const uint32_t trips = cd != 0 ? cd : (h & s);  // a trips rank misses one suit
    const uint32_t paired = 7 - pattern;            // number of pairs otherwise
    const uint32_t group = trips_hand ? trips : (u ^ odd);
    const uint32_t category = trips_hand ? 3 : paired;
    const uint32_t group_ranks = trips_hand ? 1 : paired;
    const uint32_t kickers = trips_hand ? 2 : 5 - 2 * paired;
    const uint32_t rest = u ^ group;
    const uint32_t rest_ranks = distinct - group_ranks;
    const uint32_t rest_nibbles = rest_ranks < 5 ? rest_ranks : 5;
    return category << 24 | g_eval_top_five[group] << (4 * (5 - group_ranks)) |
           (g_eval_top_five[rest] >> (4 * (rest_nibbles - kickers)))
               << (4 * (5 - group_ranks - kickers));
  }

  switch (pattern) {
    case 4: {
      if (n >= 6 && RankCount(odd) == 1 - missing) {
        // Three pairs (and one single with seven cards): the two highest pairs,
        // then the better of the lowest pair and the single.
        const uint32_t pairs = u ^ odd;
        const uint32_t lowest = pairs & (0u - pairs);
        return 0x2000000 | (g_eval_top_five[pairs] >> 4) << 12 | TopRank(lowest | odd) << 8;
      }
      const uint32_t quads = c & d & h & s;
      if (quads != 0) return 0x7000000 | TopRank(quads) << 16 | TopRank(odd) << 12;
      // Trips, a pair and n - 5 single ranks.
      const uint32_t pair = u ^ odd;
      const uint32_t cd = (c & d) & ~pair;
      const uint32_t trips = cd != 0 ? cd : (h & s) & ~pair;
      return 0x6000000 | TopRank(trips) << 16 | TopRank(pair) << 12;
    }
    case 3: {
      if (n >= 6 && RankCount(odd) == 3 - missing) {
        // Two trips (and one single with seven cards): the ranks held by at
        // least two suits are exactly the two trips.
        const uint32_t two_or_more = (c & d) | (c & h) | (c & s) | (d & h) | (d & s) | (h & s);
        return 0x6000000 | g_eval_top_five[two_or_more] << 12;
      }
      const uint32_t quads = c & d & h & s;
      if (quads != 0) return 0x7000000 | TopRank(quads) << 16 | TopRank(u ^ quads) << 12;
      if (n != 7) return 0;
      // Trips and two pairs: odd holds only the trips.
      return 0x6000000 | TopRank(odd) << 16 | TopRank(u ^ odd) << 12;
    }
    case 2: {  // seven cards only: four and three of a kind
      const uint32_t quads = c & d & h & s;
      if (n != 7 || quads == 0) return 0;
      return 0x7000000 | TopRank(quads) << 16 | TopRank(u ^ quads) << 12;
    }
    default:
      return 0;
  }
}

[[gnu::always_inline]] static inline HandValue EvaluateFour(HandBits hand) {
  const uint32_t c = static_cast<uint32_t>(hand) & 0x1FFF;
  const uint32_t d = static_cast<uint32_t>(hand >> 16) & 0x1FFF;
  const uint32_t h = static_cast<uint32_t>(hand >> 32) & 0x1FFF;
  const uint32_t s = static_cast<uint32_t>(hand >> 48) & 0x1FFF;
  const uint32_t u = c | d | h | s;
  const uint32_t odd = c ^ d ^ h ^ s;
  switch (RankCount(u)) {
    case 1:
      return 0x7000000 | TopRank(u) << 16;
    case 2: {
      if (odd == 0) return 0x2000000 | g_eval_top_five[u] << 12;
      const uint32_t cd = c & d;
      const uint32_t trips = cd != 0 ? cd : (h & s);
      return 0x3000000 | TopRank(trips) << 16 | TopRank(u ^ trips) << 12;
    }
    case 3:
      return 0x1000000 | TopRank(u ^ odd) << 16 | g_eval_top_five[odd] << 8;
    case 4:
      return g_eval_top_five[u] << 4;
    default:
      return 0;
  }
}

[[gnu::always_inline]] static inline HandValue EvaluateThree(HandBits hand) {
  const uint32_t c = static_cast<uint32_t>(hand) & 0x1FFF;
  const uint32_t d = static_cast<uint32_t>(hand >> 16) & 0x1FFF;
  const uint32_t h = static_cast<uint32_t>(hand >> 32) & 0x1FFF;
  const uint32_t s = static_cast<uint32_t>(hand >> 48) & 0x1FFF;
  const uint32_t u = c | d | h | s;
  const uint32_t odd = c ^ d ^ h ^ s;
  switch (RankCount(u)) {
    case 1:
      return 0x3000000 | TopRank(u) << 16;
    case 2:
      return 0x1000000 | TopRank(u ^ odd) << 16 | TopRank(odd) << 12;
    case 3:
      return g_eval_top_five[u] << 8;
    default:
      return 0;
  }
}

// By card count; 0 outside 3..7.
[[gnu::always_inline]] static inline HandValue EvaluateCount(HandBits hand, int count) {
  switch (count) {
    case 7:
      return EvaluateFiveToSeven<7>(hand);
    case 6:
      return EvaluateFiveToSeven<6>(hand);
    case 5:
      return EvaluateFiveToSeven<5>(hand);
    case 4:
      return EvaluateFour(hand);
    case 3:
      return EvaluateThree(hand);
    default:
      return 0;
  }
}

}  // namespace hand_eval_core
