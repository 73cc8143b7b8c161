#include "analysis/combo_ev.h"

#include <limits>
#include <mutex>
#include <vector>

#include "analysis/equity.h"
#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "analysis/line_walk.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "cards/suit_isomorphism.h"
#include "solver/node_cursor.h"
#include "solver/node_traversal.h"
#include "solver/pass_context.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/subgame_task.h"
#include "solver/tree_pass.h"
#include "solver/value_target.h"
#include "store/index_maps.h"
#include "tree/tree_records.h"

namespace {

constexpr double kQuietNan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

void ReachAtNode(SolverState& state, const TreeNode& node, int32_t turn_slot, int32_t river_slot,
                 NumArray reach[2]) {
  // The line from the node up: the child taken at each ancestor, the step
  // nearest the root last.
  std::vector<int32_t> path;
  for (const TreeNode* at = &node; at->parent; at = at->parent) {
    const std::vector<int32_t>& children = at->parent->children;
    const int32_t index = static_cast<int32_t>(at - state.nodes.data());
    int32_t position = -1;
    for (size_t k = 0; k < children.size(); ++k)
      if (children[k] == index) position = static_cast<int32_t>(k);
    path.push_back(position);
  }
  NodeCursor root(&state, nullptr, &state.nodes[0], state.start_turn_slot, state.start_river_slot);
  root.in1.AssignValues(state.root_hand_weights[PLAYER_OOP]);
  root.in0.AssignValues(state.root_hand_weights[PLAYER_IP]);
  WalkSubtree(root, node, turn_slot, river_slot, path, reach);
}

namespace {

// One pass of the given mode on the cursor: the three phases of a whole-tree
// pass, the inputs reloaded before each walk.
void RunPassFrom(NodeCursor& cursor, PassContext& pass, const NumArray& opponent,
                 const NumArray* own) {
  auto load = [&] {
    cursor.in0.CopyFrom(opponent);
    if (own) cursor.in1.CopyFrom(*own);
  };
  SubgameTasksGuard tasks;
  pass.phase = PHASE_COLLECT;
  load();
  TraverseNode(cursor);
  cursor.out0 = NumArray();
  cursor.out1 = NumArray();
  pass.phase = PHASE_RUN;
  TraverseSubgames();
  pass.phase = PHASE_COMBINE;
  load();
  g_task_read_index = 0;
  TraverseNode(cursor);
}

// Every decision node at and below the node holds store values (a subtree
// whose re-solve could not get its memory does not).
bool SubtreeHasValues(const SolverState& state, const TreeNode& node) {
  if (node.kind == DECISION_NODE && (!node.regret_store || !node.materialised)) return false;
  for (const int32_t child : node.children)
    if (!SubtreeHasValues(state, state.nodes[static_cast<size_t>(child)])) return false;
  return true;
}

// While a re-solved subtree is walked as a whole, the tree counts as complete.
class CompleteTreeScope {
 public:
  explicit CompleteTreeScope(SolverState& state)
      : state_(state), incomplete_(state.flags & INCOMPLETE_TREE) {
    state_.flags &= ~static_cast<uint32_t>(INCOMPLETE_TREE);
  }
  ~CompleteTreeScope() { state_.flags |= incomplete_; }
  CompleteTreeScope(const CompleteTreeScope&) = delete;
  CompleteTreeScope& operator=(const CompleteTreeScope&) = delete;

