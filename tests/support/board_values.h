#pragma once
// The engine's evaluator on one hand and board, its cards in card-number order
// then the hand's: what the showdown orders are checked against.
#include <cstdint>

#include "cards/card.h"
#include "cards/hand_evaluator.h"

inline uint32_t BoardHandValue(CardMask board, CardMask hand) {
  uint8_t cards[7];
  int n = 0;
  for (int c = 0; c < kCardCount; ++c)
    if (board & CardBit(c)) cards[n++] = static_cast<uint8_t>(c);
  cards[n++] = static_cast<uint8_t>(__builtin_ctzll(hand));
  cards[n++] = static_cast<uint8_t>(63 - __builtin_clzll(hand));
  return Kernels<HandEvaluatorKernels>().EvaluateCardArray(cards, n);
}
