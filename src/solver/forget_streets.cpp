#include "solver/forget_streets.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <vector>

#include "platform/virtual_memory.h"
#include "solver/river_blocks.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/split_walk.h"
#include "solver/tree_pass.h"
#include "store/board_layout.h"
#include "tree/deal_tree.h"
#include "tree/node_stores.h"
#include "tree/tree_records.h"

namespace {

// Stored reach is scaled to this sum: only its shape matters to a re-solve.
constexpr double kStoredReachSum = 200.0;
// Below this share of the largest reach arriving at the street, an item's
// reach says too little; the record keeps what the solver accumulated there.
constexpr double kReachThresholdShare = 0.01;

// One player's reach arriving at a split into its card record: kept when it is
// large enough to mean something, then scaled to the common sum.
void StoreReach(CardRecord& record, Player player, const NumArray& reach, double threshold) {
  NumArray& stored = record.reach_sums[player];
  if (reach.Sum() > threshold) {
    stored.CopyFrom(reach);
    record.reach_filled[player] = 1;
  } else {
    record.reach_filled[player] = 0;
  }
  const double sum = stored.Sum();
  if (sum > DBL_EPSILON) {
    const double scale = kStoredReachSum / sum;
    for (int32_t h = 0; h < stored.count; ++h) stored.data[h] *= scale;
  }
}

// Both players' MES and EV of the current strategies, unless they are current.
bool RefreshResults(SolverState& state) {
  if (state.last_results_iteration == state.iterations) return true;
  if (!AllocateStoreValues(state)) return false;
  double oop[2];
  double ip[2];
  TraverseTree(&state, oop, PLAYER_OOP, PASS_EVALUATE);
  TraverseTree(&state, ip, PLAYER_IP, PASS_EVALUATE);
  state.ev_oop = oop[0];
  state.mes_oop = oop[1];
  state.ev_ip = ip[0];
  state.mes_ip = ip[1];
  state.mean_ev = 0.5 * (state.ev_oop + state.ev_ip);
  state.exploitability = 0.5 * (state.mes_oop + state.mes_ip - state.ev_oop - state.ev_ip);
  state.last_results_iteration = state.iterations;
  return true;
}

}  // namespace

void RecountStorage(SolverState& state) {
  for (uint64_t& counter : state.storage_counters) counter = 0;
  for (const TreeNode& node : state.nodes) {
    if (node.kind != DECISION_NODE || node.street != STREET_RIVER) continue;
    const size_t actions = node.children.size();
    if (actions < state.board_layouts.size() && state.board_layouts[actions])
      state.storage_counters[3] += static_cast<uint64_t>(state.board_layouts[actions]->value_count);
  }
  const uint64_t bytes_per_value = state.storage_kind == 0 ? 2 : 6;
  for (int s = 0; s < 4; ++s) state.storage_totals[s] = state.storage_counters[s] * bytes_per_value;
}

bool ForgetStreetsKernel(SolverState& state, Street street) {
  // The figures of the whole tree can no longer be measured once its later
  // streets are gone: measure them now.
  if (!RefreshResults(state)) return false;

  // The reach arriving at the street; the walk reads only earlier streets.
  SplitTaskList items;
  EvaluateFromRoot(state, street, items);

  // Marked first: whatever happens from here, no pass walks into the street.
  state.flags |= INCOMPLETE_TREE;
  state.flags &= ~static_cast<uint32_t>(NEW_TREE);
  state.first_forgotten_street = street;
  for (TreeNode& node : state.nodes) {
    if (node.street < street) continue;
    node.regret_store.reset();
    node.strategy_store.reset();
    node.materialised = 0;
    // Boards re-solved earlier have lost their stores with the rest.
    if (node.card_records) {
      const int32_t records = node.street == STREET_RIVER ? kRiverCardRecordCount : 1;
      for (int32_t r = 0; r < records; ++r) node.card_records[r].solved_mask = 0;
    }
  }

  double largest = 0.0;
  for (const auto& item : items)
    largest = std::max({largest, item->cursor.in1.Sum(), item->cursor.in0.Sum()});
  const double threshold = kReachThresholdShare * largest;
  for (const auto& item : items) {
    const NodeCursor& cursor = item->cursor;
    CardRecord& record = cursor.node->card_records[street == STREET_RIVER ? cursor.turn_slot : 0];
    StoreReach(record, PLAYER_OOP, cursor.in1, threshold);
    StoreReach(record, PLAYER_IP, cursor.in0, threshold);
    // From now on the solver adds no reach to it.
    record.frozen = 1;
  }
  return true;
}

bool ForgetStreets(Street street) { return ForgetStreetsKernel(*g_solver_state, street); }

bool RebuildStreetsOfState(SolverState& state) {
  const Street forgotten = state.first_forgotten_street;
  if (forgotten == STREET_NONE) return true;

  // Made here, so deleted again when one of them cannot get its values.
  std::vector<TreeNode*> made;
  uint64_t counters[4];
  std::memcpy(counters, state.storage_counters, sizeof counters);
  auto undo = [&] {
    for (TreeNode* node : made) {
      node->regret_store.reset();
      node->strategy_store.reset();
      node->materialised = 0;
    }
    std::memcpy(state.storage_counters, counters, sizeof counters);
  };
  try {
    // Every store first, then their values, once the memory is known to hold
    // them all: a rebuild that cannot fit takes nothing.
    uint64_t need = 0;
    for (Street street = forgotten; street <= STREET_RIVER; street = NextStreet(street)) {
      for (TreeNode& node : state.nodes) {
        if (node.street != street || node.kind != DECISION_NODE || node.materialised) continue;
        made.push_back(&node);
        CreateNodeStoresOfState(state, node);
        need += NodeAllocationBytes(node);
      }
    }
    // The river blocks' address space with them, as go weighs it.
    const uint64_t blocks = RiverBlockNeed(state);
    if ((need > 0 || blocks > 0) && !MemoryRequestFits(need, blocks)) {
      undo();
      return false;
    }
    for (TreeNode* node : made) {
      bool ok = node->regret_store->Allocate();
      if (ok && node->strategy_store) ok = node->strategy_store->Allocate();
      if (!ok) {
        undo();
        return false;
      }
      node->materialised = 1;
    }
    if (!ReserveRiverBlocks(state)) {
      undo();
      return false;
    }
  } catch (...) {
    undo();
    throw;
  }

  RecountStorage(state);
  // Complete again: go may run, and a later preparation makes every store.
  state.flags &= ~static_cast<uint32_t>(INCOMPLETE_TREE);
  state.first_forgotten_street = STREET_NONE;
  return true;
}

bool RebuildStreets() { return RebuildStreetsOfState(*g_solver_state); }
