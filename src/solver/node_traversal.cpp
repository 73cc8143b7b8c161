// The recursive walk and the decision-node kernels.
//
// The walk itself is built once, for baseline x86-64: its per-hand work runs in
// the array operations, the end-node kernels and the store kernels, whose
// AVX2/FMA or AVX build the start-up chose. What is left here is
// bookkeeping per node, which no instruction set speeds up.
//
// Recursion follows the lines of the tree, which the builder limits to
// kMaxLineActions actions; every frame keeps only cursors, vector headers and
// at most kMaxFusedActions array headers on the stack, the per-hand arrays live
// on the heap.
#include "solver/node_traversal.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "protocol/fail.h"
#include "solver/array_ops.h"
#include "solver/deal_nodes.h"
#include "solver/solver_constants.h"
#include "solver/solver_state.h"
#include "solver/stack_arrays.h"
#include "solver/street_values.h"
#include "solver/terminal_nodes.h"
#include "solver/value_target.h"
#include "store/block_store.h"
#include "store/block_store_kernels.h"
#include "store/arena_store.h"
#include "store/value_kernels16.h"
#include "tree/deal_tree.h"
#include "tree/stored_strategy.h"
#include "tree/tree_records.h"

namespace {

// 1 - 0.9 as a double: the share of the actions after the first in the
// exploring default of solving passes.
constexpr double kExploreRest = 0.09999999999999998;
constexpr double kExploreFirst = 0.9;

const RiverDealRecord& CursorRiverRecord(const NodeCursor& cursor) {
  const DealTree& deal = *cursor.state->deal_tree;
  return deal.turn_records[static_cast<size_t>(cursor.turn_slot)]
      .river_records[static_cast<size_t>(cursor.river_slot)];
}

// The exploring default of solving passes: the first action 0.9 (or 1/n when
// that is more), the rest shared equally by the others.
void ExploringDefaults(float* d, int32_t n) {
  d[0] = static_cast<float>(std::max(kExploreFirst, 1.0 / n));
  for (int32_t a = 1; a < n; ++a) d[a] = static_cast<float>(kExploreRest / (n - 1));
}

// The exploring defaults for the action counts of the fused kernels, worked
// out once: the fused ways ask for them at every node of every board, and each
// asked for two divisions (the uniform ones: UniformDefaultRow).
struct ExploringRows {
  float rows[kMaxFusedActions + 1][kMaxFusedActions] = {};
};

ExploringRows MakeExploringRows() {
  ExploringRows t;
  for (int32_t n = 1; n <= kMaxFusedActions; ++n) ExploringDefaults(t.rows[n], n);
  return t;
}

const ExploringRows kExploringRows = MakeExploringRows();

// The strategy a pass uses at a decision node: in solving passes the current
// strategy, with a default that favours the first action where the regrets are
// all zero; otherwise the average strategy once the strategy sums hold
// anything, else the current strategy with a uniform default.
std::vector<NumArray> PassStrategy(const NodeCursor& cursor) {
  const SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  ActionDefaults defaults(n);
  float* d = defaults.data();
  if (cursor.pass->mode == PASS_SOLVE) {
    ExploringDefaults(d, n);
    return RegretStore(node).GetStrategy(cursor.turn_slot, cursor.river_slot, d);
  }
  if (node.strategy_store && StrategySumsInUse(state)) {
    std::vector<NumArray> average;
    GetAverageStrategy(node, average, cursor.turn_slot, cursor.river_slot);
    return average;
  }
  const float uniform = 1.0f / static_cast<float>(n);
  for (int32_t a = 0; a < n; ++a) d[a] = uniform;
  return RegretStore(node).GetStrategy(cursor.turn_slot, cursor.river_slot, d);
}

// The last two children of a river decision end the hand in a showdown and a
// fold (a call and a fold facing a bet): one kernel call values both.
bool HasRiverEndPair(const SolverState& state, const TreeNode& node) {
  const int32_t n = ChildCount(node);
  if (node.street != STREET_RIVER || n < 2) return false;
  return state.nodes[static_cast<size_t>(node.children[n - 2])].kind == SHOWDOWN_NODE &&
         state.nodes[static_cast<size_t>(node.children[n - 1])].kind == FOLD_NODE;
}

// An end node's payoff for the pass player: a fold costs the folder the value.
double EndValue(const PassContext& pass, const TreeNode& end) {
  return end.kind == FOLD_NODE && end.player == pass.player ? -end.value : end.value;
}

// The combination mask of a board, one byte per hand. A mask shorter than the
// board (not one this engine makes) locks the hands it covers and no others.
const uint8_t* CoveringMask(const NodeLockRecord* lock, int32_t hands,
                            std::vector<uint8_t>& padded) {
  if (!lock || !lock->mask) return nullptr;
  if (lock->mask_length >= hands) return lock->mask;
  padded.assign(static_cast<size_t>(std::max(hands, 0)), 0);
  std::copy(lock->mask, lock->mask + std::max(lock->mask_length, 0), padded.begin());
  return padded.data();
}

// min(cap, max(0, iterations - 60)^exponent): the same for every node of a
// pass, so taken once per thread and iteration.
double StrategySumWeight(int32_t iterations) {
  static thread_local int32_t cached_iterations = -1;
  static thread_local double cached_exponent = 0.0, cached_cap = 0.0, cached_weight = 0.0;
  if (iterations != cached_iterations || g_discount_exponent != cached_exponent ||
      g_discount_cap != cached_cap) {
    cached_weight = std::min(
        g_discount_cap,
        std::pow(static_cast<double>(std::max(0, iterations - 60)), g_discount_exponent));
    cached_iterations = iterations;
    cached_exponent = g_discount_exponent;
    cached_cap = g_discount_cap;
  }
  return cached_weight;
}

// As a.Resize(n), without the call where a holds n values already (the river
// board sweeps hand their arrays over at the board's count).
inline void ResizeUnlessAt(NumArray& a, int32_t n) {
  if (!a.data || a.count != n) a.Resize(n);
}

void MakeAbsent(NumArray& a, int32_t count) {
  a.Free();
  a.count = count;
}

// The node-value formula on the cursor's board: hand masks of that board and
// the number of runouts still to come (45 x 44 from the flop, 44 from the turn).
void FillTargetArrays(const NodeCursor& cursor, NumArray& values, NumArray& weights) {
  const DealTree& deal = *cursor.state->deal_tree;
  const std::vector<CardMask>* hands;
  double factor;
  if (cursor.turn_slot < 0) {
    hands = &deal.hands;
    factor = 1980.0;
  } else if (cursor.river_slot < 0) {
    hands = &deal.turn_records[static_cast<size_t>(cursor.turn_slot)].hands;
    factor = 44.0;
  } else {
    hands = &CursorRiverRecord(cursor).hands;
    factor = 1.0;
  }
  // The reach must be per hand of the board; a board that works per hand group
  // has no per-hand reach to collect.
  if (cursor.in0.HasData() && cursor.in0.count != static_cast<int32_t>(hands->size()))
    Fail("node value on a board of hand groups");
  Kernels<ArrayOpsKernels>().CollectTargetValues(values, weights, cursor.out0, cursor.in0,
                                                 cursor.in1, hands->data(), factor);
}

void CollectTarget(const NodeCursor& cursor, ValueTarget& target) {
  if (cursor.node != target.node) return;
  if (!target.per_board_collection) {
    if (cursor.turn_slot != target.turn_slot || cursor.river_slot != target.river_slot) return;
    FillTargetArrays(cursor, target.values, target.weights);
    return;
  }
  const Street street = cursor.node->street;
  const int32_t slot = street == STREET_RIVER  ? cursor.river_slot
                       : street == STREET_TURN ? cursor.turn_slot
                                               : -1;
  if (slot < 0) return;
  auto weights = std::make_unique<NumArray>();
  auto values = std::make_unique<NumArray>();
  FillTargetArrays(cursor, *values, *weights);
  std::lock_guard<std::mutex> guard(target.mutex);
  target.per_board_results[{cursor.turn_slot, cursor.river_slot}] =
      ValueTarget::BoardResult(std::move(weights), std::move(values));
}

// The rows of a solving pass's river decision on a 16-bit regret store, when
// the node's update can run in one pass over them (unlocked, no combination
// mask, no own reach to pass down, an action count the fused kernels take).
struct FusedRows {
  uint16_t* rows[kMaxFusedActions];
  int32_t hands = 0;
};

// The rows and the board's lock record in one look-up; the caller checks the
// lock and the mask.
bool FusedOwnRows(const NodeCursor& cursor, NodeStore& regrets, int32_t n, FusedRows& out,
                  const NodeLockRecord** lock) {
  if (n < 1 || n > kMaxFusedActions || cursor.in1.count > 0) return false;
  return RegretRows16(regrets, n, cursor.turn_slot, cursor.river_slot, out.rows, &out.hands, lock);
}

// The end of the traverser's node on fused rows: node value and regret update
// in one pass. False when the values do not fit the board (the caller then
// takes the general way).
bool FusedOwnUpdate(NodeCursor& cursor, const FusedRows& fused, const NumArray* action_values,
                    int32_t n, const std::vector<int16_t>* hand_groups) {
  const double* values[kMaxFusedActions];
  bool any = false;
  for (int32_t a = 0; a < n; ++a) {
    const NumArray& v = action_values[static_cast<size_t>(a)];
    if (v.HasData() && v.count != fused.hands) return false;
    values[a] = v.HasData() ? v.data : nullptr;
    any = any || v.HasData();
  }
  if (!any || cursor.in0.count != fused.hands) return false;
  ResizeUnlessAt(cursor.out0, fused.hands);
  const ValueKernels16& kernels = Kernels<ValueKernels16>();
  kernels.UpdateOwnDecision16(fused.rows, n, fused.hands, values, cursor.out0.data,
                              kExploringRows.rows[n], cursor.state->payoff_scale);
  if (hand_groups)
    for (int32_t a = 0; a < n; ++a)
      kernels.AverageValueGroups16(fused.rows[a], fused.hands, *hand_groups);
  return true;
}

// The node value of a solving pass from the children's values, after the walk:
// the first child's product, the later ones added.
void CombineChildValues(NodeCursor& cursor, const std::vector<NumArray>& strategy,
                        const std::vector<NumArray>& action_values) {
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  for (size_t i = 0; i < action_values.size(); ++i) {
    if (i == 0)
      ops.MultiplyArrays(cursor.out0, action_values[i], strategy[i]);
    else
      ops.MultiplyAddArrays(cursor.out0, action_values[i], strategy[i]);
  }
}

// The weight with which a solving pass adds the opponent's strategy into the
// node's strategy sums on the cursor's board; 0 when it adds nothing (collect
// phase, sums not in use, a locked board). known_lock: the board's regret lock
// record where the caller holds it already.
double SolvingSumWeight(const NodeCursor& cursor,
                        const NodeLockRecord* const* known_lock = nullptr) {
  const SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  if (cursor.pass->phase == PHASE_COLLECT || !node.strategy_store || !StrategySumsInUse(state))
    return 0.0;
  const double weight = state.storage_kind == 1 ? StrategySumWeight(state.iterations) : 1.0;
  const NodeLockRecord* lock =
      known_lock ? *known_lock
                 : RegretStore(node).GetLockRecord(cursor.turn_slot, cursor.river_slot);
  if (lock && (lock->flags & LOCKED)) return 0.0;
  return weight > 0.0 ? weight : 0.0;
}

// The opponent's decision on a 16-bit river board where the pass plays the
// current strategy (solving passes; other passes while the strategy sums are
// not in use): the children's reaches (strategy times reach, pruned as
// MultiplyInPlacePruned prunes) and, in solving passes, the strategy-sum
// additions in one pass over the rows, without the strategy arrays written and
// read again. False, with nothing done, where the reach is absent, the rows or
// the sums are not plain arena rows of the reach's board or the sums carry a
// combination mask: the caller then takes the general way. strategy holds
// kMaxFusedActions arrays, empty or at the reach's count (whose blocks are
// then written in place).
bool FusedOpponentReach(const NodeCursor& cursor, int32_t n, NumArray* strategy) {
  const SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  const bool solving = cursor.pass->mode == PASS_SOLVE;
  if (n < 1 || n > kMaxFusedActions || !cursor.in0.HasData()) return false;
  // Passes that play the average strategy take the general way.
  if (!solving && node.strategy_store && StrategySumsInUse(state)) return false;
  uint16_t* rows[kMaxFusedActions];
  int32_t hands = 0;
  const NodeLockRecord* regret_lock = nullptr;
  if (!RegretRows16(RegretStore(node), n, cursor.turn_slot, cursor.river_slot, rows, &hands,
                    &regret_lock) ||
      cursor.in0.count != hands)
    return false;
  const double weight = solving ? SolvingSumWeight(cursor, &regret_lock) : 0.0;
  // Float sums are added inside the kernel; integer sums (block stores) from
  // its products after it.
  float* sum_rows[kMaxFusedActions];
  int32_t* int_sum_rows[kMaxFusedActions];
  bool int_sums = false;
  if (weight > 0.0) {
    NodeStore* store = node.strategy_store.get();
    auto* sums = store ? store->AsArenaStore32() : nullptr;
    BlockStore* block = store && !sums ? store->AsBlockStore() : nullptr;
    int32_t sum_hands = 0;
    const NodeLockRecord* lock = nullptr;
    if (sums) {
      if (sums->layout()->actions != n ||
          !sums->BoardRows(cursor.turn_slot, cursor.river_slot, sum_rows, &sum_hands, &lock))
        return false;
    } else if (block) {
      if (block->layout()->actions != n ||
          !block->BoardRows32(cursor.turn_slot, cursor.river_slot, int_sum_rows, &sum_hands,
                              &lock))
        return false;
      int_sums = true;
    } else {
      return false;
    }
    if (sum_hands != hands || lock->mask) return false;
  }
  // PassStrategy's defaults.
  const float* defaults = solving ? kExploringRows.rows[n] : UniformDefaultRow(n);
  double* out[kMaxFusedActions];
  for (int32_t a = 0; a < n; ++a) {
    ResizeUnlessAt(strategy[a], hands);
    out[a] = strategy[a].data;
  }
  double sums[kMaxFusedActions];
  Kernels<ValueKernels16>().OpponentDecision16(rows, n, hands, cursor.in0.data, defaults,
                                               out, sums,
                                               weight > 0.0 && !int_sums ? sum_rows : nullptr,
                                               weight);
  if (int_sums) {
    // The products are the strategy times the reach, as AccumulateStrategy
    // forms them: the same sums whichever way a board takes.
    const BlockStoreKernels& kernels = Kernels<BlockStoreKernels>();
    for (int32_t a = 0; a < n; ++a)
      kernels.AccumulateValues32(int_sum_rows[a], out[a], nullptr, weight, hands, nullptr);
    RecordAccumulationWeight(weight);
  }
  for (int32_t a = 0; a < n; ++a)
    if (sums[a] < DBL_MIN) MakeAbsent(strategy[a], hands);
  return true;
}

// Each action's reach at the opponent's decision (the strategy times the
// opponent's reach; an action the opponent never takes here is pruned, and
// with no reach at all every one is, whatever the strategy: a solving pass then
// reads no rows), and in solving passes the strategy sums grown. Up to
// kMaxFusedActions actions the reaches go into fixed (that many arrays) where
// the way allows; otherwise into general. Returns the arrays used.
NumArray* ActionReaches(const NodeCursor& cursor, NumArray* fixed,
                        std::vector<NumArray>& general) {
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  const bool solving = cursor.pass->mode == PASS_SOLVE;
  if (solving && !cursor.in0.HasData()) {
    NumArray* out = fixed;
    if (n > kMaxFusedActions) {
      general = MakeNumArrays(n);
      out = general.data();
    }
    for (int32_t a = 0; a < n; ++a) out[a].count = cursor.in0.count;
    return out;
  }
  if (FusedOpponentReach(cursor, n, fixed)) return fixed;
  general = PassStrategy(cursor);
  const double weight = solving ? SolvingSumWeight(cursor) : 0.0;
  if (weight > 0.0)
    node.strategy_store->AccumulateStrategy(cursor.turn_slot, cursor.river_slot, general,
                                            cursor.in0, weight);
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  for (NumArray& sigma : general) ops.MultiplyInPlacePruned(sigma, cursor.in0);
  return general.data();
}

}  // namespace

