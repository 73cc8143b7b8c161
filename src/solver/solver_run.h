#pragma once
#include <atomic>
#include <cstdint>

#include "solver/progress_history.h"

struct SolverState;

// Running the solver: the one solver thread with its iterations, exploitability
// checks and stop reasons, and the cached results of the current strategies.

// Exploitability checks fall on iterations 25, 50, 75, ...
inline constexpr uint32_t g_check_interval = 25;

// The limit of the current run: a number of iterations when g_limit_in_steps is
// set, else of whole seconds (compared as a signed number; 0 or below: none).
extern uint32_t g_run_limit;
extern uint8_t g_limit_in_steps;
// How many progress records the status block has covered; go sets it to 0.
extern std::atomic<int32_t> g_reported_records;

// Starts the solver thread after allocating every store's values that do not
// exist yet; false when a solver runs, the tree is incomplete, a value area
// cannot be allocated, or the thread cannot be created or would have no room
// under the address-space limit (NewThreadsThatFit).
bool StartSolver(uint32_t limit, uint8_t limit_in_steps);
void SolverThreadMain();
// One iteration: a solving pass for IP, then for OOP; the count rises by one.
void RunSolverIteration(SolverState* state);
// The tree's iteration count, read under the pass mutex: the solver thread
// raises it between its passes while commands run beside it. Not for a caller
// that holds the mutex.
int32_t ReadIterationCount(const SolverState& state);
// The current tree's INCOMPLETE_TREE flag is clear (a tree must exist).
bool IsTreeComplete();

// Bytes that allocating the values of every node not yet materialised takes.
uint64_t StoreValueNeed(SolverState& state);

// Allocates the values of every store of every node not yet materialised, in
// node order, marking each node, then reserves the river blocks
// (ReserveRiverBlocks) and at the end marks the tree. False, with nothing
// taken, when their whole need does not fit the memory available or, with
// the blocks' reservations, the process's address-space limit
// (MemoryRequestFits); else stops at the first store or
// reservation that fails (false), the nodes done before staying marked. A
// heap allocation that fails throws std::bad_alloc, likewise after the nodes
// before it.
bool AllocateStoreValues(SolverState& state);

// What printed EVs and MES add to the pass values: half the pot of the tree that
// was built, whatever set_pot said since (half of a later pot would print an EV
// no strategy of this tree has); 0 without a tree.
double HalfRootPot();

// Prints the status block of the newest progress record, if it is new.
void PrintSolverReport();

// The results of the current strategies: two best-response passes, or the
// cached figures of an incomplete tree whose iteration count has not moved.
// False, with no pass run, when a value area cannot be allocated.
bool ComputeResults(ProgressRecord* out);

// The check schedule, apart from the clock so that it can be tested.
bool IsCheckDue(int32_t iteration);

// Checks cost two passes: one that would follow the previous check by less
// than the minimum gap is skipped.
struct CheckThinning {
  int64_t last_check_ns = 0;
  int64_t min_gap_ms = 0;  // 0 before the first check
};
// For a due check at `now_ns`: false when it comes too soon; else records it and
// sets the next gap (250 ms below iteration 100, 500 ms from then on).
bool TakeCheck(CheckThinning& thinning, int32_t iteration, int64_t now_ns);

// Steps: the run has done `limit` iterations since start_count (one at least),
// summed in 64 bits. Seconds: a positive limit and that many whole seconds gone.
bool StepLimitReached(int32_t start_count, uint32_t limit, int32_t iteration);
bool TimeLimitReached(uint32_t limit, int64_t elapsed_ns);
