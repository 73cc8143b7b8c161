#pragma once
#include <cstdint>
#include <vector>

#include "platform/isa_dispatch.h"
#include "store/num_array.h"

// Moves per-hand values between index spaces:
// - a board's hands (the order of its hand list) and the 1326 ComboIndex places,
//   through the board's combination-to-hand map (1326 signed 16-bit entries, -1
//   for a combination that shares a card with the board);
// - a parent board's hands and a dealt board's hands, through the dealt record's
//   card lists (per dealt card, each dealt-board hand's index in the parent) and,
//   when the record works per hand group, its group sizes.
// An array with a count but no data is absent and stands for zeros.

// What a river record supplies to the gather and the scatter-add. The record
// builds it; the pointed-to vectors must outlive the call.
struct HandGroupView {
  // Nonzero: the subgame works on hand groups (one value per group).
  int32_t hand_group_flag = 0;
  // The dealt board's hand count.
  int32_t hand_count = 0;
  // One list per real card that the record stands for; list k maps each hand
  // of the dealt board to its index in the parent board's hand order.
  const std::vector<std::vector<int16_t>>* card_lists = nullptr;
  // One size per hand group; the groups take consecutive runs of a card list.
  const std::vector<int16_t>* group_sizes = nullptr;
};

constexpr int kComboMapSize = 1326;

// The routines are the members of IndexMapsKernels, one table per build
// (Kernels<IndexMapsKernels>() is the one in use).
struct IndexMapsKernels {
  // out[c] = src[map[c]] for the 1326 combinations; a combination off the board
  // (map[c] < 0) gets the quiet NaN when nan_for_absent is set, else 0.0. An
  // absent src gives 0.0 on the board's combinations. out holds 1326 places.
  void (*ExpandHandsToCombos)(double* out, const NumArray& src, const int16_t* map,
                              bool nan_for_absent);

  // dest[map[c]] = src[c] for every combination with map[c] >= 0; entries that
  // no combination maps to keep their value. dest is sized by the caller to the
  // board's hand count; an absent dest is first given zeros of its count.
  void (*CompactCombosToHands)(NumArray& dest, const double* src, const int16_t* map);

  // Fills a subgame's input from the parent's array through the first card
  // list. Plain record: out gets the hand count and out[i] = src[list0[i]].
  // Grouped record: out gets one value per group, the sum of src over the
  // group's run (eight-way partial sums, then the rest from the last index down;
  // the same in both builds). An absent src leaves out absent with that count.
  void (*GatherSumHandGroups)(const HandGroupView& record, NumArray& out, const NumArray& src);

  // Adds a subgame's result into the parent's array, once through every card
  // list. src with one value per group (count != hand count) adds src[g] to
  // every parent entry of group g's run. An absent src adds nothing; an absent
  // dest is given zeros of its count before anything is added.
  void (*ScatterAddHandGroups)(const HandGroupView& record, NumArray& dest, const NumArray& src);

  // dest[index[i]] += src[i] for 0 <= i < src.count; nothing when src is absent
  // or empty. index holds at least src.count entries.
  void (*ScatterAddCombos)(NumArray& dest, const NumArray& src, const int16_t* index);
};
TDX_KERNEL_TABLES(IndexMapsKernels)
