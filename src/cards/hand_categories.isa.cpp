// The made-hand and draw classifiers, compiled once per instruction set.
#include "cards/hand_categories.h"
#include "cards/hand_evaluator.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "hand_categories.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

// Category codes as the made-hand output holds them (category times 100).
constexpr int32_t Made(MadeHandCategory category) { return 100 * category; }

// Pair category by the board rank position k of the card that makes the pair.
constexpr int32_t kPairByPosition[12] = {
    Made(MADE_OVERPAIR),    Made(MADE_TOP_PAIR),   Made(MADE_UNDERPAIR), Made(MADE_SECOND_PAIR),
    Made(MADE_THIRD_PAIR),  Made(MADE_THIRD_PAIR), Made(MADE_LOW_PAIR),  Made(MADE_LOW_PAIR),
    Made(MADE_LOW_PAIR),    Made(MADE_LOW_PAIR),   Made(MADE_LOW_PAIR),  Made(MADE_LOW_PAIR)};

// The combination's cards as records, blocked ones (sharing a board card) with
// value 0.
struct ComboRecords {
  ClassifierRecord records[kComboCount];
};

// True when the board is usable: 3..5 distinct cards below 52.
bool ReadBoard(const ClassifierBoard& board, uint64_t* card_set, HandBits* bits) {
  if (board.count < 3 || board.count > 5) return false;
  uint64_t set = 0;
  HandBits hand = 0;
  for (int i = 0; i < board.count; ++i) {
    const uint32_t card = board.cards[i];
    if (card >= 52 || (set >> card & 1)) return false;
    set |= uint64_t{1} << card;
    hand |= kDescendingCardHandBits[card];
  }
  *card_set = set;
  *bits = hand;
  return true;
}

void FillRecords(ComboRecords& combos, uint64_t board_set) {
  for (int p = 0; p < kComboCount; ++p) {
    const uint32_t first = g_combo_first_card[p], second = g_combo_second_card[p];
    const bool blocked = ((board_set >> first) | (board_set >> second)) & 1;
    combos.records[p] = {blocked ? 0u : 1u, static_cast<uint16_t>(first),
                         static_cast<uint16_t>(second)};
  }
}

HandBits RecordBits(const ClassifierRecord& record) {
  return kDescendingCardHandBits[record.first_card] | kDescendingCardHandBits[record.second_card];
}

// Against the board's own value: the first rank field where the combination's
// value is higher decides; an ace there is ace_high, a king king_high.
int32_t CompareKickers(HandValue value, HandValue board_value) {
  for (int field = 0; field < 5; ++field) {
    const uint32_t rank = HandValueField(value, field);
    if (rank > HandValueField(board_value, field)) {
      if (rank == 12) return Made(MADE_ACE_HIGH);
      if (rank == 11) return Made(MADE_KING_HIGH);
      return Made(MADE_NOTHING);
    }
  }
  return Made(MADE_NOTHING);
}

