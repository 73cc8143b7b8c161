#include "solver/split_solving.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "platform/fp_mode.h"
#include "protocol/command_error.h"
#include "solver/forget_streets.h"
#include "solver/libsubgame.h"
#include "solver/node_traversal.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/split_walk.h"
#include "solver/subgame_task.h"
#include "solver/tree_pass.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {


// The split's card record: per turn slot on the river, the only one on the turn.
CardRecord& SplitRecord(const SubgameTask& task, Street street) {
  return task.cursor.node->card_records[street == STREET_RIVER ? task.cursor.turn_slot : 0];
}

// Hands of the board before the split's deal: the stored reach's length.
int32_t SplitReachHands(const SolverState& state, Street street, int32_t turn_slot) {
  const DealTree& deal = *state.deal_tree;
  if (street == STREET_RIVER) return deal.turn_records[static_cast<size_t>(turn_slot)].HandCount();
  return static_cast<int32_t>(deal.hands.size());
}

// Whether the street can be re-solved from what its card records keep: some
// split holds a stored reach (a street without splits has nothing to solve).
bool StreetHoldsStoredReach(const SolverState& state, Street street) {
  const int32_t turn_slots = std::min<int32_t>(
      static_cast<int32_t>(state.deal_tree->turn_records.size()), kRiverCardRecordCount);
  bool any_split = false;
  for (const TreeNode& node : state.nodes) {
    if (node.kind != DECISION_NODE || node.street != street || !node.card_records) continue;
    any_split = true;
    const int32_t records = street == STREET_RIVER ? turn_slots : 1;
    for (int32_t r = 0; r < records; ++r) {
      const int32_t hands = SplitReachHands(state, street, street == STREET_RIVER ? r : 0);
      for (Player p : {PLAYER_OOP, PLAYER_IP})
        if (StoredSplitReach(node.card_records[r], p, hands)) return true;
    }
  }
  return !any_split;
}

// One river split for the traverser: the opponent's stored reach walked down
// the subgame. With a river slot (a turn-rooted tree) the reach is gathered to
// that river board first; without one the river deal walks its cards in line.
void SolveRiverSplit(const SubgameTask& split, int32_t river_slot, const PassContext& pass) {
  const NodeCursor& source = split.cursor;
  SolverState* state = source.state;
  NodeCursor cursor(state, &pass, source.node, source.turn_slot, river_slot);
  const NumArray& opponent = pass.player == PLAYER_IP ? source.in1 : source.in0;
  if (river_slot < 0) {
    cursor.in0.CopyFrom(opponent);
  } else {
    const TurnDealRecord& turn =
        state->deal_tree->turn_records[static_cast<size_t>(source.turn_slot)];
    Kernels<IndexMapsKernels>().GatherSumHandGroups(
        turn.river_records[static_cast<size_t>(river_slot)].GroupView(), cursor.in0, opponent);
  }
  TraverseNode(cursor);
}

struct RiverWork {
  const SubgameTask* split;
  int32_t river_slot;
};

void RunRiverBatch(const std::vector<RiverWork>& work, const PassContext& pass) {
  const int32_t count = static_cast<int32_t>(work.size());
  // An exception must not leave a team thread: an item without memory gives
  // up alone, and the batch throws once it is over.
  std::atomic<bool> out_of_memory{false};
  const int team = TeamSizeThatFits();
#pragma omp parallel num_threads(team)
  {
    ScopedDefaultFpMode fp_mode;
#pragma omp for schedule(guided, 1)
    for (int32_t i = 0; i < count; ++i) {
      const RiverWork& item = work[static_cast<size_t>(i)];
      try {
        SolveRiverSplit(*item.split, item.river_slot, pass);
      } catch (const std::bad_alloc&) {
        out_of_memory.store(true, std::memory_order_relaxed);
      }
    }
  }
  if (out_of_memory.load(std::memory_order_relaxed)) throw std::bad_alloc();
}

// The tree's own iteration count comes back whatever way the solve ends.
class IterationCountKeeper {
 public:
  explicit IterationCountKeeper(SolverState& state) : state_(state), kept_(state.iterations) {
    state.iterations = 0;
  }
  ~IterationCountKeeper() { state_.iterations = kept_; }
  int32_t kept() const { return kept_; }

 private:
  SolverState& state_;
  int32_t kept_;
};

const char* StreetWord(Street street) { return street == STREET_TURN ? "turns" : "rivers"; }

}  // namespace

const NumArray* StoredSplitReach(const CardRecord& record, Player player, int32_t hands) {
  const NumArray& reach = record.reach_sums[player];
  return reach.HasData() && reach.count == hands ? &reach : nullptr;
}

