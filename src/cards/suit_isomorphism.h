#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "cards/card.h"

// Boards that differ only by a renaming of suits play alike. With isomorphism on,
// the tree renames the board's suits into a canonical order (the flop's dominant
// suit first), deals one representative of each group of interchangeable next
// cards, and moves per-combination arrays between real and canonical suits.

// Index = real suit, value = canonical suit; a finished map is a permutation of
// 0..3 (kUnassignedSuit only while it is built).
using SuitMap = std::array<uint8_t, 4>;
constexpr uint8_t kUnassignedSuit = 255;

// The canonical map of a board: flop suits by their card counts (most first,
// ties to the lower real suit), then the turn's and the river's suit if new,
// then the remaining suits in increasing order.
SuitMap MakeCanonicalSuitMap(CardMask flop, CardMask turn, CardMask river);

// The mask with real suit field s moved to field map[s].
CardMask ApplySuitMap(const SuitMap& map, CardMask mask);
inline int MapCardSuit(const SuitMap& map, int card) {
  return 13 * map[CardSuit(card)] + CardRank(card);
}

// The mask with suit fields a and b exchanged.
inline CardMask SwapSuits(CardMask mask, int a, int b) {
  if (a == b) return mask;
  const CardMask field = 0x1FFF;
  const CardMask fa = (mask >> (13 * a)) & field;
  const CardMask fb = (mask >> (13 * b)) & field;
  mask &= ~((field << (13 * a)) | (field << (13 * b)));
  return mask | (fa << (13 * b)) | (fb << (13 * a));
}

// Builds the map of the board and rewrites flop, turn and river in canonical
// suits (turn and river only when non-empty).
void CanonicalizeBoardSuits(SuitMap& map, CardMask& flop, CardMask& turn, CardMask& river);

// Moves a 1326-value ComboIndex array between real and canonical suits of the
// board, m(k) being the image of combination k: to_real: out[k] = in[m(k)];
// otherwise out[m(k)] = in[k]. out and in must not overlap.
void PermuteComboArrayBySuits(CardMask flop, CardMask turn, CardMask river, double* out,
                              const double* in, bool to_real);

// One group of interchangeable next cards.
struct NextCardGroup {
  uint32_t zero = 0;    // always 0
  uint32_t weight = 1;  // real cards the group stands for
  uint32_t card = 0;    // representative card
};

// The groups of cards that can be dealt next on a board, unsorted: without
// isomorphism every card off the board; with it (board in canonical suits, k
// suits) every card of suits 0..k-1 off the board, then, when k < 4, the
// thirteen cards of suit k with weight 4 - k. Both in card-number order.
std::vector<NextCardGroup> MakeNextCardGroups(CardMask board, bool isomorphism);

// The groups of the river cards on a turn board (MakeNextCardGroups) in slot
// order: cards off the dominant suit first, then by rank, then by suit.
std::vector<NextCardGroup> MakeRiverCardGroups(CardMask board, bool isomorphism);
