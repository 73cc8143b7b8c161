#include "analysis/forgotten_subgames.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>

#include "analysis/dealt_board.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "platform/fp_mode.h"
#include "solver/node_traversal.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/split_solving.h"
#include "solver/street_values.h"
#include "solver/tree_pass.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/node_stores.h"
#include "tree/tree_records.h"

namespace {

constexpr int32_t kMaxResolveIterations = 1000;
constexpr int32_t kFirstAccuracyCheck = 50;
constexpr int32_t kAccuracyCheckInterval = 25;

// The tree's iteration count and flags as the re-solve found them, back
// whatever way it ends.
class ResolveScope {
 public:
  explicit ResolveScope(SolverState& state)
      : state_(state), iterations_(state.iterations), flags_(state.flags) {
    // The passes must walk the subgame, not the values kept for a forgotten
    // street; the count drives discounting and averaging from the start.
    state.flags &= ~static_cast<uint32_t>(INCOMPLETE_TREE);
    state.iterations = 0;
  }
  ~ResolveScope() {
    state_.iterations = iterations_;
    state_.flags = flags_;
  }
  ResolveScope(const ResolveScope&) = delete;
  ResolveScope& operator=(const ResolveScope&) = delete;

 private:
  SolverState& state_;
  int32_t iterations_;
  uint32_t flags_;
};

// An input without stored reach: no values, the board's hand count.
void AbsentInput(NumArray& input, int32_t hands) {
  input.Free();
  input.count = hands;
}

// Both players' reach at the root's board from the record's stored reach
// (kept on the board before the deal), and the hand masks of that board.
void GatherInputs(const SolverState& state, const TreeNode& root, const CardRecord& record,
                  int32_t turn_slot, int32_t river_slot, NumArray inputs[2],
                  const std::vector<CardMask>*& hands) {
  const DealTree& deal = *state.deal_tree;
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(turn_slot)];
  if (root.street == STREET_RIVER) {
    const RiverDealRecord& river = turn.river_records[static_cast<size_t>(river_slot)];
    hands = &river.hands;
    const int32_t count = static_cast<int32_t>(turn.river_hand_counts[static_cast<size_t>(river_slot)]);
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      const NumArray* stored = StoredSplitReach(record, p, turn.HandCount());
      if (stored)
        Kernels<IndexMapsKernels>().GatherSumHandGroups(river.GroupView(), inputs[p], *stored);
      else
        AbsentInput(inputs[p], count);
    }
    return;
  }
  hands = &turn.hands;
  const int32_t count = turn.HandCount();
  const std::vector<int16_t>& list = turn.card_lists[0];
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    const NumArray* stored =
        StoredSplitReach(record, p, static_cast<int32_t>(deal.hands.size()));
    if (!stored) {
      AbsentInput(inputs[p], count);
      continue;
    }
    inputs[p].Resize(count);
    for (int32_t i = 0; i < count; ++i) inputs[p].data[i] = stored->data[list[static_cast<size_t>(i)]];
  }
}

// One pass from the root for the traverser; the cursor keeps its outputs.
void RunPass(SolverState& state, TreeNode& root, int32_t turn_slot, int32_t river_slot,
             const PassContext& pass, const NumArray inputs[2], NodeCursor& cursor) {
  cursor.state = &state;
  cursor.pass = &pass;
  cursor.node = &root;
  cursor.turn_slot = turn_slot;
  cursor.river_slot = river_slot;
  cursor.out0.Free();
  cursor.out1.Free();
  const NumArray& opponent = inputs[Opponent(pass.player)];
  if (opponent.HasData()) {
    cursor.in0.CopyFrom(opponent);
  } else {
    cursor.in0.Free();
    cursor.in0.count = opponent.count;
  }
  TraverseNode(cursor);
}

