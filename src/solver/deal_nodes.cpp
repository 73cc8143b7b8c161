#include "solver/deal_nodes.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "compress/coder.h"
#include "protocol/fail.h"
#include "solver/array_ops.h"
#include "solver/node_traversal.h"
#include "solver/river_board_pass.h"
#include "solver/showdown_tables.h"
#include "solver/solver_constants.h"
#include "solver/solver_state.h"
#include "solver/street_values.h"
#include "solver/subgame_task.h"
#include "solver/value_target.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

// For every hand pair, 45 turn cards (52 less the flop and the four hole cards)
// and 44 river cards can come; the sum over dealt cards becomes their average.
constexpr double kTurnAverage = 0.022222222222222223;   // 1 / 45
constexpr double kRiverAverage = 0.022727272727272728;  // 1 / 44

// A value kept in a card record, or zeros of the board's hand count when the
// record holds none for this board (never filled, or from another tree shape).
void CopyStored(NumArray& out, const NumArray& stored, int32_t n) {
  if (stored.HasData() && stored.count == n)
    out.CopyFrom(stored);
  else
    out.AssignZeros(n);
}

void KeepInRecord(CardRecord& record, Player player, const NumArray& values,
                  const NumArray& best) {
  record.values[player].CopyFrom(values);
  record.best_response_values[player].CopyFrom(best);
}

// The same for every deal node of a pass: taken once per thread and iteration.
double ReachWeight(const SolverState& state) {
  static thread_local double cached_base = -1.0, cached_exponent = 0.0, cached_weight = 0.0;
  const double base = static_cast<double>(state.iterations) + 1.0;
  if (base != cached_base || g_discount_exponent != cached_exponent) {
    cached_weight = std::pow(base, g_discount_exponent);
    cached_base = base;
    cached_exponent = g_discount_exponent;
  }
  return cached_weight;
}

// Collect phase: one task per dealt slot first .. first + count - 1 (river
// slots below the cursor's turn slot when `river`), sharing one set of sources
// and destinations. The first task holds the shared arrays until the combine
// walk takes them back.
void CollectDealTasks(NodeCursor& cursor, bool river, int32_t first, int32_t count) {
  if (count <= 0) return;
  // Held here until the first task takes them: an allocation that fails on
  // the way (the pass then gives up) leaves nothing behind.
  auto shared = std::make_unique<SharedArrays>();
  shared->src0.CopyFrom(cursor.in0);
  shared->dst0.AssignZeros(cursor.out0.count);
  const bool second_input = cursor.in1.count > 0;
  if (second_input) shared->src1.CopyFrom(cursor.in1);
  const bool second_output = cursor.out1.HasData();
  if (second_output) shared->dst1.AssignZeros(cursor.out1.count);
  g_subgame_tasks.reserve(g_subgame_tasks.size() + static_cast<size_t>(count));
  SubgameTask* leader = nullptr;
  SubgameTask* previous = nullptr;
  for (int32_t slot = first; slot < first + count; ++slot) {
    SubgameTask* task = MakeSubgameTask(cursor.state, cursor.pass, cursor.node,
                                        river ? cursor.turn_slot : slot, river ? slot : -1);
    if (slot == first) task->shared = std::move(shared);
    SharedArrays& arrays = slot == first ? *task->shared : *leader->shared;
    task->src0 = &arrays.src0;
    task->dst0 = &arrays.dst0;
    task->src1 = second_input ? &arrays.src1 : nullptr;
    task->dst1 = second_output ? &arrays.dst1 : nullptr;
    // The results are added in this order (RunSubgameTask).
    if (!leader) {
      leader = task;
      leader->next_to_add = task;
    } else {
      previous->next_in_group = task;
    }
    task->leader = leader;
    previous = task;
  }
}

// Combine phase: the sums of this deal node's tasks, which the collect walk put
// at the read index, become the outputs.
void CombineDealTasks(NodeCursor& cursor, int32_t count) {
  if (count <= 0) return;
  const size_t start = static_cast<size_t>(g_task_read_index);
  if (g_task_read_index < 0 || start + static_cast<size_t>(count) > g_subgame_tasks.size())
    Fail("subgame tasks out of order");
  SubgameTask& first = *g_subgame_tasks[start];
  if (first.cursor.node != cursor.node || !first.shared) Fail("subgame tasks out of order");
  cursor.out0 = std::move(*first.dst0);
  if (first.dst1) cursor.out1 = std::move(*first.dst1);
  // The other tasks of the node keep their pointers to the freed arrays until
  // they are reused: nothing reads them once the batch is over.
  first.ReleaseShared();
  g_task_read_index += count;
}

