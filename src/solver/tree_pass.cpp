// The whole-tree pass: collect the subgame tasks at the deal nodes, run them as
// one parallel batch, combine their results on a second walk.
#include "solver/tree_pass.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fp_mode.h"
#include "protocol/fail.h"
#include "protocol/reply.h"
#include "solver/node_traversal.h"
#include "solver/solver_settings.h"
#include "solver/solver_status.h"
#include "solver/subgame_task.h"
#include "solver/worker_pool.h"
#include "store/index_maps.h"
#include "store/street_values.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

std::vector<SubgameTask*> g_subgame_tasks;
std::vector<int32_t> g_task_run_order;
int32_t g_task_read_index = 0;
std::mutex g_task_merge_mutex;
std::atomic<int32_t> g_tasks_done{0};

namespace {

// Tasks in the batch under way, for the progress figure.
std::atomic<int32_t> g_batch_task_count{0};

double WeightedSum(const NumArray& values, const std::vector<double>& weights) {
  if (!values.HasData()) return 0.0;
  const int32_t n = std::min(values.count, static_cast<int32_t>(weights.size()));
  double sum = 0.0;
  for (int32_t h = 0; h < n; ++h) sum += values.data[h] * weights[static_cast<size_t>(h)];
  return sum;
}

// A turn subgame's input: the parent's value of each hand of the turn board,
// through the first card's index list. An absent parent array gives an absent
// input of the turn board's hand count.
void GatherTurnInput(NumArray& out, const NumArray& src, const std::vector<int16_t>& list,
                     int32_t n) {
  if (!src.HasData()) {
    out.Free();
    out.count = n;
    return;
  }
  out.Resize(n);
  const int16_t* index = list.data();
  for (int32_t k = 0; k < n; ++k) out.data[k] = src.data[index[k]];
}

// Every path out of a pass, a thrown error included, leaves the task list empty.
struct TaskListCleanup {
  ~TaskListCleanup() { DestroySubgameTasks(); }
};

// OpenMP team threads start with their creator's floating-point mode; each
// switches to the default once per batch. Tasks are handed out one at a time in
// run order.
void RunOpenMpBatch(int32_t count) {
#pragma omp parallel
  {
    ScopedDefaultFpMode fp_mode;
#pragma omp for schedule(dynamic, 1)
    for (int32_t i = 0; i < count; ++i) RunSubgameTask(BatchTask(i));
  }
}

// The work of a subgame, counted in node visits: below a turn card every node
// of the river is walked once per river card, the others once. A task without
// reach walks its nodes without arithmetic and counts as one visit.
double SubtreeVisits(const SolverState& state, const TreeNode& node, double river_factor) {
  double visits = node.street >= 3 ? river_factor : 1.0;
  for (int32_t child : node.children)
    visits += SubtreeVisits(state, state.nodes[static_cast<size_t>(child)], river_factor);
  return visits;
}

// The run order of the batch: collect order, or largest expected task first
// (equal ones in collect order). The tasks of one deal node share one node and
// one source, so their estimate is made once.
void OrderBatch(bool largest_first) {
  const size_t count = g_subgame_tasks.size();
  g_task_run_order.resize(count);
  for (size_t k = 0; k < count; ++k) g_task_run_order[k] = static_cast<int32_t>(k);
  if (!largest_first) return;
  std::vector<double> cost(count);
  const TreeNode* last_node = nullptr;
  const NumArray* last_source = nullptr;
  double last_cost = 0.0;
  for (size_t k = 0; k < count; ++k) {
    const SubgameTask& task = *g_subgame_tasks[k];
    if (task.cursor.node != last_node || task.src0 != last_source) {
      last_node = task.cursor.node;
      last_source = task.src0;
      const bool turn_task = task.cursor.river_slot < 0;
      last_cost = task.src0 && task.src0->HasData()
                      ? SubtreeVisits(*task.cursor.state, *last_node, turn_task ? 48.0 : 1.0)
                      : 1.0;
    }
    cost[k] = last_cost;
  }
  std::stable_sort(g_task_run_order.begin(), g_task_run_order.end(),
                   [&](int32_t a, int32_t b) { return cost[a] > cost[b]; });
}

}  // namespace

void DestroySubgameTasks() {
  for (SubgameTask* task : g_subgame_tasks) delete task;
  g_subgame_tasks.clear();
}

