#include "cards/showdown_prep.h"

#include <string>

#include "cards/combo_tables.h"
#include "protocol/command_error.h"
#include "protocol/fail.h"

namespace {

// Cards as "%c%c " each: rank character, lower-case suit character.
std::string FaultCardsText(CardMask mask) {
  static const char kSuits[] = "cdhs";
  std::string text;
  for (int card = 0; card < kCardCount; ++card)
    if (mask & CardBit(card)) {
      text += g_rank_chars[CardRank(card)];
      text += kSuits[CardSuit(card)];
      text += ' ';
    }
  return text;
}

// A board whose hands have no suit image in the parent cannot stand for the
// cards of its group: the build stops instead of mapping through a missing index.
[[noreturn]] void ThrowIsomorphFault(CardMask board, const IsomorphFault& fault) {
  const std::string board_text = FaultCardsText(board);
  const std::string hand_text = FaultCardsText(fault.hand);
  const std::string image_text = FaultCardsText(fault.image);
  ThrowRefusal("isomorph error: " + board_text + " | " + hand_text + " | " + image_text);
}

}  // namespace

void OrderBoardHandsOrRefuse(CardMask board, uint32_t card, int32_t weight,
                             const std::vector<CardMask>& parent_hands,
                             const std::vector<int16_t>& parent_map, std::vector<CardMask>& hands,
                             std::vector<uint32_t>& values,
                             std::vector<std::vector<int16_t>>& card_lists) {
  // Suit s stands for s .. s + weight - 1; anything else is a broken deal tree.
  if (weight < 1 || CardSuit(static_cast<int>(card)) + weight > kSuitCount) Fail("deal weight");
  IsomorphFault fault;
  if (!Kernels<ShowdownPrepKernels>().OrderBoardHands(board, static_cast<int>(card), weight,
                                                      parent_hands, parent_map, hands, values,
                                                      card_lists, fault))
    ThrowIsomorphFault(board, fault);
}

// True when every hand holds two cards of the deck, so that both card bytes
// are card numbers.
bool FillHandCards(const std::vector<CardMask>& hands, std::vector<uint16_t>& hand_cards) {
  hand_cards.resize(hands.size());
  bool in_range = true;
  for (size_t i = 0; i < hands.size(); ++i) {
    const CardMask mask = hands[i];
    in_range = in_range && __builtin_popcountll(mask) == 2 && mask >> kCardCount == 0;
    // No card at all: both bytes out of range, so that the kernels skip the hand.
    const int lo = mask ? __builtin_ctzll(mask) : 0xFF;
    const int hi = mask ? 63 - __builtin_clzll(mask) : 0xFF;
    hand_cards[i] = static_cast<uint16_t>(lo | hi << 8);
  }
  return in_range;
}

