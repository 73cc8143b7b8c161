#include "cards/situation.h"

std::vector<double> g_ranges[kPlayerCount];

CardMask g_board_flop = 0;
CardMask g_board_turn = 0;
CardMask g_board_river = 0;

double g_pot[3] = {0.0, 0.0, 100.0};