void TraverseNode(NodeCursor& cursor) {
  const PassContext& pass = *cursor.pass;
  const TreeNode& node = *cursor.node;
  if (node.street >= STREET_TURN && cursor.turn_slot < 0)
    TraverseTurnDeal(cursor);
  else if (node.street >= STREET_RIVER && cursor.river_slot < 0)
    TraverseRiverDeal(cursor);
  else if (node.kind != DECISION_NODE)
    TraverseTerminal(cursor);
  else if (node.player == pass.player)
    TraverseOwnDecision(cursor);
  else
    TraverseOpponentDecision(cursor);

  if (pass.mode == PASS_NODE_VALUE && pass.value_target && pass.phase != PHASE_COLLECT)
    CollectTarget(cursor, *pass.value_target);
}

void TraverseOwnDecision(NodeCursor& cursor) {
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  const PassContext& pass = *cursor.pass;
  const int32_t mode = pass.mode;
  NodeStore& regrets = RegretStore(node);

  // A solving pass needs the strategy of an unlocked 16-bit river board without
  // a combination mask only for the node value and the update at the end: both
  // then run in one pass over its rows, after the children. Such a board's rows
  // and lock record come from one look-up.
  const bool solving_update = mode == PASS_SOLVE && pass.phase != PHASE_COLLECT;
  FusedRows fused;
  const NodeLockRecord* lock = nullptr;
  const bool have_rows = solving_update && FusedOwnRows(cursor, regrets, n, fused, &lock);
  if (!have_rows) lock = regrets.GetLockRecord(cursor.turn_slot, cursor.river_slot);
  const bool locked = lock && (lock->flags & LOCKED);
  std::vector<uint8_t> padded_mask;
  const uint8_t* mask = nullptr;
  if (lock && lock->mask) {
    const int32_t hands =
        have_rows ? fused.hands : regrets.GetHandCount(cursor.turn_slot, cursor.river_slot);
    mask = CoveringMask(lock, hands, padded_mask);
  }

  const bool reach_present = cursor.in0.HasData();
  const bool update = solving_update && !locked;
  const bool fuse = update && !mask && have_rows;
  std::vector<NumArray> strategy;
  if (!fuse) strategy = PassStrategy(cursor);
  // The fused way (up to kMaxFusedActions actions) keeps the action values on
  // the stack: no vector per visit.
  StackArrays fused_values(fuse ? n : 0);
  std::vector<NumArray> value_vector;
  if (!fuse) value_vector = MakeNumArrays(n);
  NumArray* action_values = fuse ? fused_values.data() : value_vector.data();

  int32_t visited = n;
  if (mode == PASS_SOLVE && HasRiverEndPair(state, node)) {
    const TreeNode& showdown = state.nodes[static_cast<size_t>(node.children[n - 2])];
    const TreeNode& fold = state.nodes[static_cast<size_t>(node.children[n - 1])];
    EvaluateRiverEndPair(CursorRiverRecord(cursor), action_values[n - 2], action_values[n - 1],
                         cursor.in0, EndValue(pass, showdown), EndValue(pass, fold));
    visited = n - 2;
  }

  const bool own_reach = cursor.in1.count > 0;
  int32_t first_count = 0;
  for (int32_t i = 0; i < n; ++i) {
    TreeNode& child = state.nodes[static_cast<size_t>(node.children[i])];
    NumArray& values = action_values[i];
    NumArray best;
    if (i < visited) {
      NodeCursor sub(&state, &pass, &child, cursor.turn_slot, cursor.river_slot);
      if (own_reach) ops.MultiplyArraysPruned(sub.in1, cursor.in1, strategy[i]);
      // The traverser's own choice does not change the opponent's reach.
      sub.in0 = std::move(cursor.in0);
      TraverseNode(sub);
      cursor.in0 = std::move(sub.in0);
      values = std::move(sub.out0);
      best = std::move(sub.out1);
    }
    if (mode == PASS_SOLVE) ApplyEvBoost(values, node, child);
    if (i == 0) first_count = values.count;
    if (fuse) continue;

    const NumArray& sigma = strategy[i];
    if (i == 0) {
      if (reach_present) ops.MultiplyArrays(cursor.out0, values, sigma);
      if (mode == PASS_EVALUATE) {
        if (locked)
          ops.MultiplyArrays(cursor.out1, best, sigma);
        else if (!mask)
          cursor.out1 = std::move(best);
        else
          ops.CombineFirstMasked(cursor.out1, best, sigma, mask);
      }
    } else {
      if (reach_present) ops.MultiplyAddArrays(cursor.out0, values, sigma);
      if (mode == PASS_EVALUATE) {
        if (locked)
          ops.MultiplyAddArrays(cursor.out1, best, sigma);
        else if (!mask)
          ops.MaxArrays(cursor.out1, best);
        else
          ops.CombineMaxMasked(cursor.out1, best, sigma, mask);
      }
    }
    // Only the regret update reads the action values again.
    if (!update) values = NumArray();
  }

  // Early in a run, river regrets of equally strong hands are kept together.
  const std::vector<int16_t>* hand_groups = nullptr;
  if (state.deal_flag == 0 && node.street == STREET_RIVER &&
      state.iterations <= static_cast<int64_t>(g_early_river_iterations))
    hand_groups = &CursorRiverRecord(cursor).strength_groups;

  if (fuse && reach_present) {
    if (FusedOwnUpdate(cursor, fused, action_values, n, hand_groups)) return;
    // Values that do not fit the board: the general way.
    value_vector = MakeNumArrays(n);
    for (int32_t a = 0; a < n; ++a)
      value_vector[static_cast<size_t>(a)] = std::move(action_values[a]);
    strategy = PassStrategy(cursor);
    CombineChildValues(cursor, strategy, value_vector);
  }

  if (!reach_present || !cursor.out0.HasData()) {
    MakeAbsent(cursor.out0, first_count);
    return;
  }
  if (!update) return;
  // Not fused here, or fused values moved into the vector above.
  regrets.UpdateRegrets(cursor.turn_slot, cursor.river_slot, cursor.out0, value_vector, nullptr,
                        hand_groups, state.payoff_scale);
}

