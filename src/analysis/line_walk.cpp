#include "analysis/line_walk.h"

#include "solver/node_cursor.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/stored_strategy.h"
#include "tree/tree_records.h"

namespace {

// A reach without values keeps its count on the new board.
void AbsentOn(NumArray& out, int32_t hands) {
  out.Free();
  out.count = hands;
}

// Per hand of the turn board, the value of the flop hand it extends.
void ToTurnBoard(const TurnDealRecord& turn, NumArray& out, const NumArray& in) {
  const int32_t n = turn.HandCount();
  if (!in.HasData()) {
    AbsentOn(out, n);
    return;
  }
  out.Resize(n);
  const std::vector<int16_t>& list = turn.card_lists[0];
  for (int32_t k = 0; k < n; ++k) out.data[k] = in.data[list[static_cast<size_t>(k)]];
}

// The strategy of the node on the cursor's board, as the passes read it.
std::vector<NumArray> WalkStrategy(const NodeCursor& cursor) {
  const TreeNode& node = *cursor.node;
  std::vector<NumArray> rows;
  if (node.strategy_store && StrategySumsInUse(*cursor.state)) {
    GetAverageStrategy(node, rows, cursor.turn_slot, cursor.river_slot);
    return rows;
  }
  const size_t n = node.children.size();
  const std::vector<float> uniform(n, 1.0f / static_cast<float>(n));
  return node.regret_store->GetStrategy(cursor.turn_slot, cursor.river_slot, uniform.data());
}

}  // namespace

void WalkSubtree(NodeCursor& cursor, const TreeNode& target, int32_t target_turn_slot,
                 int32_t target_river_slot, std::vector<int32_t>& path, NumArray reach[2]) {
  SolverState& state = *cursor.state;
  TreeNode& node = *cursor.node;
  if (&node == &target && cursor.turn_slot == target_turn_slot &&
      cursor.river_slot == target_river_slot) {
    reach[PLAYER_OOP].CopyFrom(cursor.in1);
    reach[PLAYER_IP].CopyFrom(cursor.in0);
    return;
  }
  const DealTree& deal = *state.deal_tree;
  if (node.street >= STREET_TURN && cursor.turn_slot < 0) {
    if (target_turn_slot < 0) return;
    const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(target_turn_slot)];
    NodeCursor dealt(&state, cursor.pass, &node, target_turn_slot, -1);
    ToTurnBoard(turn, dealt.in0, cursor.in0);
    ToTurnBoard(turn, dealt.in1, cursor.in1);
    WalkSubtree(dealt, target, target_turn_slot, target_river_slot, path, reach);
    return;
  }
  if (node.street == STREET_RIVER && cursor.river_slot < 0) {
    if (target_river_slot < 0) return;
    const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor.turn_slot)];
    const HandGroupView view =
        turn.river_records[static_cast<size_t>(target_river_slot)].GroupView();
    NodeCursor dealt(&state, cursor.pass, &node, cursor.turn_slot, target_river_slot);
    const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
    maps.GatherSumHandGroups(view, dealt.in0, cursor.in0);
    maps.GatherSumHandGroups(view, dealt.in1, cursor.in1);
    WalkSubtree(dealt, target, target_turn_slot, target_river_slot, path, reach);
    return;
  }
  if (node.kind != DECISION_NODE || !node.regret_store || path.empty()) return;

  const int32_t child = path.back();
  path.pop_back();
  if (child < 0 || static_cast<size_t>(child) >= node.children.size()) return;
  const std::vector<NumArray> strategy = WalkStrategy(cursor);
  NodeCursor next(&state, cursor.pass, &state.nodes[static_cast<size_t>(node.children[child])],
                  cursor.turn_slot, cursor.river_slot);
  next.in0.CopyFrom(cursor.in0);
  next.in1.CopyFrom(cursor.in1);
  // The acting player's reach: OOP's is the second input, IP's the first.
  NumArray& acting = node.player == PLAYER_OOP ? next.in1 : next.in0;
  const NumArray& row = strategy[static_cast<size_t>(child)];
  if (acting.HasData() && row.HasData())
    for (int32_t h = 0; h < acting.count && h < row.count; ++h) acting.data[h] *= row.data[h];
  WalkSubtree(next, target, target_turn_slot, target_river_slot, path, reach);
}
