#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "cards/card.h"

// Two numberings of the 1326 two-card combinations:
// - ComboIndex, inside the engine: for card numbers hi > lo, hi * (hi - 1) / 2 + lo.
//   Every 1326-entry array of the engine is in this order.
// - HandOrder, on the protocol: the same formula over the numbering 4 * rank + suit,
//   i.e. the position in g_hand_order_text ("2d2c 2h2c 2h2d ..."). Every list of
//   1326 values that a command reads or prints is in this order.
using ComboIndex = int;
using HandOrder = int;
// The two players: OOP (out of position) acts first on every street, IP (in
// position) second. Arrays by player are indexed with these. PLAYER_NONE: no
// player (the end node of a flattened line).
enum Player : int32_t {
  PLAYER_NONE = -1,
  PLAYER_OOP = 0,
  PLAYER_IP = 1,
};

// The other player.
constexpr Player Opponent(Player player) { return static_cast<Player>(player ^ 1); }

constexpr int kComboCount = 1326;
constexpr int kHandClassCount = 169;
constexpr int kPlayerCount = 2;

// Name p occupies characters 5p to 5p + 3; names are separated by one blank.
constexpr size_t kHandOrderTextLength = 5 * kComboCount - 1;  // 6629

// The 1326 names in HandOrder joined by single blanks, no blank at either end.
extern const char* const g_hand_order_text;

// Filled once by BuildComboTables, read-only afterwards.
extern CardMask g_combo_card_masks[kComboCount];       // by HandOrder: the two cards
extern uint16_t g_combo_by_hand_order[kComboCount];    // by HandOrder: its ComboIndex
extern int16_t g_hand_order_by_combo[kComboCount];     // by ComboIndex: its HandOrder
// By hand class: the ComboIndex of each member, in increasing HandOrder.
extern std::vector<uint16_t> g_hand_class_combos[kHandClassCount];

// The ComboIndex of two different card numbers, in either order.
constexpr ComboIndex ComboIndexOfCards(int card_a, int card_b) {
  const int hi = card_a > card_b ? card_a : card_b;
  const int lo = card_a > card_b ? card_b : card_a;
  return hi * (hi - 1) / 2 + lo;
}

// Hand class 13 * row + column over ranks: a pair of rank r is 13r + r, suited
// (high > low) 13 * low + high, offsuit 13 * high + low.
constexpr int HandClassOfCards(int card_a, int card_b) {
  const int rank_a = CardRank(card_a), rank_b = CardRank(card_b);
  const int high = rank_a > rank_b ? rank_a : rank_b;
  const int low = rank_a > rank_b ? rank_b : rank_a;
  if (high == low) return 13 * high + low;
  return CardSuit(card_a) == CardSuit(card_b) ? 13 * low + high : 13 * high + low;
}

// The four-character name of HandOrder position p ("2d2c" for 0).
inline std::string_view HandOrderName(HandOrder p) {
  return std::string_view(g_hand_order_text + 5 * static_cast<size_t>(p), 4);
}

// Parses g_hand_order_text into the four tables. Called once at start-up, after
// the banner; calling it again rebuilds the same tables. Refuses a malformed
// name as an invalid card (the built-in text has none).
void BuildComboTables();
