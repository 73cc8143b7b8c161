// The whole-tree pass: collect the subgame tasks at the deal nodes, run them as
// one parallel batch, combine their results on a second walk.
#include "solver/tree_pass.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include <omp.h>

#include "platform/fp_mode.h"
#include "platform/threads.h"
#include "protocol/fail.h"
#include "protocol/reply.h"
#include "solver/libsubgame.h"
#include "solver/node_traversal.h"
#include "solver/river_board_pass.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/subgame_task.h"
#include "solver/worker_pool.h"
#include "store/index_maps.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

std::mutex g_tree_pass_mutex;
std::vector<SubgameTask*> g_subgame_tasks;
std::vector<int32_t> g_task_run_order;
int32_t g_task_read_index = 0;
SpinWaitMutex g_task_merge_mutex;
std::atomic<int32_t> g_tasks_done{0};

namespace {

// The task pool: a deque, so that a task keeps its address as the pool grows.
// The first g_pool_used tasks are those of g_subgame_tasks, in order.
std::deque<SubgameTask> g_task_pool;
size_t g_pool_used = 0;
// Every task of the list has run and its deal node has taken its results back:
// the tasks hold no array, and emptying the list need not touch them (their
// lines were last written on other cores).
bool g_tasks_spent = false;

// Tasks in the batch under way, for the progress figure.
std::atomic<int32_t> g_batch_task_count{0};

// A task of the batch under way could not get its memory.
std::atomic<bool> g_batch_out_of_memory{false};

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

// A walked task's outputs into its deal node's shared destinations; the caller
// is the deal node's only merger. A turn subgame's values go to every flop hand
// of each card its slot stands for, a river subgame's to every hand of its
// groups.
void AddTaskResults(const SubgameTask& task) {
  const NodeCursor& cursor = task.cursor;
  const TurnDealRecord& turn =
      cursor.state->deal_tree->turn_records[static_cast<size_t>(cursor.turn_slot)];
  const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
  if (cursor.river_slot < 0) {
    for (const std::vector<int16_t>& list : turn.card_lists) {
      maps.ScatterAddCombos(*task.dst0, cursor.out0, list.data());
      if (task.dst1) maps.ScatterAddCombos(*task.dst1, cursor.out1, list.data());
    }
  } else {
    const HandGroupView view =
        turn.river_records[static_cast<size_t>(cursor.river_slot)].GroupView();
    maps.ScatterAddHandGroups(view, *task.dst0, cursor.out0);
    if (task.dst1) maps.ScatterAddHandGroups(view, *task.dst1, cursor.out1);
  }
}

void FreeOutputs(SubgameTask& task) {
  task.cursor.out0 = NumArray();
  task.cursor.out1 = NumArray();
}

// OpenMP team threads start with their creator's floating-point mode; each
// switches to the default once per batch. Tasks are handed out one at a time in
// run order.
void RunOpenMpBatch(int32_t count, int team) {
#pragma omp parallel num_threads(team)
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
  double visits = node.street >= STREET_RIVER ? river_factor : 1.0;
  for (int32_t child : node.children)
    visits += SubtreeVisits(state, state.nodes[static_cast<size_t>(child)], river_factor);
  return visits;
}

// The board whose records a task reads besides its own stores: its turn slot
// (the turn record with its river records), or its river slot.
int32_t DealtSlot(const SubgameTask& task) {
  return task.cursor.river_slot < 0 ? task.cursor.turn_slot : task.cursor.river_slot;
}

// What the run order of a batch depends on, per task: its node, its boards and
// whether it has reach. Consecutive passes mostly repeat their batches.
struct OrderKey {
  const TreeNode* node;
  int32_t turn_slot;
  int32_t river_slot;
  bool reached;
  bool operator==(const OrderKey&) const = default;
};

// The run order of the batch: collect order, or slot by slot. The tasks of one
// dealt slot read the same board records and tables, so running them side by
// side keeps those in cache for every thread, where a thread each on a board
// of its own pulled all of them from memory again and again; within a slot the
// largest expected task goes first. The batch's last slots, which hold at least
// three times the largest task for each thread, go largest first across slots,
// so that the batch ends on small tasks and no thread is left with a long one.
// Equal tasks keep collect order. The tasks of one deal node share one node
// and one source, so their estimate is made once.
void OrderBatch(bool by_slot, int32_t threads) {
  const size_t count = g_subgame_tasks.size();
  // Kept from batch to batch (the pass's thread only, under the pass lock): a
  // turn-rooted pass orders its batches between parallel runs, and a batch like
  // the last one keeps the order g_task_run_order still holds (an order that no
  // longer fits would only cost time: the results do not depend on it).
  // last_keys is empty whenever g_task_run_order holds no slot order.
  static std::vector<OrderKey> keys;
  static std::vector<OrderKey> last_keys;
  static int32_t last_threads = -1;
  if (!by_slot) {
    last_keys.clear();
  } else {
    keys.resize(count);
    for (size_t k = 0; k < count; ++k) {
      const SubgameTask& task = *g_subgame_tasks[k];
      keys[k] = {task.cursor.node, task.cursor.turn_slot, task.cursor.river_slot,
                 task.src0 && task.src0->HasData()};
    }
    if (count > 0 && threads == last_threads && keys == last_keys) return;
  }
  g_task_run_order.resize(count);
  for (size_t k = 0; k < count; ++k) g_task_run_order[k] = static_cast<int32_t>(k);
  if (!by_slot) return;
  static std::vector<double> cost;
  static std::vector<int32_t> slot;
  static std::vector<double> slot_cost;
  cost.resize(count);
  slot.resize(count);
  int32_t slot_end = 0;
  double largest = 0.0;
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
      // The sort below needs an order without NaN.
      if (!std::isfinite(last_cost)) last_cost = 1.0;
    }
    cost[k] = last_cost;
    largest = std::max(largest, last_cost);
    slot[k] = std::max(DealtSlot(task), 0);
    slot_end = std::max(slot_end, slot[k] + 1);
  }

  // The first slot of the tail: slots from the last down until they hold
  // enough work to keep every thread busy while the largest tasks run.
  slot_cost.assign(static_cast<size_t>(slot_end), 0.0);
  for (size_t k = 0; k < count; ++k) slot_cost[static_cast<size_t>(slot[k])] += cost[k];
  const double tail_work = 3.0 * std::max(threads, 1) * largest;
  int32_t tail_start = slot_end;
  double tail = 0.0;
  while (tail_start > 0 && tail < tail_work) tail += slot_cost[static_cast<size_t>(--tail_start)];

  // Ties go by collect order, as a stable sort would leave them, without the
  // stable sort's buffer.
  std::sort(g_task_run_order.begin(), g_task_run_order.end(), [&](int32_t a, int32_t b) {
    const bool tail_a = slot[a] >= tail_start;
    const bool tail_b = slot[b] >= tail_start;
    if (tail_a != tail_b) return tail_b;
    if (!tail_a && slot[a] != slot[b]) return slot[a] < slot[b];
    if (cost[a] != cost[b]) return cost[a] > cost[b];
    return a < b;
  });
  last_keys.swap(keys);
  last_threads = threads;
}

}  // namespace

