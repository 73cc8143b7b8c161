#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cards/combo_tables.h"
#include "store/num_array.h"

struct SolverState;

// Showdown equities of one player's combinations against the other player's
// range on the board of a node, averaged exactly over every turn and river card
// still to come, with card removal between the two hands and the board. Only
// the tree's dealt-card structure is read (its hand lists and strength orders),
// never a store's values.
//
// Kernel equity e(h) = (W - L) / T on a scale from -1 to 1: over the opponent's
// hands that share no card with h, W is the weight h beats, L the weight that
// beats h and T the whole weight, each opponent hand counting by its mean
// result over the runouts that avoid both hands and the board. Printed equity
// is (1 + e) / 2.

// Runouts one matchup of two hands has on a board without a turn card (45 turn
// cards x 44 river cards) and with a turn card but no river (44).
constexpr double kFlopRunouts = 1980.0;
constexpr double kTurnRunouts = 44.0;

// The hands of the board of real dealt cards (-1 = none) as the tree keeps
// them: the board's slots (-1 where not dealt or without a record), the hand
// cards and a combination map per hand (ComboIndex in the tree's suits -> hand,
// -1 none), and the runouts one matchup still has on it.
struct BoardHands {
  int32_t turn_slot = -1;
  int32_t river_slot = -1;
  const std::vector<uint16_t>* hand_cards = nullptr;
  const int16_t* combo_map = nullptr;
  double runouts = 1.0;
  // A river board whose solving passes work per hand group maps its
  // combinations to groups; the per-hand map is made here.
  std::vector<int16_t> own_map;

  BoardHands() = default;
  // combo_map may point into own_map: moved, never copied.
  BoardHands(BoardHands&&) = default;
  BoardHands(const BoardHands&) = delete;
  BoardHands& operator=(const BoardHands&) = delete;

  int32_t HandCount() const { return static_cast<int32_t>(hand_cards->size()); }
};
BoardHands FindBoardHands(const SolverState& state, int turn_card, int river_card);

// Equities and weights of `player`'s combinations. own and opp are 1326 range
// weights (ComboIndex order, real suits); equity gets e(h), weight gets
// K x T(h) x own(h) (K the runouts of the board: 1980, 44 or 1). Combinations
// that are no hand of the board, or whose weight in the player's build-time
// range is 0, get the quiet NaN in both. turn_card and river_card are card
// numbers, -1 for none (the river only with a turn). Without a tree (null)
// both outputs are left as they are.
// First allocates every store's values not yet allocated, as a solver start
// would; a failure there is silent and the equities are computed all the same.
void ComputeEquities(SolverState* state, Player player, int turn_card, int river_card,
                     const double* own, const double* opp, double* equity, double* weight);

// Per hand of the board of (turn slot, river slot), -1 where not dealt: the sum
// over the opponent's hands of opp x (wins minus losses, averaged over the
// runouts still to come). opp holds one weight per hand of that board; an
// absent opp gives an absent out of the board's hand count.
void ComputeRunoutEquity(const SolverState& state, int32_t turn_slot, int32_t river_slot,
                         const NumArray& opp, NumArray& out);

// HandOrder positions of the combinations with a defined equity at the node of
// the path, best first, for the node's player to act against uniform ranges on
// both sides; equal equities keep ascending HandOrder. "r" stands for "r:0".
// The refusals of ResolveNodePath pass through.
std::vector<uint32_t> SortCombosByEquity(std::string path);