void ClassifyMadeHands(int32_t* out, ClassifierBoard board) {
  uint64_t board_set = 0;
  HandBits board_bits = 0;
  if (!ReadBoard(board, &board_set, &board_bits)) return;
  const int count = board.count;

  const HandValue board_value = hand_eval_core::EvaluateCount(board_bits, count);
  const uint32_t board_category = HandValueCategory(board_value);
  const uint32_t board_first = HandValueField(board_value, 0);
  const uint32_t board_second = HandValueField(board_value, 1);
  uint32_t board_ranks = 0;
  for (int i = 0; i < count; ++i) board_ranks |= 1u << DescendingCardRank(board.cards[i]);

  ComboRecords combos;
  FillRecords(combos, board_set);
  for (int p = 0; p < kComboCount; ++p) {
    ClassifierRecord& record = combos.records[p];
    if (record.value != 0)
      record.value = hand_eval_core::EvaluateCount(board_bits | RecordBits(record), count + 2);
  }

  for (int p = 0; p < kComboCount; ++p) {
    const ClassifierRecord& record = combos.records[p];
    if (record.value == 0) {
      out[p] = -1;
      continue;
    }
    const HandValue value = record.value;
    const uint32_t category = HandValueCategory(value);

    // Board rank position of each card; the card that pairs the board (odd
    // position) decides, else the second card (a pocket pair's two are equal).
    const int rank1 = DescendingCardRank(record.first_card);
    const int rank2 = DescendingCardRank(record.second_card);
    const int k1 = 2 * __builtin_popcount(board_ranks >> (rank1 + 1)) + (board_ranks >> rank1 & 1);
    const int k2 = 2 * __builtin_popcount(board_ranks >> (rank2 + 1)) + (board_ranks >> rank2 & 1);
    const int k = (k1 & 1) ? k1 : k2;
    const int32_t pair_category = kPairByPosition[k < 11 ? k : 11];

    int32_t result = 0;
    switch (category) {
      case STRAIGHT_FLUSH:
        result = board_category < STRAIGHT_FLUSH || value > board_value
                     ? Made(MADE_STRAIGHT_FLUSH)
                     : Made(MADE_NOTHING);
        break;
      case FOUR_OF_A_KIND:
        result = board_category < FOUR_OF_A_KIND ? Made(MADE_QUADS)
                                                 : CompareKickers(value, board_value);
        break;
      case FULL_HOUSE:
        if (board_category < FULL_HOUSE)
          result = Made(MADE_FULLHOUSE);
        else if (HandValueField(value, 0) > board_first)
          result = Made(MADE_TOP_FULLHOUSE);
        else if (HandValueField(value, 1) > board_second)
          result = Made(MADE_FULLHOUSE);
        else
          result = Made(MADE_NOTHING);
        break;
      case FLUSH:
        // A flush board makes every flush "nothing", however high.
        result = board_category < FLUSH ? Made(MADE_FLUSH) : Made(MADE_NOTHING);
        break;
      case STRAIGHT:
        if (board_category < STRAIGHT || value > board_value)
          result = Made(MADE_STRAIGHT);
        else
          result = CompareKickers(value, board_value);
        break;
      case THREE_OF_A_KIND:
        if (board_category == HIGH_CARD)
          result = Made(MADE_SET);
        else if (board_category == ONE_PAIR)
          result = Made(MADE_TRIPS);
        else if (board_category == TWO_PAIR)
          ReportClassifierBug();
        else
          result = CompareKickers(value, board_value);
        break;
      case TWO_PAIR:
        if (board_category == HIGH_CARD)
          result = Made(MADE_TWO_PAIR);
        else if (board_category == ONE_PAIR)
          result = pair_category;
        else if (HandValueField(value, 0) > board_first || HandValueField(value, 1) > board_second)
          result = pair_category;
        else
          result = CompareKickers(value, board_value);
        break;
      case ONE_PAIR:
        result = board_category == ONE_PAIR ? CompareKickers(value, board_value) : pair_category;
        break;
      default:
        result = CompareKickers(value, board_value);
        break;
    }
    out[p] = result;
  }
}

void ClassifyDraws(int32_t* out, ClassifierBoard board) {
  if (board.count == 5) return;  // no card to come: no draws
  uint64_t board_set = 0;
  HandBits board_bits = 0;
  if (!ReadBoard(board, &board_set, &board_bits)) return;
  const int count = board.count;

  ComboRecords combos;
  FillRecords(combos, board_set);
  uint32_t current_category[kComboCount];
  uint8_t straight_outs[kComboCount] = {};
  uint8_t flush_outs[kComboCount] = {};
  for (int p = 0; p < kComboCount; ++p) {
    const ClassifierRecord& record = combos.records[p];
    current_category[p] = record.value != 0 ? HandValueCategory(hand_eval_core::EvaluateCount(
                                                  board_bits | RecordBits(record), count + 2))
                                            : 0;
  }

  for (uint32_t next = 0; next < 52; ++next) {
    if (board_set >> next & 1) continue;
    const HandBits next_board = board_bits | kDescendingCardHandBits[next];
    // On the turn the river board itself may already hold a straight or flush.
    const HandValue reference = count == 3 ? 0 : hand_eval_core::EvaluateFiveToSeven<5>(next_board);
    for (int p = 0; p < kComboCount; ++p) {
      const ClassifierRecord& record = combos.records[p];
      if (record.value == 0 || record.first_card == next || record.second_card == next) continue;
      const HandValue value =
          hand_eval_core::EvaluateCount(next_board | RecordBits(record), count + 3);
      if (value <= reference) continue;
      const uint32_t category = HandValueCategory(value);
      // A card that makes a straight flush counts as a flush out only.
      if (category == STRAIGHT && current_category[p] < STRAIGHT) ++straight_outs[p];
      if ((category == FLUSH || category == STRAIGHT_FLUSH) && current_category[p] < FLUSH)
        ++flush_outs[p];
    }
  }

  for (int p = 0; p < kComboCount; ++p) {
    if (combos.records[p].value == 0) {
      out[p] = -1;
    } else if (straight_outs[p] > 0 && flush_outs[p] > 0) {
      out[p] = DRAW_COMBO;
    } else if (flush_outs[p] > 0) {
      out[p] = DRAW_FLUSH;
    } else {
      out[p] = straight_outs[p] / 4;
    }
  }
}

}  // namespace

const HandCategoriesKernels kHandCategoriesKernels = {
    .ClassifyMadeHands = ClassifyMadeHands,
    .ClassifyDraws = ClassifyDraws,
};

}  // namespace isa_avx2 / isa_avx