SubgameTask* MakeSubgameTask(SolverState* state, const PassContext* pass, TreeNode* node,
                             int32_t turn_slot, int32_t river_slot) {
  SubgameTask* task;
  if (g_pool_used < g_task_pool.size()) {
    task = &g_task_pool[g_pool_used];
    task->Reset(state, pass, node, turn_slot, river_slot);
  } else {
    task = &g_task_pool.emplace_back(state, pass, node, turn_slot, river_slot);
  }
  ++g_pool_used;
  g_subgame_tasks.push_back(task);
  g_tasks_spent = false;
  return task;
}

void DestroySubgameTasks() {
#ifndef NDEBUG
  if (g_tasks_spent)
    for (const SubgameTask* task : g_subgame_tasks) {
      const NodeCursor& c = task->cursor;
      assert(!task->shared && !c.in0.HasData() && !c.in1.HasData() && !c.out0.HasData() &&
             !c.out1.HasData());
    }
#endif
  if (!g_tasks_spent)
    for (SubgameTask* task : g_subgame_tasks) task->Clear();
  g_subgame_tasks.clear();
  g_pool_used = 0;
  g_tasks_spent = false;
}

namespace {

// Gathers the task's inputs and walks its subgame.
void WalkSubgame(SubgameTask& task) {
  NodeCursor& cursor = task.cursor;
  const DealTree& deal = *cursor.state->deal_tree;
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor.turn_slot)];

  if (cursor.river_slot < 0) {
    const int32_t n = turn.HandCount();
    GatherTurnInput(cursor.in0, *task.src0, turn.card_lists[0], n);
    if (task.src1) GatherTurnInput(cursor.in1, *task.src1, turn.card_lists[0], n);
    // Code outside the pass may hold this turn slot's values open.
    std::unique_lock<std::mutex> slot_lock;
    if (cursor.node->turn_mutexes)
      slot_lock = std::unique_lock<std::mutex>(cursor.node->turn_mutexes[cursor.turn_slot]);
    TraverseNode(cursor);
  } else {
    const HandGroupView view =
        turn.river_records[static_cast<size_t>(cursor.river_slot)].GroupView();
    const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
    maps.GatherSumHandGroups(view, cursor.in0, *task.src0);
    if (task.src1) maps.GatherSumHandGroups(view, cursor.in1, *task.src1);
    TraverseRiverBoard(cursor);
  }
}

}  // namespace