// The turn deals below a node-value target on the flop give the values kept by
// the last evaluation. The target's street counts one lower while its slot of
// that street is not dealt.
bool TargetAboveTurnDeal(const ValueTarget& target) {
  Street street = target.node ? target.node->street : STREET_FLOP;
  if ((street == STREET_RIVER && target.river_slot < 0) ||
      (street == STREET_TURN && target.turn_slot < 0))
    street = static_cast<Street>(street - 1);
  return street < STREET_TURN;
}

// Below the turn of a flop-rooted tree: every river card of the turn slot in
// turn, on the thread that runs the turn's task. The block-compressed river
// stores of the whole river subtree are opened once around the walk.
void WalkRiverCardsInLine(NodeCursor& cursor, const TurnDealRecord& turn) {
  SolverState& state = *cursor.state;
  const bool sums = StrategySumsInUse(state);

  // Decoded and coded again here, inside the turn's task, so that the
  // subtrees of different turn cards are coded in parallel.
  try {
    OpenRiverSubtree(cursor, false, RiverWalkRule::kFollowPass);
    if (sums) OpenRiverSubtree(cursor, true, RiverWalkRule::kFollowPass);
  } catch (const CodedStreamError&) {
    // The solver's own blocks no longer decode: its memory is damaged.
    ExitOnDamagedStream();
  } catch (...) {
    // No memory for a cache: nothing stays open for the next pass.
    DropSubtreeValues(cursor, false);
    DropSubtreeValues(cursor, true);
    throw;
  }

  const bool own_reach = cursor.in1.count > 0;
  const bool best_response = cursor.out1.HasData();
  const int32_t slots = static_cast<int32_t>(turn.river_records.size());
  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  try {
    for (int32_t slot = 0; slot < slots; ++slot) {
      const HandGroupView view = turn.river_records[static_cast<size_t>(slot)].GroupView();
      NodeCursor sub(&state, cursor.pass, cursor.node, cursor.turn_slot, slot);
      maps.GatherSumHandGroups(view, sub.in0, cursor.in0);
      if (own_reach) maps.GatherSumHandGroups(view, sub.in1, cursor.in1);
      TraverseRiverBoard(sub);
      maps.ScatterAddHandGroups(view, cursor.out0, sub.out0);
      if (best_response) maps.ScatterAddHandGroups(view, cursor.out1, sub.out1);
    }
  } catch (...) {
    // A walk given up (no memory) drops the subtree's changes of this pass.
    DropSubtreeValues(cursor, false);
    DropSubtreeValues(cursor, true);
    throw;
  }

  // A write-back that cannot be finished (no memory or address space) drops
  // the subtree's changes of this pass that it has not kept, as a walk given
  // up does; every block stays whole.
  try {
    WriteBackRiverSubtree(cursor, false, RiverWalkRule::kFollowPass);
  } catch (...) {
    DropSubtreeValues(cursor, true);
    throw;
  }
  if (sums) WriteBackRiverSubtree(cursor, true, RiverWalkRule::kFollowPass);
}

}  // namespace