void RunSubgameTask(SubgameTask& task) {
  NodeCursor& cursor = task.cursor;
  const DealTree& deal = *cursor.state->deal_tree;
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor.turn_slot)];

  if (cursor.river_slot < 0) {
    const int32_t n = turn.HandCount();
    GatherTurnInput(cursor.in0, *task.src0, turn.card_lists[0], n);
    if (task.src1) GatherTurnInput(cursor.in1, *task.src1, turn.card_lists[0], n);
    {
      // Code outside the pass may hold this turn slot's values open.
      std::unique_lock<std::mutex> slot_lock;
      if (cursor.node->turn_mutexes)
        slot_lock = std::unique_lock<std::mutex>(cursor.node->turn_mutexes[cursor.turn_slot]);
      TraverseNode(cursor);
    }
    std::lock_guard<std::mutex> merge(g_task_merge_mutex);
    for (const std::vector<int16_t>& list : turn.card_lists) {
      ScatterAddCombos(*task.dst0, cursor.out0, list.data());
      if (task.dst1) ScatterAddCombos(*task.dst1, cursor.out1, list.data());
    }
  } else {
    const HandGroupView view =
        turn.river_records[static_cast<size_t>(cursor.river_slot)].GroupView();
    GatherSumHandGroups(view, cursor.in0, *task.src0);
    if (task.src1) GatherSumHandGroups(view, cursor.in1, *task.src1);
    TraverseNode(cursor);
    std::lock_guard<std::mutex> merge(g_task_merge_mutex);
    ScatterAddHandGroups(view, *task.dst0, cursor.out0);
    if (task.dst1) ScatterAddHandGroups(view, *task.dst1, cursor.out1);
  }

  cursor.in0 = NumArray();
  cursor.in1 = NumArray();
  cursor.out0 = NumArray();
  cursor.out1 = NumArray();

  const int32_t done = g_tasks_done.fetch_add(1, std::memory_order_relaxed) + 1;
  if (g_stop_requested.load(std::memory_order_relaxed)) {
    const int32_t total = g_batch_task_count.load(std::memory_order_relaxed);
    PrintReply("#progress %d\n",
               total > 0 ? static_cast<int32_t>(int64_t{done} * 100 / total) : 100);
    std::fflush(stdout);
  }
}

void TraverseSubgames() {
  const int32_t count = static_cast<int32_t>(g_subgame_tasks.size());
  if (count == 0) return;
  g_tasks_done.store(0, std::memory_order_relaxed);
  g_batch_task_count.store(count, std::memory_order_relaxed);
  // Scheduler 0 (the default) and the pool hand the largest subgames out
  // first, one at a time: the guided schedule's large first chunks kept the
  // similar tasks of whole lines together on one thread and left the others
  // idle at the end of the batch. Scheduler 1 keeps the collect order.
  const uint32_t scheduler = g_scheduler.load(std::memory_order_relaxed);
  OrderBatch(scheduler != 1);
  if (scheduler == 0 || scheduler == 1)
    RunOpenMpBatch(count);
  else
    RunWorkerPoolBatch(count);
}

double* TraverseTree(SolverState* state, double out[2], int32_t player, int32_t mode) {
  out[0] = out[1] = 0.0;
  if (!state || state->nodes.empty() || !state->deal_tree) return out;

  // The command thread runs with flush-to-zero; a pass computes the same
  // figures whichever thread starts it.
  ScopedDefaultFpMode fp_mode;
  std::lock_guard<std::mutex> pass_lock(g_tree_pass_mutex);
  TaskListCleanup cleanup;
  DestroySubgameTasks();

  const std::vector<double>& opponent_weights = state->root_hand_weights[player ^ 1];
  NodeCursor root(state, &state->nodes[0], state->start_turn_slot, state->start_river_slot);
  state->value_target = nullptr;
  state->pass_player = player;
  state->pass_mode = mode;

  state->pass_phase = PHASE_COLLECT;
  root.in0.AssignValues(opponent_weights);
  TraverseNode(root);
  root.out0 = NumArray();
  root.out1 = NumArray();

  state->pass_phase = PHASE_RUN;
  TraverseSubgames();

  state->pass_phase = PHASE_COMBINE;
  root.in0.AssignValues(opponent_weights);
  g_task_read_index = 0;
  TraverseNode(root);
  assert(g_task_read_index == static_cast<int32_t>(g_subgame_tasks.size()));

  const std::vector<double>& own_weights = state->normalised_root_weights[player];
  out[0] = WeightedSum(root.out0, own_weights);
  out[1] = WeightedSum(root.out1, own_weights);
  return out;
}