// The measure of the accuracy check: for each player the best-response value
// per unit of joint reach; half their sum. A player without joint reach
// counts 0.
double AccuracyMeasure(SolverState& state, TreeNode& root, int32_t turn_slot, int32_t river_slot,
                       const NumArray inputs[2], const std::vector<CardMask>& hands) {
  PassContext pass;
  pass.mode = PASS_EVALUATE;
  pass.phase = PHASE_RUN;
  double value[2] = {0.0, 0.0};
  for (Player p : {PLAYER_IP, PLAYER_OOP}) {
    pass.player = p;
    NodeCursor cursor;
    RunPass(state, root, turn_slot, river_slot, pass, inputs, cursor);
    const NumArray& own = inputs[p];
    const NumArray& opp = inputs[Opponent(p)];
    const NumArray& best = cursor.out1;
    if (!own.HasData() || !opp.HasData() || !best.HasData()) continue;
    const int32_t n = std::min({own.count, opp.count, best.count});
    // Hands are compared by their cards where the inputs are per hand; per
    // hand group (older trees) no card removal is known here.
    const bool per_hand = static_cast<int32_t>(hands.size()) == n;
    double opp_total = 0.0;
    for (int32_t j = 0; j < n; ++j) opp_total += opp.data[j];
    double total = 0.0;
    double weighted = 0.0;
    for (int32_t h = 0; h < n; ++h) {
      if (own.data[h] == 0.0) continue;
      double compatible = opp_total;
      if (per_hand) {
        compatible = 0.0;
        const CardMask mask = hands[static_cast<size_t>(h)];
        for (int32_t j = 0; j < n; ++j)
          if (!(hands[static_cast<size_t>(j)] & mask)) compatible += opp.data[j];
      }
      total += own.data[h] * compatible;
      weighted += best.data[h] * own.data[h];
    }
    if (total > 0.0) value[p] = weighted / total;
  }
  return (value[PLAYER_OOP] + value[PLAYER_IP]) * 0.5;
}

// Every decision node of the subtree holds allocated values.
bool SubtreeMaterialised(const SolverState& state, const TreeNode& node) {
  if (node.kind != DECISION_NODE) return true;
  if (!node.regret_store || !node.materialised) return false;
  return std::all_of(node.children.begin(), node.children.end(), [&](int32_t child) {
    return SubtreeMaterialised(state, state.nodes[static_cast<size_t>(child)]);
  });
}

// Makes the street root's stores where missing (all of them when forced) and
// allocates them; the children's subtrees likewise. True when every decision
// node below holds values.
bool MaterializeStreetRoot(SolverState& state, TreeNode& root, bool force) {
  // Making a forgotten node's stores again counts them again; the tree's
  // storage figures stay those of the whole tree.
  uint64_t counters[4];
  std::copy(std::begin(state.storage_counters), std::end(state.storage_counters), counters);
  struct CountersBack {
    SolverState& state;
    const uint64_t* kept;
    ~CountersBack() { std::copy(kept, kept + 4, state.storage_counters); }
  } counters_back{state, counters};
  if (root.kind == DECISION_NODE && (force || !root.materialised)) {
    CreateNodeStoresOfState(state, root);
    bool ok = root.regret_store->Allocate();
    if (ok && root.strategy_store) ok = root.strategy_store->Allocate();
    root.materialised = ok ? 1 : 0;
  }
  for (int32_t child : root.children) MaterializeNode(state, state.nodes[static_cast<size_t>(child)], force);
  return SubtreeMaterialised(state, root);
}

void ClearSolvedBoards(TreeNode& root) {
  if (!root.card_records) return;
  const int32_t records = root.street == STREET_RIVER ? kRiverCardRecordCount : 1;
  for (int32_t r = 0; r < records; ++r) root.card_records[r].solved_mask = 0;
}

}  // namespace

Street ForgottenStreet(const SolverState& state) {
  return (state.flags & INCOMPLETE_TREE) ? state.first_forgotten_street : STREET_NONE;
}

TreeNode& ForgottenStreetRoot(SolverState& state, TreeNode& node) {
  TreeNode* root = &node;
  while (root->parent && root->parent->street >= state.first_forgotten_street)
    root = root->parent;
  return *root;
}

