#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "store/num_array.h"

struct TreeNode;

// The node-value request of a mode-2 pass: the analysis code hands one to its
// passes in their PassContext, and the node traversal fills it when the walk
// finishes the target node on its board.
struct ValueTarget {
  // Per board (turn slot, river slot): {weights, values}.
  using BoardResult = std::pair<std::unique_ptr<NumArray>, std::unique_ptr<NumArray>>;
  using BoardKey = std::pair<int32_t, int32_t>;

  TreeNode* node = nullptr;  // the node whose values are collected
  int32_t turn_slot = -1;    // -1: the flop board
  int32_t river_slot = -1;   // -1: not dealt
  NumArray values;           // per hand: value per unit of opponent reach
  NumArray weights;          // per hand: joint reach weight
  // Filled when per-board collection is on; a board reached again replaces its
  // entry. The entries belong to the analysis code, which empties the map.
  std::map<BoardKey, BoardResult> per_board_results;
  std::mutex mutex;  // guards per_board_results
  // 0: collect once at the exact (node, turn slot, river slot); nonzero:
  // collect on every board on which the node is reached.
  uint8_t per_board_collection = 0;
};