void TraverseOpponentDecision(NodeCursor& cursor) {
  SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  const PassContext& pass = *cursor.pass;
  const int32_t mode = pass.mode;

  // Each action's reach, on the stack up to kMaxFusedActions actions.
  StackArrays fixed_arrays(n);
  std::vector<NumArray> strategy_vector;
  NumArray* strategy = ActionReaches(cursor, fixed_arrays.data(), strategy_vector);

  NumArray end_pair[2];
  int32_t visited = n;
  if (mode == PASS_SOLVE && HasRiverEndPair(state, node) && strategy[n - 2].HasData() &&
      strategy[n - 1].HasData()) {
    const TreeNode& showdown = state.nodes[static_cast<size_t>(node.children[n - 2])];
    const TreeNode& fold = state.nodes[static_cast<size_t>(node.children[n - 1])];
    EvaluateRiverEndPairWithReaches(CursorRiverRecord(cursor), end_pair[0], end_pair[1],
                                    strategy[n - 2], strategy[n - 1], EndValue(pass, showdown),
                                    EndValue(pass, fold));
    strategy[n - 2] = NumArray();
    strategy[n - 1] = NumArray();
    visited = n - 2;
  }

  for (int32_t i = 0; i < n; ++i) {
    NumArray values;
    NumArray best;
    if (i < visited) {
      TreeNode* child = &state.nodes[static_cast<size_t>(node.children[i])];
      NodeCursor sub(&state, &pass, child, cursor.turn_slot, cursor.river_slot);
      sub.in0 = std::move(strategy[i]);
      sub.in1 = std::move(cursor.in1);
      TraverseNode(sub);
      cursor.in1 = std::move(sub.in1);
      values = std::move(sub.out0);
      best = std::move(sub.out1);
    } else {
      values = std::move(end_pair[i - (n - 2)]);
    }
    if (i == 0) {
      cursor.out0 = std::move(values);
      if (mode == PASS_EVALUATE) cursor.out1 = std::move(best);
    } else {
      const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
      ops.AccumulateArray(cursor.out0, values);
      if (mode == PASS_EVALUATE) ops.AccumulateArray(cursor.out1, best);
    }
  }
}

