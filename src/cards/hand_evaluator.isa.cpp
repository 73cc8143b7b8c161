// The evaluator entries of HandEvaluatorKernels, compiled once per instruction set.
#include "cards/hand_evaluator.h"

#include <array>

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "hand_evaluator.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

// Bits of every byte value: a card number's rank bit, or for a byte above 51 a
// bit outside every rank field that marks the input invalid.
constexpr HandBits kInvalidCardBit = HandBits{1} << 15;
constexpr std::array<HandBits, 256> kByteHandBits = [] {
  std::array<HandBits, 256> bits{};
  for (int byte = 0; byte < 256; ++byte)
    bits[byte] = byte < 52 ? kCardHandBits[byte] : kInvalidCardBit;
  return bits;
}();

template <int n>
HandValue EvaluateCards(const uint8_t* cards) {
  HandBits hand = 0;
  for (int i = 0; i < n; ++i) hand |= kByteHandBits[cards[i]];
  if (hand & kInvalidCardBit) return 0;
  return hand_eval_core::EvaluateCount(hand, n);
}

template <int n>
void EvaluateAllOnBoard(HandBits board_bits, CardMask board, const CardMask* hands,
                        size_t count, uint32_t* values) {
  for (size_t i = 0; i < count; ++i) {
    const CardMask hand = hands[i];
    // A hand must be two cards off the board: more cards would exceed seven.
    values[i] = (CardCount(hand) != 2 || (hand & board) != 0)
                    ? 0xFFFFFFFFu
                    : hand_eval_core::EvaluateCount(board_bits | CardMaskToHandBits(hand), n);
  }
}

HandValue EvaluateCardArray(const uint8_t* cards, int count) {
  switch (count) {
    case 7:
      return EvaluateCards<7>(cards);
    case 6:
      return EvaluateCards<6>(cards);
    case 5:
      return EvaluateCards<5>(cards);
    case 4:
      return EvaluateCards<4>(cards);
    case 3:
      return EvaluateCards<3>(cards);
    default:
      return 0;
  }
}

void EvaluateHandsOnBoard(CardMask board, const CardMask* hands, size_t count,
                          uint32_t* values) {
  const HandBits board_bits = CardMaskToHandBits(board);
  switch (CardCount(board) + 2) {
    case 7:
      return EvaluateAllOnBoard<7>(board_bits, board, hands, count, values);
    case 6:
      return EvaluateAllOnBoard<6>(board_bits, board, hands, count, values);
    case 5:
      return EvaluateAllOnBoard<5>(board_bits, board, hands, count, values);
    case 4:
      return EvaluateAllOnBoard<4>(board_bits, board, hands, count, values);
    case 3:
      return EvaluateAllOnBoard<3>(board_bits, board, hands, count, values);
    default:
      for (size_t i = 0; i < count; ++i) values[i] = hands[i] == 0 ? 0xFFFFFFFFu : 0;
  }
}

}  // namespace

const HandEvaluatorKernels kHandEvaluatorKernels = {
    .EvaluateCardArray = EvaluateCardArray,
    .EvaluateHandsOnBoard = EvaluateHandsOnBoard,
};

}  // namespace isa_avx2 / isa_avx
