#pragma once
#include <cstdint>
#include <vector>

#include "cards/card.h"
#include "store/index_maps.h"
#include "store/num_array.h"

// The dealt cards of a game tree. The node array does not repeat per card: a
// node below a chance point is addressed with a turn slot and a river slot,
// which index the records here. With suit isomorphism one record stands for a
// group of interchangeable cards (its weight).
//
// Index types, one convention everywhere: combination maps, slot maps and card
// lists are signed 16-bit, -1 meaning "none"; hand cards are the low card
// number in the low byte and the high card number in the high byte.

struct GameTree;

constexpr int kNoSlot = -1;

// A dealt river card (or group of them) below a turn record.
struct RiverDealRecord {
  uint32_t hand_group_flag = 0;  // the tree's deal flag; nonzero: work per hand group
  CardMask board = 0;            // turn board plus the river card
  uint32_t river_card = 0;       // the representative card of the group
  int32_t weight = 1;            // real river cards the record stands for
  std::vector<CardMask> hands;   // hands in play on this board, weakest first
  std::vector<uint16_t> hand_cards;
  // Every hand_cards byte is a card number (set where hand_cards is made; the
  // river-board pass reads it instead of scanning the list at every visit).
  bool cards_in_range = false;
  // ComboIndex -> position in hands (flag 0) or hand-group number (flag 1, 2); -1 none.
  std::vector<int16_t> combo_map;
  std::vector<uint32_t> hand_values;     // HandValue of each hand on this board
  std::vector<int16_t> strength_groups;  // runs of equal values along hands
  // One per real card of the group: each hand's index in the turn record's list,
  // seen through that card's suits.
  std::vector<std::vector<int16_t>> card_lists;
  std::vector<int16_t> group_sizes;    // flag 1, 2: hands per hand group
  std::vector<uint32_t> group_values;  // flag 1, 2: value that opens the next group
  std::vector<double> card_weights;    // flag 1, 2: 52 per hand group

  int32_t HandCount() const { return static_cast<int32_t>(hands.size()); }
  // What the gather and scatter-add of a river subgame read.
  HandGroupView GroupView() const {
    HandGroupView view;
    view.hand_group_flag = static_cast<int32_t>(hand_group_flag);
    view.hand_count = HandCount();
    view.card_lists = &card_lists;
    view.group_sizes = &group_sizes;
    return view;
  }
};

// A dealt turn card (or group of them).
struct TurnDealRecord {
  CardMask board = 0;       // base board plus the turn card
  uint32_t turn_card = 0;   // the representative card of the group
  int32_t weight = 1;       // real turn cards the record stands for
  std::vector<CardMask> hands;  // hands in play on this board, weakest first
  std::vector<uint16_t> hand_cards;
  std::vector<int16_t> combo_map;     // ComboIndex -> position in hands; -1 none
  std::vector<uint32_t> hand_values;  // HandValue of each hand on this board
  // One per real card of the group: each hand's index in the base hand list,
  // seen through that card's suits.
  std::vector<std::vector<int16_t>> card_lists;
  std::vector<RiverDealRecord> river_records;  // by river slot
  std::vector<uint32_t> river_hand_counts;     // per river slot: hands (or hand groups)
  std::vector<int16_t> river_slot_map;         // 52: card -> river slot; -1 none

  int32_t HandCount() const { return static_cast<int32_t>(hands.size()); }
};

struct DealTree {
  CardMask base_board = 0;       // the flop, in canonical suits under isomorphism
  std::vector<CardMask> hands;   // hands in play on the base board, ComboIndex order
  std::vector<uint16_t> hand_cards;
  std::vector<int16_t> combo_map;  // ComboIndex -> position in hands; -1 none
  std::vector<TurnDealRecord> turn_records;  // by turn slot
  std::vector<uint32_t> turn_hand_counts;    // per turn slot
  std::vector<std::vector<uint32_t>> river_hand_counts;  // per turn slot, per river slot
  std::vector<int16_t> turn_slot_map;  // 52: card -> turn slot; -1 none
  // Members are declared so that their destruction (last to first) frees the
  // slot map first and the base hand list last.
};

// Per dealt turn card, on the first decision node of the turn (1) and of the
// river (49, by turn slot): per-card arrays that the deal nodes, forgetting
// and the tree-file reader keep.
struct CardRecord {
  NumArray reach_sums[2];    // opponent reach accumulated at this card, by player
  NumArray values[2];        // values kept by evaluation passes
  NumArray best_response_values[2];
  uint8_t reach_filled[2] = {0, 0};  // forget filled reach_sums[p]
  uint8_t frozen = 0;                // reach sums are not accumulated while set
  uint64_t solved_mask = 0;          // filled by the tree-file reader
};

// Builds the deal tree of the game tree with its board masks, range copies,
// root hand weights and board layouts. Cards are card numbers, -1 where absent; the
// ranges are 1326 weights in ComboIndex order. The game tree's node array must be
// built (its root street and max actions are read). Refuses (CommandRefusal)
// when the board is unusable or a hand's suit image is missing from its parent
// list under isomorphism ("isomorph error: "); the game tree is then left without
// a deal tree and must be destroyed.
void BuildChanceLevels(GameTree& game, CardMask flop, int turn_card, int river_card,
                       const std::vector<double>& oop_range,
                       const std::vector<double>& ip_range, bool isomorphism);

// Appends one river record per next-card group of the turn record's board
// (in MakeRiverCardGroups order) and fills its river slot map.
void GroupIsomorphicCards(CardMask board, bool isomorphism, TurnDealRecord& parent,
                          uint32_t hand_group_flag);

// The turn slot and river slot of real cards (-1 for none) in the game tree's
// deal tree, the cards first moved into the canonical suits of its flop when it
// has ISOMORPHISM_ON. A card without a record of its own gives -1; the
// river slot is -1 whenever the turn slot is.
void CanonicalizeCombo(const GameTree& game, int turn_card, int river_card,
                       int& turn_slot, int& river_slot);

// Appends one turn record for the turn card and its river records (all groups
// of next cards, or the one given river card).
void BuildDealtLevel(DealTree& tree, int turn_card, int weight, uint32_t deal_flag,
                     int river_card, bool isomorphism);

// Sets up a deal tree for a tree that starts on the turn (river card -1) or the
// river: one turn record in slot 0.
void InitDealTree(DealTree& tree, CardMask base_board, uint32_t deal_flag, int turn_card,
                  int river_card, bool isomorphism);

// The base hand list (every combination off the base board with a positive
// weight in either range), its hand cards and combination map, then the
// showdown preparation of every turn record and the per-slot hand counts.
// Throws like BuildChanceLevels on a missing suit image.
void BuildNodeComboLists(DealTree& tree, const std::vector<double>& oop_weights,
                         const std::vector<double>& ip_weights);

// Root hand weights of both players for the hands of the list, and those
// weights divided by Z = sum over hands i of w_OOP(i) * (sum of w_IP(j) over the
// hands j sharing no card with i). Z not above 0 (no possible deal) gives zero
// normalised weights instead of infinities.
void MapHandsToRangeWeights(GameTree& game, const std::vector<double>& oop_weights,
                            const std::vector<double>& ip_weights,
                            const std::vector<CardMask>& hands);