void RunSubgameTask(SubgameTask& task) {
  NodeCursor& cursor = task.cursor;
  // Nothing may leave a task: it runs on a team or pool thread, where an
  // exception would end the process. A walk without memory gives up alone;
  // the other tasks run on, and the pass ends after the batch
  // (TraverseSubgames). The check costs nothing while no exception is thrown.
  bool failed = false;
  try {
    WalkSubgame(task);
  } catch (const std::bad_alloc&) {
    failed = true;
    g_batch_out_of_memory.store(true, std::memory_order_relaxed);
    cursor.out0 = NumArray();
    cursor.out1 = NumArray();
  }
  cursor.in0 = NumArray();
  cursor.in1 = NumArray();

  // Add this task's results, and those of the deal node's later tasks that
  // finished ahead of it, in collect order; a task whose earlier siblings are
  // still running leaves its outputs for them. One thread at a time adds into
  // a deal node's arrays (its merger); the lock guards only who that is and
  // how far the adding has come, so the other tasks' merges never wait on the
  // additions. A task that finishes while its deal node has a merger leaves
  // its outputs to it: the merger looks again before it lets go.
  assert(task.leader);  // every task of a batch belongs to its deal node's group
  {
    SubgameTask& leader = *task.leader;
    std::unique_lock<SpinWaitMutex> merge(g_task_merge_mutex);
    task.failed = failed;
    task.walked = true;
    if (!leader.merging) {
      leader.merging = true;
      for (;;) {
        SubgameTask* const first = leader.next_to_add;
        SubgameTask* stop = first;
        while (stop && stop->walked) stop = stop->next_in_group;
        if (stop == first) break;
        leader.next_to_add = stop;
        merge.unlock();
        for (SubgameTask* t = first; t != stop; t = t->next_in_group) {
          if (!t->failed) AddTaskResults(*t);
          FreeOutputs(*t);
        }
        merge.lock();
      }
      leader.merging = false;
    }
  }

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
  g_batch_out_of_memory.store(false, std::memory_order_relaxed);
  g_tasks_done.store(0, std::memory_order_relaxed);
  g_batch_task_count.store(count, std::memory_order_relaxed);
  // Scheduler 0 (the default) and the pool hand the subgames out one at a
  // time, slot by slot and ending on small ones (OrderBatch): the guided
  // schedule's large first chunks kept the similar tasks of whole lines
  // together on one thread and left the others idle at the end of the batch.
  // Scheduler 1 keeps the collect order. The results do not depend on the
  // order (RunSubgameTask).
  const uint32_t scheduler = g_scheduler.load(std::memory_order_relaxed);
  const int team = scheduler == 2 ? 1 : TeamSizeThatFits();
  const int32_t threads = scheduler == 0 ? team : static_cast<int32_t>(GetLogicalProcessorCount());
  OrderBatch(scheduler != 1, threads);
  if (scheduler == 0 || scheduler == 1) {
    RunOpenMpBatch(count, team);
    // A pass of a command beside a running solver: its team would sit idle
    // beside the solver's for the rest of the run (ReleaseIdleThreadTeam).
    if (!OnSolverThread() && IsSolverRunning()) ReleaseIdleThreadTeam();
  } else {
    RunWorkerPoolBatch(count, [](void*, int32_t k) { RunSubgameTask(BatchTask(k)); }, nullptr);
  }
  // Some subgame could not be walked: the batch's sums are not the pass's, and
  // the pass gives up (its callers clear the task list on the way out).
  if (g_batch_out_of_memory.load(std::memory_order_relaxed)) throw std::bad_alloc();
}

double* TraverseTree(SolverState* state, double out[2], Player player, PassMode mode) {
  out[0] = out[1] = 0.0;
  if (!state || state->nodes.empty() || !state->deal_tree) return out;

  // The command thread runs with flush-to-zero; a pass computes the same
  // figures whichever thread starts it.
  ScopedDefaultFpMode fp_mode;
  std::lock_guard<std::mutex> pass_lock(g_tree_pass_mutex);
  SubgameTasksGuard tasks;
  DestroySubgameTasks();

  const std::vector<double>& opponent_weights = state->root_hand_weights[Opponent(player)];
  PassContext pass;
  pass.player = player;
  pass.mode = mode;
  NodeCursor root(state, &pass, &state->nodes[0], state->start_turn_slot,
                  state->start_river_slot);

  // A tree rooted on the river has no deal node, so its collect walk would
  // record no task: it would only compute values that are thrown away (the
  // collect phase updates no store and fills no node-value target).
  pass.phase = PHASE_COLLECT;
  if (state->start_river_slot < 0) {
    root.in0.AssignValues(opponent_weights);
    TraverseNode(root);
    root.out0 = NumArray();
    root.out1 = NumArray();
  }

  pass.phase = PHASE_RUN;
  TraverseSubgames();

  pass.phase = PHASE_COMBINE;
  root.in0.AssignValues(opponent_weights);
  g_task_read_index = 0;
  // A river root is a river board of its own: the board sweeps take it.
  if (state->start_river_slot >= 0)
    TraverseRiverBoard(root);
  else
    TraverseNode(root);
  assert(g_task_read_index == static_cast<int32_t>(g_subgame_tasks.size()));
  // Each task dropped its inputs after its walk, its merger its outputs, and
  // the combine walk took every deal node's shared arrays back.
  g_tasks_spent = g_task_read_index == static_cast<int32_t>(g_subgame_tasks.size());

  const std::vector<double>& own_weights = state->normalised_root_weights[player];
  out[0] = WeightedSum(root.out0, own_weights);
  out[1] = WeightedSum(root.out1, own_weights);
  return out;
}
