#include "cards/situation.h"

#include <utility>

std::vector<double> g_ranges[kPlayerCount];

CardMask g_board_flop = 0;
CardMask g_board_turn = 0;
CardMask g_board_river = 0;

double g_pot[3] = {0.0, 0.0, 100.0};

void SetRangeFromHandOrder(Player player, const std::vector<double>& by_hand_order) {
  std::vector<double> range(kComboCount);
  for (ComboIndex k = 0; k < kComboCount; ++k) {
    const double weight = by_hand_order[g_hand_order_by_combo[k]];
    range[k] = weight < kMinRangeWeight ? 0.0 : weight;
  }
  g_ranges[player] = std::move(range);
}