void solve_subgames(Street street) {
  SolverState& state = *g_solver_state;
  const char* word = StreetWord(street);
  const Street forgotten = state.first_forgotten_street;
  // The walk to the splits reads the strategies of every street before them.
  if (forgotten != STREET_NONE && forgotten < street)
    ThrowRefusal(std::string(word) + ": an earlier street is forgotten");
  // A split lies below a deal: the street a tree starts on has none to solve
  // from, whatever its root's records hold.
  if (street == state.nodes[0].street || !StreetHoldsStoredReach(state, street))
    ThrowRefusal(std::string(word) + " hold no stored reach");

  // Every pass needs every store's values: those that exist, then the stores
  // of the forgotten streets, made as a rebuild makes them.
  if (!AllocateStoreValues(state)) ThrowRefusal("out of memory");
  if (forgotten != STREET_NONE && !RebuildStreetsOfState(state)) ThrowRefusal("out of memory");

  // The command thread runs with flush-to-zero; the solve computes as a pass does.
  ScopedDefaultFpMode fp_mode;
  SplitTaskList splits;
  EvaluateFromRoot(state, street, splits);

  std::lock_guard<std::mutex> pass_lock(g_tree_pass_mutex);
  SubgameTasksGuard tasks;
  DestroySubgameTasks();
  PassContext pass;
  pass.mode = PASS_SOLVE;

  // Each split starts from the reach its card record keeps; a player without
  // one reaches the subgame with nothing (absent), which leaves it untouched.
  for (const std::unique_ptr<SubgameTask>& split : splits) {
    NodeCursor& cursor = split->cursor;
    const CardRecord& record = SplitRecord(*split, street);
    const int32_t hands = SplitReachHands(state, street, cursor.turn_slot);
    NumArray* reach[2] = {&cursor.in1, &cursor.in0};
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      const NumArray* stored = StoredSplitReach(record, p, hands);
      if (stored) {
        reach[p]->CopyFrom(*stored);
      } else {
        reach[p]->Free();
        reach[p]->count = hands;
      }
    }
  }

  // The strategies change from here on without an iteration being counted,
  // also when the solve breaks off: figures measured before must not pass for
  // theirs (a later forget would keep them).
  state.result_cache.clear();
  state.last_results_iteration = -1;
  {
    IterationCountKeeper keeper(state);
    const int32_t rounds = std::max(keeper.kept(), 1);
    if (street == STREET_RIVER) {
      // In a flop-rooted tree the river deal of each split walks its river
      // cards in line; a turn-rooted tree makes tasks of them in a pass, so
      // here each river board of a split is a work item of its own.
      std::vector<RiverWork> work;
      const bool in_line = state.nodes[0].street < STREET_TURN;
      for (const std::unique_ptr<SubgameTask>& split : splits) {
        if (in_line) {
          work.push_back({split.get(), -1});
          continue;
        }
        const TurnDealRecord& turn =
            state.deal_tree->turn_records[static_cast<size_t>(split->cursor.turn_slot)];
        const int32_t slots = static_cast<int32_t>(turn.river_records.size());
        for (int32_t r = 0; r < slots; ++r) work.push_back({split.get(), r});
      }
      pass.phase = PHASE_RUN;
      for (int32_t i = 0; i < rounds; ++i) {
        for (Player traverser : {PLAYER_IP, PLAYER_OOP}) {
          pass.player = traverser;
          RunRiverBatch(work, pass);
        }
        state.iterations += 1;
      }
    } else {
      for (int32_t i = 0; i < rounds; ++i) {
        for (Player traverser : {PLAYER_IP, PLAYER_OOP}) {
          pass.player = traverser;
          pass.phase = PHASE_COLLECT;
          for (const std::unique_ptr<SubgameTask>& split : splits) {
            const NodeCursor& source = split->cursor;
            NodeCursor cursor(&state, &pass, source.node, source.turn_slot, source.river_slot);
            cursor.in0.CopyFrom(traverser == PLAYER_IP ? source.in1 : source.in0);
            TraverseNode(cursor);
          }
          // The turn deals gave their tasks shared arrays of their own; no
          // combine walk follows, and the tasks take those arrays with them.
          pass.phase = PHASE_RUN;
          TraverseSubgames();
          DestroySubgameTasks();
        }
        state.iterations += 1;
      }
    }
  }

  for (const std::unique_ptr<SubgameTask>& split : splits) SplitRecord(*split, street).frozen = 0;
  state.first_forgotten_street = STREET_NONE;
}