// ---------------------------------------------------------------------------
// Pieces of the two decision walks for the river-board pass, which takes a
// solving pass's river board in three sweeps (river_board_pass.cpp). Each does
// what the matching part of TraverseOwnDecision or TraverseOpponentDecision
// does in a solving pass.

bool RiverEndPairValues(const SolverState& state, const PassContext& pass, const TreeNode& node,
                        double* showdown_value, double* fold_value) {
  if (!HasRiverEndPair(state, node)) return false;
  const int32_t n = ChildCount(node);
  *showdown_value = EndValue(pass, state.nodes[static_cast<size_t>(node.children[n - 2])]);
  *fold_value = EndValue(pass, state.nodes[static_cast<size_t>(node.children[n - 1])]);
  return true;
}

void ApplyEvBoost(NumArray& values, const TreeNode& node, const TreeNode& child) {
  const double b = child.ev_boost;
  if (b == 0.0) return;
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  if (child.kind == FOLD_NODE)
    ops.ScaleArray(values, 1.0 - b);
  else if (child.kind == SHOWDOWN_NODE || child.street > node.street)
    ops.ScaleSigned(values, 1.0 + b, 1.0 / (1.0 + b));
  else
    ops.ScalePositive(values, 1.0 + b);
}

// A board whose decision follows a lock or a combination mask: its own walk
// mixes the strategy into the update and the best response.
namespace {
bool LockedOrMasked(const NodeLockRecord* lock) {
  return lock && ((lock->flags & LOCKED) || lock->mask);
}
}  // namespace

