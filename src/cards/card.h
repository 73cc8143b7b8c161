#pragma once
#include <cstdint>
#include <string>

// Cards are numbered 13 * suit + rank: rank 0..12 for "23456789TJQKA", suit
// 0..3 for clubs, diamonds, hearts, spades. A CardMask holds a set of cards, one
// bit per card number; bits 52..63 stay clear.
using CardMask = uint64_t;

constexpr int kCardCount = 52;
constexpr int kRankCount = 13;
constexpr int kSuitCount = 4;

// The betting rounds the engine plays, numbered as it counts them everywhere;
// arrays by street have an unused entry 0. STREET_NONE: no street (no street
// forgotten, the end node of a flattened line).
enum Street : int32_t {
  STREET_NONE = -1,
  STREET_FLOP = 1,
  STREET_TURN = 2,
  STREET_RIVER = 3,
};

// The street after `street` (STREET_RIVER + 1 is past every street).
constexpr Street NextStreet(Street street) { return static_cast<Street>(street + 1); }

extern const char g_rank_chars[14];  // "23456789TJQKA"
extern const char g_suit_chars[5];   // "CDHS", as read (after upper-casing)

constexpr int CardNumber(int rank, int suit) { return 13 * suit + rank; }
constexpr int CardRank(int card) { return card % 13; }
constexpr int CardSuit(int card) { return card / 13; }
constexpr CardMask CardBit(int card) { return CardMask{1} << card; }
inline int CardCount(CardMask mask) { return __builtin_popcountll(mask); }
// The cards of one suit in the mask.
inline int SuitCardCount(CardMask mask, int suit) {
  return __builtin_popcountll((mask >> (kRankCount * suit)) & ((CardMask{1} << kRankCount) - 1));
}
// The suits that have a card in the mask.
inline int SuitCount(CardMask mask) {
  int suits = 0;
  for (int suit = 0; suit < kSuitCount; ++suit) suits += SuitCardCount(mask, suit) > 0;
  return suits;
}

// Parses card text: rank and suit characters in either case, cards written
// together or separated by blanks ("AsKd", "as  KD"). Refuses, unnamed, as
// "invalid card" any other character, a lone rank, a blank before the first
// card, a repeated card, or a text longer than 255 characters.
// The empty text is the empty set.
CardMask ParseCardText(const std::string& text);

// "2c Ah": the set's cards in increasing card number, blank separated.
std::string CardMaskToText(CardMask mask);

// Text of one card ("Ah").
std::string CardText(int card);
