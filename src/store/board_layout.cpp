#include "store/board_layout.h"

#include <tbb/scalable_allocator.h>

#include <new>

namespace {

constexpr size_t kLayoutAlignment = 64;

template <typename T>
T* AllocateTable(size_t count) {
  // One element at least: a layout without boards still has valid tables.
  const size_t bytes = (count > 0 ? count : 1) * sizeof(T);
  void* block = scalable_aligned_malloc(bytes, kLayoutAlignment);
  // Layouts are made while a tree is built aside: the build is refused.
  if (!block) throw std::bad_alloc();
  return static_cast<T*>(block);
}

}  // namespace

BoardLayout::~BoardLayout() {
  scalable_aligned_free(turn_index);
  scalable_aligned_free(boards);
  scalable_aligned_free(turn_ranges);
}

std::unique_ptr<BoardLayout> MakeBoardLayout(
    int32_t actions, const std::vector<std::vector<uint32_t>>& river_hand_counts) {
  auto layout = std::make_unique<BoardLayout>();
  size_t board_count = 0;
  for (const auto& counts : river_hand_counts) board_count += counts.size();

  layout->actions = actions;
  layout->turn_slots = static_cast<int32_t>(river_hand_counts.size());
  layout->board_count = static_cast<int32_t>(board_count);
  layout->turn_index = AllocateTable<LayoutTurnBoards>(river_hand_counts.size());
  layout->boards = AllocateTable<LayoutBoard>(board_count);
  layout->turn_ranges = AllocateTable<LayoutTurnRange>(river_hand_counts.size());

  // 64-bit sums so that an impossible size is caught instead of wrapping.
  int64_t places = 0, values = 0;
  int32_t board = 0;
  for (size_t slot = 0; slot < river_hand_counts.size(); ++slot) {
    const auto& counts = river_hand_counts[slot];
    const int64_t slot_start = places;
    layout->turn_index[slot] = {board, static_cast<int32_t>(counts.size())};
    for (uint32_t hands : counts) {
      layout->boards[board++] = {static_cast<int32_t>(places), static_cast<int32_t>(hands)};
      places += static_cast<int64_t>(Ceil4(static_cast<int32_t>(hands))) * actions;
      values += static_cast<int64_t>(hands) * actions;
    }
    layout->turn_ranges[slot] = {static_cast<int32_t>(slot_start),
                                 static_cast<int32_t>(places - slot_start)};
  }
  // Offsets are 32-bit: a layout beyond them (a river node with hundreds of
  // actions) is more than a store can address, and its tree is refused as one
  // too large to hold.
  if (places > INT32_MAX) throw std::bad_alloc();
  layout->value_places = static_cast<int32_t>(places);
  layout->value_count = static_cast<int32_t>(values);
  return layout;
}
