#include "analysis/node_locks.h"

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "cards/combo_tables.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "store/index_maps.h"
#include "store/num_array.h"
#include "tree/tree_records.h"

namespace {

// User strategies are kept as regrets of this size, so that the regret
// store's normalisation gives them back.
constexpr double kUserStrategyScale = 1000.0;
constexpr double kMaxUint16 = 65535.0;

// The node and board to work on, its stores made and holding values: null
// when the index names no decision node with stores or the cards give no
// board of the node.
TreeNode* PrepareNode(SolverState& state, int32_t node_index, int32_t turn_card,
                      int32_t river_card, DealtBoard& board) {
  if (node_index < 0 || static_cast<size_t>(node_index) >= state.nodes.size()) return nullptr;
  TreeNode& node = state.nodes[static_cast<size_t>(node_index)];
  if (node.kind != DECISION_NODE) return nullptr;
  EnsureStoresAllocated(state);
  if (!ResolveDealtBoard(state, node, turn_card, river_card, board)) return nullptr;
  RebuildForgottenSubtree(state, node, board);
  if (!node.regret_store || !node.materialised) return nullptr;
  return &node;
}

// The values moved to the tree's suits and compacted to the board's hands.
NumArray HandValues(const SolverState& state, TreeNode& node, const DealtBoard& board,
                    const double* values) {
  std::vector<double> canonical(kComboCount);
  ComboValuesToCanonical(state, board, canonical.data(), values);
  NumArray hands;
  hands.AssignZeros(node.regret_store->GetHandCount(board.turn_slot, board.river_slot));
  Kernels<IndexMapsKernels>().CompactCombosToHands(hands, canonical.data(), board.combo_map);
  return hands;
}

// The lock records of the board in the node's stores, regret store first.
std::vector<NodeLockRecord*> BoardRecords(TreeNode& node, const DealtBoard& board) {
  std::vector<NodeLockRecord*> records;
  for (NodeStore* store : {node.regret_store.get(), node.strategy_store.get()})
    if (store)
      if (NodeLockRecord* record = store->GetLockRecord(board.turn_slot, board.river_slot))
        records.push_back(record);
  return records;
}

}  // namespace

double MaxUserStrategyValue(const SolverState& state, const TreeNode& node) {
  const Street root = state.nodes.empty() ? STREET_NONE : state.nodes[0].street;
  // The store factory's rule for 16-bit river regrets.
  const bool sixteen_bit = node.street == STREET_RIVER &&
                           (root == STREET_FLOP || (root == STREET_TURN && state.format_version < 5));
  return (sixteen_bit ? kMaxUint16 : FLT_MAX) / kUserStrategyScale;
}

bool SetNodeLock(SolverState& state, int32_t node_index, int32_t turn_card, int32_t river_card,
                 bool on) {
  DealtBoard board;
  TreeNode* node = PrepareNode(state, node_index, turn_card, river_card, board);
  if (!node) return false;
  for (NodeLockRecord* record : BoardRecords(*node, board)) {
    record->FreeMask();
    record->flags &= ~COMBO_LOCKED;
    if (on)
      record->flags |= LOCKED;
    else
      record->flags &= ~LOCKED;
  }
  return true;
}

bool SetNodeStrategy(SolverState& state, int32_t node_index, int32_t child, int32_t turn_card,
                     int32_t river_card, const double* values) {
  DealtBoard board;
  TreeNode* node = PrepareNode(state, node_index, turn_card, river_card, board);
  if (!node || child < 0 || static_cast<size_t>(child) >= node->children.size()) return false;
  NumArray row = HandValues(state, *node, board, values);
  for (int32_t h = 0; h < row.count; ++h) row.data[h] *= kUserStrategyScale;
  NodeValuesAccess access(state, *node, board.turn_slot, StreetAccess::kWrite);
  node->regret_store->SetActionValues(board.turn_slot, board.river_slot, child, row);
  // The child's average restarts from the set strategy.
  if (node->strategy_store && StrategySumsInUse(state)) {
    NumArray zeros;
    zeros.AssignZeros(row.count);
    node->strategy_store->SetActionValues(board.turn_slot, board.river_slot, child, zeros);
  }
  access.Close();
  return true;
}

bool SetComboLocks(SolverState& state, int32_t node_index, int32_t turn_card, int32_t river_card,
                   const double* values) {
  DealtBoard board;
  TreeNode* node = PrepareNode(state, node_index, turn_card, river_card, board);
  if (!node) return false;
  const NumArray hands = HandValues(state, *node, board, values);
  NodeValuesAccess access(state, *node, board.turn_slot, StreetAccess::kRead);
  for (NodeLockRecord* record : BoardRecords(*node, board)) {
    record->flags &= ~LOCKED;
    record->flags |= COMBO_LOCKED;
    // A mask of another length (a tree file's) is made anew for this board.
    if (record->mask && record->mask_length != hands.count) record->FreeMask();
    if (!record->mask && hands.count > 0) {
      record->mask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(hands.count)));
      if (!record->mask) throw std::bad_alloc();
    }
    record->mask_length = hands.count;
    // A NaN is not 0: it locks.
    for (int32_t h = 0; h < hands.count; ++h) record->mask[h] = hands.data[h] != 0.0 ? 1 : 0;
  }
  access.Close();
  return true;
}

void GetLockedCombos(SolverState* state, int32_t node_index, int32_t turn_card,
                     int32_t river_card, double* out) {
  if (!state) return;
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::fill(out, out + kComboCount, kNaN);
  DealtBoard board;
  TreeNode* node = PrepareNode(*state, node_index, turn_card, river_card, board);
  if (!node) return;
  NumArray hands;
  {
    NodeValuesAccess access(*state, *node, board.turn_slot, StreetAccess::kRead);
    hands.AssignZeros(node->regret_store->GetHandCount(board.turn_slot, board.river_slot));
    const NodeLockRecord* record =
        node->regret_store->GetLockRecord(board.turn_slot, board.river_slot);
    if (record && record->mask)
      for (int32_t h = 0; h < hands.count && h < record->mask_length; ++h)
        hands.data[h] = record->mask[h];
    access.Close();
  }
  std::vector<double> canonical(kComboCount);
  Kernels<IndexMapsKernels>().ExpandHandsToCombos(canonical.data(), hands, board.combo_map, true);
  ComboValuesToReal(*state, board, out, canonical.data());
}
