#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// Where the values of a river decision node lie. A river node sees one board
// per dealt (turn slot, river slot) pair; all river nodes with the same action
// count share one layout, owned by the solver state. Board b with hand count h
// and value offset o keeps A rows of Ceil4(h) places: action a, hand k at place
// o + Ceil4(h) * a + k. Padding keeps every float row on a 16-byte boundary.

struct LayoutTurnBoards {
  int32_t first_board;  // boards are numbered turn slot by turn slot
  int32_t board_count;
};

struct LayoutBoard {
  int32_t value_offset;
  int32_t hand_count;
};

struct LayoutTurnRange {
  int32_t value_offset;  // of the turn slot's first board
  int32_t value_places;  // of all its boards together
};

struct BoardLayout {
  LayoutTurnBoards* turn_index = nullptr;  // per turn slot
  LayoutBoard* boards = nullptr;           // per board
  LayoutTurnRange* turn_ranges = nullptr;  // per turn slot
  int32_t actions = 0;
  int32_t turn_slots = 0;
  int32_t board_count = 0;
  int32_t value_places = 0;  // sum of Ceil4(hand count) * actions
  int32_t value_count = 0;   // sum of hand count * actions

  BoardLayout() = default;
  BoardLayout(const BoardLayout&) = delete;
  BoardLayout& operator=(const BoardLayout&) = delete;
  // Frees the three 64-byte-aligned tables.
  ~BoardLayout();

  int32_t BoardIndex(int turn_slot, int river_slot) const {
    return turn_index[turn_slot].first_board + river_slot;
  }
};

// The smallest multiple of 4 not below h.
constexpr int32_t Ceil4(int32_t h) { return (h + 3) & ~3; }

// The layout for nodes with the given action count over the river hand counts
// of every turn slot (outer index turn slot, inner index river slot).
std::unique_ptr<BoardLayout> MakeBoardLayout(
    int32_t actions, const std::vector<std::vector<uint32_t>>& river_hand_counts);
