#pragma once
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"

// The situation to be solved, as set_range, set_board and set_pot (or load_tree)
// left it. Program-wide; outlives trees, which copy what they need when built.

// Each player's weight per combination, 1326 entries in ComboIndex order once
// set; empty means "not set".
extern std::vector<double> g_ranges[kPlayerCount];

// The board: three flop cards; turn and river one card each, 0 when absent.
extern CardMask g_board_flop;
extern CardMask g_board_turn;
extern CardMask g_board_river;

// Sets the player's range from 1326 weights in HandOrder: stored in ComboIndex
// order, with weights below kMinRangeWeight as 0.
void SetRangeFromHandOrder(Player player, const std::vector<double>& by_hand_order);

// Weights this small are noise from the tools that write ranges; they would
// only cost work in every pass.
constexpr double kMinRangeWeight = 1e-5;

// Weights above this are refused as out of range: the reach products of two
// such ranges overflow the float rows and every result reads NaN. Weights are
// otherwise not limited; results depend only on their ratios.
constexpr double kMaxRangeWeight = 1e12;

// The three set_pot figures in their order; [2] is the pot at the root. The first
// two are only stored and carried in tree files.
extern double g_pot[3];
