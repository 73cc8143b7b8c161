#include "cards/card.h"

#include <cstring>

#include "protocol/command_error.h"

const char g_rank_chars[14] = "23456789TJQKA";
const char g_suit_chars[5] = "CDHS";

namespace {

// Lower-case suits for the texts the engine writes.
constexpr char kSuitCharsWritten[5] = "cdhs";

// Card text is parsed from a fixed buffer; longer words are refused rather than
// cut, so a long word can never pass as a shorter board.
constexpr size_t kCardTextBufferSize = 256;

[[noreturn]] void ThrowInvalidCard() { ThrowUnnamedRefusal("invalid card"); }

int RankOfChar(char c) {
  if (c == '\0') return -1;
  const char* found = std::strchr(g_rank_chars, c);
  return found ? static_cast<int>(found - g_rank_chars) : -1;
}

int SuitOfChar(char c) {
  if (c == '\0') return -1;
  const char* found = std::strchr(g_suit_chars, c);
  return found ? static_cast<int>(found - g_suit_chars) : -1;
}

char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

CardMask ParseCardText(const std::string& text) {
  if (text.size() >= kCardTextBufferSize) ThrowInvalidCard();
  char buffer[kCardTextBufferSize];
  const size_t length = text.size();
  for (size_t i = 0; i < length; ++i) buffer[i] = ToUpperAscii(text[i]);
  buffer[length] = '\0';

  CardMask cards = 0;
  size_t cursor = 0;
  while (cursor < length) {
    // An embedded NUL is no rank or suit character: RankOfChar/SuitOfChar refuse it.
    const int rank = RankOfChar(buffer[cursor]);
    const int suit = cursor + 1 < length ? SuitOfChar(buffer[cursor + 1]) : -1;
    if (rank < 0 || suit < 0) ThrowInvalidCard();
    const CardMask bit = CardBit(CardNumber(rank, suit));
    if (cards & bit) ThrowInvalidCard();
    cards |= bit;
    cursor += 2;
    while (cursor < length && buffer[cursor] == ' ') ++cursor;
  }
  return cards;
}

std::string CardText(int card) {
  return std::string{g_rank_chars[CardRank(card)], kSuitCharsWritten[CardSuit(card)]};
}

std::string CardMaskToText(CardMask mask) {
  std::string text;
  while (mask) {
    const int card = __builtin_ctzll(mask);
    mask &= mask - 1;
    if (!text.empty()) text += ' ';
    text += CardText(card);
  }
  return text;
}
