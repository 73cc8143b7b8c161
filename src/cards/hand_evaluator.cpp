#include "cards/hand_evaluator.h"

#include <cstdlib>

uint32_t* g_eval_rank_count = nullptr;
uint32_t* g_eval_top_rank = nullptr;
uint32_t* g_eval_top_five = nullptr;
uint32_t* g_eval_straight = nullptr;
bool g_eval_ready = false;

namespace {

constexpr uint32_t kLargestMask = 8128;  // 0x1FC0: the seven highest ranks

// Every mask made of the window plus up to two further ranks gets the value,
// unless a higher straight gave it one already.
void MarkStraightWindow(uint32_t window, uint32_t value) {
  for (int a = -1; a < 13; ++a) {
    for (int b = a; b < 13; ++b) {
      uint32_t mask = window;
      if (a >= 0) mask |= 1u << a;
      if (b >= 0) mask |= 1u << b;
      if (mask <= kLargestMask && g_eval_straight[mask] == 0) g_eval_straight[mask] = value;
    }
  }
}

}  // namespace

bool InitHandEvaluator() {
  if (g_eval_ready) return true;
  // One zero-filled block holds the four tables.
  auto* block = static_cast<uint32_t*>(std::calloc(4 * kEvalTableSize, sizeof(uint32_t)));
  if (block == nullptr) return false;
  g_eval_rank_count = block;
  g_eval_top_rank = block + kEvalTableSize;
  g_eval_top_five = block + 2 * kEvalTableSize;
  g_eval_straight = block + 3 * kEvalTableSize;

  for (uint32_t mask = 1; mask <= kLargestMask; ++mask) {
    uint32_t count = 0, top_five = 0;
    for (int rank = 12; rank >= 0; --rank) {
      if (!(mask >> rank & 1)) continue;
      if (count == 0) g_eval_top_rank[mask] = rank;
      if (count < 5) top_five = top_five << 4 | rank;
      ++count;
    }
    g_eval_rank_count[mask] = count;
    g_eval_top_five[mask] = top_five;
  }
  for (int top = 12; top >= 4; --top)
    MarkStraightWindow(0x1Fu << (top - 4), 0x4000000 + (static_cast<uint32_t>(top) << 16));
  MarkStraightWindow(0x100F, 0x4030000);  // the five-high straight, only when nothing higher

  g_eval_ready = true;
  return true;
}

HandValue EvaluateHand7(HandBits hand) { return hand_eval_core::EvaluateFiveToSeven<7>(hand); }
HandValue EvaluateHand6(HandBits hand) { return hand_eval_core::EvaluateFiveToSeven<6>(hand); }
HandValue EvaluateHand5(HandBits hand) { return hand_eval_core::EvaluateFiveToSeven<5>(hand); }
HandValue EvaluateHand4(HandBits hand) { return hand_eval_core::EvaluateFour(hand); }
HandValue EvaluateHand3(HandBits hand) { return hand_eval_core::EvaluateThree(hand); }

void EvaluateClassifierRecords(ClassifierRecord* records, size_t count,
                               const uint32_t* board_cards, int board_count) {
  if (board_count < 3 || board_count > 5) return;
  HandBits board = 0;
  for (int i = 0; i < board_count; ++i) {
    if (board_cards[i] >= 52) return;
    board |= kDescendingCardHandBits[board_cards[i]];
  }
  for (size_t i = 0; i < count; ++i) {
    ClassifierRecord& record = records[i];
    if (record.value == 0) continue;
    if (record.first_card >= 52 || record.second_card >= 52) {
      record.value = 0;
      continue;
    }
    const HandBits hand = board | kDescendingCardHandBits[record.first_card] |
                          kDescendingCardHandBits[record.second_card];
    record.value = hand_eval_core::EvaluateCount(hand, board_count + 2);
  }
}