bool OwnDecisionFusedRows(const NodeCursor& cursor, uint16_t** rows, int32_t* hands) {
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  if (cursor.pass->mode != PASS_SOLVE || cursor.pass->phase == PHASE_COLLECT) return false;
  if (n < 1 || n > kMaxFusedActions || cursor.in1.count > 0) return false;
  NodeStore& regrets = RegretStore(node);
  FusedRows fused;
  const NodeLockRecord* lock = nullptr;
  if (!FusedOwnRows(cursor, regrets, n, fused, &lock)) {
    // No 16-bit rows (a float store): the general way, after the children.
    lock = regrets.GetLockRecord(cursor.turn_slot, cursor.river_slot);
    for (int32_t a = 0; a < n; ++a) fused.rows[a] = nullptr;
    fused.hands = 0;
  }
  if (LockedOrMasked(lock)) return false;
  for (int32_t a = 0; a < n; ++a) rows[a] = fused.rows[a];
  *hands = fused.hands;
  return true;
}

void FinishFusedOwnDecision(NodeCursor& cursor, uint16_t* const* rows, int32_t hands,
                            NumArray* action_values, int32_t first_count) {
  SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  const int32_t n = ChildCount(node);
  FusedRows fused;
  for (int32_t a = 0; a < n; ++a) fused.rows[a] = rows[a];
  fused.hands = hands;
  const std::vector<int16_t>* hand_groups = nullptr;
  if (state.deal_flag == 0 && node.street == STREET_RIVER &&
      state.iterations <= static_cast<int64_t>(g_early_river_iterations))
    hand_groups = &CursorRiverRecord(cursor).strength_groups;
  const bool reach_present = cursor.in0.HasData();
  std::vector<NumArray> value_vector;
  if (reach_present) {
    if (rows[0] && FusedOwnUpdate(cursor, fused, action_values, n, hand_groups)) return;
    value_vector = MakeNumArrays(n);
    for (int32_t a = 0; a < n; ++a)
      value_vector[static_cast<size_t>(a)] = std::move(action_values[a]);
    const std::vector<NumArray> strategy = PassStrategy(cursor);
    CombineChildValues(cursor, strategy, value_vector);
  }
  if (!reach_present || !cursor.out0.HasData()) {
    MakeAbsent(cursor.out0, first_count);
    return;
  }
  RegretStore(node).UpdateRegrets(cursor.turn_slot, cursor.river_slot, cursor.out0, value_vector,
                                  nullptr, hand_groups, state.payoff_scale);
}

