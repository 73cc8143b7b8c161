#include "solver/split_walk.h"

#include <memory>
#include <utility>

#include "protocol/fail.h"
#include "solver/array_ops.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "solver/solver_state.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/stored_strategy.h"
#include "tree/tree_records.h"

namespace {


// A turn board's value of each hand: the parent's value of the flop hand it
// extends (the first card's index list). Absent stays absent.
void GatherTurnInput(NumArray& out, const NumArray& src, const TurnDealRecord& turn) {
  const int32_t n = turn.HandCount();
  if (!src.HasData()) {
    out.Free();
    out.count = n;
    return;
  }
  out.Resize(n);
  const int16_t* index = turn.card_lists[0].data();
  for (int32_t k = 0; k < n; ++k) out.data[k] = src.data[index[k]];
}

// The strategy the reach follows at a node before the split street: the
// average once the sums are in use, else the current one.
std::vector<NumArray> WalkStrategy(const SolverState& state, const NodeCursor& cursor) {
  const TreeNode& node = *cursor.node;
  if (!node.regret_store) Fail("split walk over a node without stores");
  if (node.strategy_store && StrategySumsInUse(state)) {
    std::vector<NumArray> average;
    GetAverageStrategy(node, average, cursor.turn_slot, cursor.river_slot);
    return average;
  }
  const int32_t n = static_cast<int32_t>(node.children.size());
  std::vector<float> defaults(static_cast<size_t>(n), 1.0f / static_cast<float>(n));
  return node.regret_store->GetStrategy(cursor.turn_slot, cursor.river_slot, defaults.data());
}

}  // namespace

void EvaluateSubtree(NodeCursor* cursor, Street street, SplitTaskList& list) {
  SolverState& state = *cursor->state;
  TreeNode& node = *cursor->node;
  // An end node holds no split, on whatever street and board it lies.
  if (node.kind != DECISION_NODE) return;

  if (node.street == street) {
    auto task = std::make_unique<SubgameTask>(&state, nullptr, &node, cursor->turn_slot,
                                              cursor->river_slot);
    task->cursor.in1.CopyFrom(cursor->in1);
    task->cursor.in0.CopyFrom(cursor->in0);
    list.push_back(std::move(task));
    return;
  }

  const DealTree& deal = *state.deal_tree;
  if (node.street >= STREET_TURN && cursor->turn_slot < 0) {
    const int32_t slots = static_cast<int32_t>(deal.turn_records.size());
    for (int32_t t = 0; t < slots; ++t) {
      const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(t)];
      NodeCursor dealt(&state, nullptr, &node, t, -1);
      GatherTurnInput(dealt.in1, cursor->in1, turn);
      GatherTurnInput(dealt.in0, cursor->in0, turn);
      EvaluateSubtree(&dealt, street, list);
    }
    return;
  }
  if (node.street >= STREET_RIVER && cursor->river_slot < 0) {
    const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor->turn_slot)];
    const int32_t slots = static_cast<int32_t>(turn.river_records.size());
    const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
    for (int32_t r = 0; r < slots; ++r) {
      const HandGroupView view = turn.river_records[static_cast<size_t>(r)].GroupView();
      NodeCursor dealt(&state, nullptr, &node, cursor->turn_slot, r);
      maps.GatherSumHandGroups(view, dealt.in1, cursor->in1);
      maps.GatherSumHandGroups(view, dealt.in0, cursor->in0);
      EvaluateSubtree(&dealt, street, list);
    }
    return;
  }

  const std::vector<NumArray> strategy = WalkStrategy(state, *cursor);
  const size_t n = node.children.size();
  for (size_t i = 0; i < n && i < strategy.size(); ++i) {
    TreeNode& child = state.nodes[static_cast<size_t>(node.children[i])];
    if (child.kind != DECISION_NODE) continue;
    NodeCursor next(&state, nullptr, &child, cursor->turn_slot, cursor->river_slot);
    if (node.player == PLAYER_OOP) {
      Kernels<ArrayOpsKernels>().MultiplyArrays(next.in1, cursor->in1, strategy[i]);
      next.in0.CopyFrom(cursor->in0);
    } else {
      next.in1.CopyFrom(cursor->in1);
      Kernels<ArrayOpsKernels>().MultiplyArrays(next.in0, cursor->in0, strategy[i]);
    }
    EvaluateSubtree(&next, street, list);
  }
}

void EvaluateFromRoot(SolverState& state, Street street, SplitTaskList& list) {
  NodeCursor root(&state, nullptr, &state.nodes[0], state.start_turn_slot,
                  state.start_river_slot);
  root.in1.AssignValues(state.root_hand_weights[PLAYER_OOP]);
  root.in0.AssignValues(state.root_hand_weights[PLAYER_IP]);
  EvaluateSubtree(&root, street, list);
}