double ResolveForgottenSubgame(SolverState& state, TreeNode& root, int32_t slot_a, int32_t slot_b,
                               bool force) {
  const bool river = root.street == STREET_RIVER;
  if (!root.card_records || root.kind != DECISION_NODE || slot_a < 0 || (river && slot_b < 0))
    return 0.0;
  if (river && slot_a >= kRiverCardRecordCount) return 0.0;
  // Only river-rooted trees keep no per-turn-slot mutexes, and they have no
  // street to forget: the river values' guard must not take the pass lock
  // this re-solve holds.
  if (GuardTakesPassLock(root)) return 0.0;
  CardRecord& record = root.card_records[river ? slot_a : 0];
  const uint64_t bit = uint64_t{1} << (river ? slot_b : slot_a);
  if (!force && (record.solved_mask & bit)) return 0.0;

  ScopedDefaultFpMode fp_mode;
  std::lock_guard<std::mutex> pass_lock(g_tree_pass_mutex);
  ResolveScope scope(state);
  const int32_t turn_slot = slot_a;
  const int32_t river_slot = river ? slot_b : -1;

  NumArray inputs[2];
  const std::vector<CardMask>* hands = nullptr;
  GatherInputs(state, root, record, turn_slot, river_slot, inputs, hands);

  // Strategies below change: EVs kept for the old ones no longer hold.
  state.result_cache.clear();

  // On a river root the values of the whole river subtree of this turn slot
  // stay open for the re-solve and are all written back after it; below a
  // turn root the river deals open their own.
  std::optional<StreetValuesGuard> river_values;
  if (river) river_values.emplace(state, root, turn_slot, StreetAccess::kWrite);

  const double target = g_recalc_accuracy[root.street];
  double measure = 0.0;
  PassContext pass;
  pass.mode = PASS_SOLVE;
  pass.phase = PHASE_RUN;
  for (int32_t i = 1; i <= kMaxResolveIterations; ++i) {
    for (Player traverser : {PLAYER_IP, PLAYER_OOP}) {
      pass.player = traverser;
      NodeCursor cursor;
      RunPass(state, root, turn_slot, river_slot, pass, inputs, cursor);
    }
    state.iterations += 1;
    if (state.iterations < kFirstAccuracyCheck || state.iterations % kAccuracyCheckInterval != 0)
      continue;
    measure = AccuracyMeasure(state, root, turn_slot, river_slot, inputs, *hands);
    if (target >= measure) break;
  }
  if (river_values) river_values->Close();
  record.solved_mask |= bit;
  return measure;
}

double ComputePartialValue(SolverState& state, int32_t node_index, int32_t turn_card,
                           int32_t river_card) {
  if (node_index < 0 || static_cast<size_t>(node_index) >= state.nodes.size()) return 0.0;
  EnsureStoresAllocated(state);
  TreeNode& node = state.nodes[static_cast<size_t>(node_index)];
  const Street forgotten = ForgottenStreet(state);
  if (forgotten == STREET_NONE || node.street < forgotten) return 0.0;
  int32_t turn_slot = -1;
  int32_t river_slot = -1;
  CanonicalizeCombo(state, turn_card, node.street >= STREET_RIVER ? river_card : -1, turn_slot,
                    river_slot);
  if (node.street >= STREET_TURN && turn_slot < 0) return 0.0;
  if (node.street >= STREET_RIVER && river_slot < 0) return 0.0;

  TreeNode& root = ForgottenStreetRoot(state, node);
  // Made anew, the subtree has lost every board re-solved before: each is
  // solved again when it is asked about.
  ClearSolvedBoards(root);
  if (!MaterializeStreetRoot(state, root, true)) return 0.0;
  return ResolveForgottenSubgame(state, root, turn_slot, river_slot, true);
}

bool PrepareForgottenSubtree(SolverState& state, TreeNode& root) {
  if (SubtreeMaterialised(state, root)) return true;
  // Stores made now hold nothing of an earlier re-solve (a tree file may mark
  // boards solved whose values it did not keep): every board is solved again.
  ClearSolvedBoards(root);
  return MaterializeStreetRoot(state, root, false);
}

void RebuildForgottenSubtree(SolverState& state, TreeNode& node, const DealtBoard& board) {
  const Street forgotten = ForgottenStreet(state);
  if (forgotten == STREET_NONE || node.street < forgotten) return;
  if (node.street >= STREET_RIVER && board.river_slot < 0) return;
  if (node.street >= STREET_TURN && board.turn_slot < 0) return;
  TreeNode& root = ForgottenStreetRoot(state, node);
  // A subtree whose values cannot all be had is not solved: the query reads
  // what exists.
  if (!PrepareForgottenSubtree(state, root)) return;
  ResolveForgottenSubgame(state, root, board.turn_slot, board.river_slot, false);
}