void TraverseTurnDeal(NodeCursor& cursor) {
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  SolverState& state = *cursor.state;
  TreeNode& node = *cursor.node;
  const DealTree& deal = *state.deal_tree;
  const PassContext& pass = *cursor.pass;
  const Player p = pass.player;
  const int32_t mode = pass.mode;
  const uint32_t phase = pass.phase;
  const int32_t n = static_cast<int32_t>(deal.hands.size());
  CardRecord* record =
      node.kind == DECISION_NODE && node.card_records ? &node.card_records[0] : nullptr;
  const ValueTarget* target = mode == PASS_NODE_VALUE ? pass.value_target : nullptr;

  if (record && ((mode == PASS_EVALUATE && (state.flags & INCOMPLETE_TREE)) ||
                 (target && TargetAboveTurnDeal(*target)))) {
    // Only the combine walk's outputs are kept; the collect walk's are dropped.
    if (phase == PHASE_COMBINE) {
      CopyStored(cursor.out0, record->values[p], n);
      if (mode == PASS_EVALUATE) CopyStored(cursor.out1, record->best_response_values[p], n);
    } else {
      cursor.out0.AssignZeros(n);
      if (mode == PASS_EVALUATE) cursor.out1.AssignZeros(n);
    }
    return;
  }

  cursor.out0.AssignZeros(n);
  if (mode == PASS_EVALUATE) cursor.out1.AssignZeros(n);
  if (mode == PASS_SOLVE && record && phase == PHASE_COLLECT)
    ops.AccumulateCardReach(*record, Opponent(p), cursor.in0, ReachWeight(state));

  int32_t first = 0;
  int32_t count = static_cast<int32_t>(deal.turn_records.size());
  if (target && target->turn_slot >= 0 && !target->per_board_collection) {
    first = target->turn_slot;
    count = first < count ? 1 : 0;
  }
  if (phase == PHASE_COLLECT)
    CollectDealTasks(cursor, false, first, count);
  else if (phase == PHASE_COMBINE)
    CombineDealTasks(cursor, count);

  ops.ScaleArray(cursor.out0, kTurnAverage);
  if (mode == PASS_EVALUATE) ops.ScaleArray(cursor.out1, kTurnAverage);
  if (mode == PASS_EVALUATE && record) KeepInRecord(*record, p, cursor.out0, cursor.out1);
}

void TraverseRiverDeal(NodeCursor& cursor) {
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  SolverState& state = *cursor.state;
  TreeNode& node = *cursor.node;
  const DealTree& deal = *state.deal_tree;
  if (cursor.turn_slot < 0 || static_cast<size_t>(cursor.turn_slot) >= deal.turn_records.size())
    Fail("river deal without a turn");
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor.turn_slot)];
  const PassContext& pass = *cursor.pass;
  const Player p = pass.player;
  const int32_t mode = pass.mode;
  const uint32_t phase = pass.phase;
  const int32_t n = turn.HandCount();
  CardRecord* record =
      node.kind == DECISION_NODE && node.card_records && cursor.turn_slot < kRiverCardRecordCount
          ? &node.card_records[cursor.turn_slot]
          : nullptr;
  const ValueTarget* target = mode == PASS_NODE_VALUE ? pass.value_target : nullptr;

  if (record &&
      ((mode == PASS_EVALUATE && (state.flags & INCOMPLETE_TREE)) ||
       (target &&
        !(target->node && target->node->street == STREET_RIVER && target->river_slot >= 0)))) {
    CopyStored(cursor.out0, record->values[p], n);
    if (mode == PASS_EVALUATE) CopyStored(cursor.out1, record->best_response_values[p], n);
    return;
  }

  cursor.out0.AssignZeros(n);
  if (mode == PASS_EVALUATE) cursor.out1.AssignZeros(n);
  if (mode == PASS_SOLVE && record)
    ops.AccumulateCardReach(*record, Opponent(p), cursor.in0, ReachWeight(state));

  if (state.nodes[0].street < STREET_TURN) {
    // Only turn deals make tasks in a flop-rooted tree. A line all in before
    // the river takes the sum over the river cards from the turn's table.
    if (cursor.in0.HasData()) {
      if (node.kind == SHOWDOWN_NODE && mode != PASS_NODE_VALUE &&
          AddShowdownDealValues(cursor.turn_slot, cursor.out0, cursor.in0, node.value)) {
        // At a showdown the best response is the value itself.
        if (mode == PASS_EVALUATE) cursor.out1.CopyFrom(cursor.out0);
      } else {
        WalkRiverCardsInLine(cursor, turn);
      }
    }
  } else {
    const int32_t count = static_cast<int32_t>(turn.river_records.size());
    if (phase == PHASE_COLLECT)
      CollectDealTasks(cursor, true, 0, count);
    else if (phase == PHASE_COMBINE)
      CombineDealTasks(cursor, count);
  }

  ops.ScaleArray(cursor.out0, kRiverAverage);
  if (mode == PASS_EVALUATE) ops.ScaleArray(cursor.out1, kRiverAverage);
  if (mode == PASS_EVALUATE && record) KeepInRecord(*record, p, cursor.out0, cursor.out1);
}