 private:
  SolverState& state_;
  uint32_t incomplete_;
};

}  // namespace

void CollectSubtreeEvs(SolverState& state, Player player, ValueTarget& target) {
  NumArray reach[2];
  ReachAtNode(state, *target.node, target.turn_slot, target.river_slot, reach);
  // A line that never arrives (a dealt card without a record) has no reach to
  // pass on: the target keeps no values.
  if (reach[PLAYER_OOP].count == 0 || reach[PLAYER_OOP].count != reach[PLAYER_IP].count) return;

  // Below a forgotten street's root, re-solved for this board, the card
  // records of the deals still hold what they kept before the street was
  // forgotten: an evaluation pass over the target's subtree, walked as a
  // complete tree, keeps the re-solved values there first.
  const TreeNode& node = *target.node;
  if ((state.flags & INCOMPLETE_TREE) && state.first_forgotten_street != STREET_NONE &&
      node.street >= state.first_forgotten_street && target.river_slot < 0 &&
      node.street < STREET_RIVER && SubtreeHasValues(state, node)) {
    CompleteTreeScope complete(state);
    PassContext evaluation;
    evaluation.player = player;
    evaluation.mode = PASS_EVALUATE;
    NodeCursor cursor(&state, &evaluation, target.node, target.turn_slot, target.river_slot);
    RunPassFrom(cursor, evaluation, reach[Opponent(player)], nullptr);
  }

  PassContext pass;
  pass.player = player;
  pass.mode = PASS_NODE_VALUE;
  pass.value_target = &target;
  NodeCursor cursor(&state, &pass, target.node, target.turn_slot, target.river_slot);
  RunPassFrom(cursor, pass, reach[Opponent(player)], &reach[player]);
}

void ComputeComboEvs(SolverState* state, Player player, int32_t node_index, int32_t turn_card,
                     int32_t river_card, double* evs, double* weights) {
  if (!state || !state->deal_tree || node_index < 0 ||
      static_cast<size_t>(node_index) >= state->nodes.size())
    return;
  // The results of the current strategies, as calc_results would measure them,
  // once per iteration count (a refused allocation leaves them as they were;
  // the EVs go on).
  EnsureStoresAllocated(*state);
  const bool results_stale = state->last_results_iteration != ReadIterationCount(*state);
  if (results_stale) {
    ProgressRecord results;
    ComputeResults(&results);
  }
  TreeNode& node = state->nodes[static_cast<size_t>(node_index)];
  const BoardHands board = FindBoardHands(*state, turn_card, river_card);
  DealtBoard dealt;
  ResolveDealtBoard(*state, node, turn_card, river_card, dealt);
  RebuildForgottenSubtree(*state, node, dealt);

  ValueTarget target;
  target.node = &node;
  target.turn_slot = board.turn_slot;
  target.river_slot = board.river_slot;
  // Below a deal the targeted pass takes the values that the player's last
  // evaluation pass kept in the card records. A strategy set or locked since
  // leaves the iteration count as it was: the player's records are measured
  // anew unless the results just were (a dealt river has no deal below it).
  if (!results_stale && target.river_slot < 0 && state->nodes[0].street != STREET_RIVER) {
    double out[2];
    TraverseTree(state, out, player, PASS_EVALUATE);
  }
  {
    NodeValuesAccess access(*state, node, board.turn_slot, StreetAccess::kRead);
    CollectSubtreeEvs(*state, player, target);
  }

  // A node nobody reaches leaves the target without values: zeros then.
  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  const int32_t n = board.HandCount();
  if (target.values.count != n) target.values = NumArray(), target.values.count = n;
  if (target.weights.count != n) target.weights = NumArray(), target.weights.count = n;
  double canonical[2][kComboCount];
  maps.ExpandHandsToCombos(canonical[0], target.values, board.combo_map, true);
  maps.ExpandHandsToCombos(canonical[1], target.weights, board.combo_map, true);
  if (state->flags & ISOMORPHISM_ON) {
    const CardMask turn_bit = turn_card >= 0 ? CardBit(turn_card) : 0;
    const CardMask river_bit = river_card >= 0 ? CardBit(river_card) : 0;
    PermuteComboArrayBySuits(state->flop_mask, turn_bit, river_bit, evs, canonical[0], true);
    PermuteComboArrayBySuits(state->flop_mask, turn_bit, river_bit, weights, canonical[1], true);
  } else {
    std::copy(canonical[0], canonical[0] + kComboCount, evs);
    std::copy(canonical[1], canonical[1] + kComboCount, weights);
  }
  const std::vector<double>& range = state->ranges[player];
  for (int c = 0; c < kComboCount; ++c) {
    if (static_cast<size_t>(c) < range.size() && range[c] != 0.0) continue;
    evs[c] = kQuietNan;
    weights[c] = kQuietNan;
  }
}