bool OwnDecisionEvaluable(const NodeCursor& cursor) {
  if (cursor.pass->mode != PASS_EVALUATE || cursor.in1.count > 0) return false;
  const NodeLockRecord* lock =
      RegretStore(*cursor.node).GetLockRecord(cursor.turn_slot, cursor.river_slot);
  return !LockedOrMasked(lock);
}

void FinishEvaluatedOwnDecision(NodeCursor& cursor, NumArray* action_values, NumArray* best,
                                int32_t first_count) {
  const int32_t n = ChildCount(*cursor.node);
  const std::vector<NumArray> strategy = PassStrategy(cursor);
  const bool reach_present = cursor.in0.HasData();
  const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
  for (int32_t i = 0; i < n; ++i) {
    const NumArray& sigma = strategy[static_cast<size_t>(i)];
    if (i == 0) {
      if (reach_present) ops.MultiplyArrays(cursor.out0, action_values[i], sigma);
      cursor.out1 = std::move(best[i]);
    } else {
      if (reach_present) ops.MultiplyAddArrays(cursor.out0, action_values[i], sigma);
      ops.MaxArrays(cursor.out1, best[i]);
    }
  }
  if (!reach_present || !cursor.out0.HasData()) MakeAbsent(cursor.out0, first_count);
}

void OpponentDecisionReaches(const NodeCursor& cursor, NumArray* strategy) {
  std::vector<NumArray> general;
  if (ActionReaches(cursor, strategy, general) == strategy) return;
  const int32_t n = ChildCount(*cursor.node);
  for (int32_t a = 0; a < n; ++a) strategy[a] = std::move(general[static_cast<size_t>(a)]);
}
