#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/spin_wait_mutex.h"
#include "solver/node_cursor.h"

// The arrays that a deal node shares among all its tasks: where their inputs
// are gathered from (src0, src1) and where their outputs are added (dst0,
// dst1).
struct SharedArrays {
  NumArray src0;
  NumArray dst0;
  NumArray src1;
  NumArray dst1;
};

// A subgame of a pass: the subtree below one dealt card, run as one task of the
// pass's parallel batch. Its cursor stands on the node below the dealt card
// with the dealt board's slots (river slot negative for a turn task). The four
// pointers name the arrays of its deal node's SharedArrays (src1 and dst1 null
// when the deal has no second input or output).
struct SubgameTask {
  NodeCursor cursor;
  NumArray* src0 = nullptr;
  NumArray* dst0 = nullptr;
  NumArray* src1 = nullptr;
  NumArray* dst1 = nullptr;
  // The first task of a deal node owns the shared arrays until the combine walk
  // takes them back; they go with it when a pass is cut short, so none is lost.
  std::unique_ptr<SharedArrays> shared;

  // The tasks of one deal node add their results into the shared destinations
  // in collect order, whichever thread finishes first, so that a batch gives
  // the same sums, to the last bit, on any number of threads and in any run
  // order. A task that finishes ahead of its turn leaves its outputs in its
  // cursor; the task that closes the gap adds them, as the group's one merger
  // at a time. These fields change under g_task_merge_mutex; the additions run
  // outside it.
  SubgameTask* leader = nullptr;        // the deal node's first task (set on every task)
  SubgameTask* next_in_group = nullptr;  // the deal node's next task in collect order
  SubgameTask* next_to_add = nullptr;    // leader only: the first task not added yet
  bool walked = false;                   // the subgame has been walked; outputs wait
  bool merging = false;                  // leader only: a thread is adding the group's results
  bool failed = false;                   // the walk ran out of memory: no outputs to add

  SubgameTask(SolverState* state, const PassContext* pass, TreeNode* node, int32_t turn_slot,
              int32_t river_slot)
      : cursor(state, pass, node, turn_slot, river_slot) {}
  SubgameTask(const SubgameTask&) = delete;
  SubgameTask& operator=(const SubgameTask&) = delete;
  ~SubgameTask() { ReleaseShared(); }

  // As a task freshly made for this subgame, whatever it held before.
  void Reset(SolverState* state, const PassContext* pass, TreeNode* node, int32_t turn_slot,
             int32_t river_slot) {
    Clear();
    cursor.state = state;
    cursor.pass = pass;
    cursor.node = node;
    cursor.turn_slot = turn_slot;
    cursor.river_slot = river_slot;
    leader = next_in_group = next_to_add = nullptr;
    walked = merging = failed = false;
  }
  // Gives back every array the task holds, its share included.
  void Clear() {
    ReleaseShared();
    cursor.out1 = NumArray();
    cursor.in1 = NumArray();
    cursor.out0 = NumArray();
    cursor.in0 = NumArray();
  }

  // Frees the shared arrays if this task holds them and clears the pointers.
  void ReleaseShared() {
    shared.reset();
    src0 = dst0 = src1 = dst1 = nullptr;
  }
};

// The tasks of the current pass in collect order. Touched by the collect and
// combine walks on the pass's own thread only; constant during a batch.
extern std::vector<SubgameTask*> g_subgame_tasks;
// The next task the combine walk takes back.
extern int32_t g_task_read_index;
// Held while a task adds its results into its deal node's shared arrays.
extern SpinWaitMutex g_task_merge_mutex;
// Tasks finished in the current batch.
extern std::atomic<int32_t> g_tasks_done;

// The order in which the batch under way hands its tasks out: indices into
// g_subgame_tasks, dealt slot by dealt slot with the largest expected subgame
// first, the batch's last slots largest first across slots (OrderBatch in
// tree_pass.cpp), or the collect order under scheduler 1. Set by
// TraverseSubgames for its batch; the combine walk keeps the collect order.
extern std::vector<int32_t> g_task_run_order;

// The k-th task of the batch in run order.
inline SubgameTask& BatchTask(int32_t k) {
  return *g_subgame_tasks[static_cast<size_t>(g_task_run_order[static_cast<size_t>(k)])];
}

// Gathers the task's inputs from the shared sources, walks its subgame, adds
// its outputs (and those of its deal node's later tasks that finished ahead of
// it) into the shared destinations under g_task_merge_mutex in collect order,
// and frees the added tasks' arrays. Safe to run concurrently with the other
// tasks of its batch. Throws nothing: a walk that runs out of memory marks the
// task failed, adds nothing, and has TraverseSubgames throw std::bad_alloc
// once the batch is over.
void RunSubgameTask(SubgameTask& task);

// A task for the current pass, appended to g_subgame_tasks. Tasks come from a
// pool that keeps them from pass to pass: a turn-rooted pass makes hundreds, on
// the pass's own thread, between its parallel batches.
SubgameTask* MakeSubgameTask(SolverState* state, const PassContext* pass, TreeNode* node,
                             int32_t turn_slot, int32_t river_slot);

// Gives back every array of the tasks of g_subgame_tasks, returns the tasks to
// the pool and empties the list.
void DestroySubgameTasks();

// Every path out of a pass, a thrown error included, leaves the task list
// empty: the guard destroys the tasks when it goes.
class SubgameTasksGuard {
 public:
  SubgameTasksGuard() = default;
  ~SubgameTasksGuard() { DestroySubgameTasks(); }
  SubgameTasksGuard(const SubgameTasksGuard&) = delete;
  SubgameTasksGuard& operator=(const SubgameTasksGuard&) = delete;
};
