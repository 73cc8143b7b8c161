#include "solver/solver_run.h"

#include <omp.h>

#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "compress/storage_counters.h"
#include "platform/threads.h"
#include "platform/virtual_memory.h"
#include "protocol/reply.h"
#include "solver/accuracy_settings.h"
#include "solver/current_iteration.h"
#include "solver/libsubgame.h"
#include "solver/river_blocks.h"
#include "solver/showdown_tables.h"
#include "solver/solver_clock.h"
#include "solver/solver_constants.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/tree_pass.h"
#include "store/store_constants.h"
#include "tree/node_stores.h"
#include "tree/tree_records.h"

uint32_t g_run_limit = 0;
uint8_t g_limit_in_steps = 0;
std::atomic<int32_t> g_reported_records{0};

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

// Both players' MES and EV of the current strategies, as one record.
ProgressRecord MeasureStrategies(SolverState* state, uint32_t iteration, double running_time) {
  double oop[2];
  double ip[2];
  TraverseTree(state, oop, PLAYER_OOP, PASS_EVALUATE);
  TraverseTree(state, ip, PLAYER_IP, PASS_EVALUATE);
  ProgressRecord record;
  record.iteration = iteration;
  record.running_time = running_time;
  record.ev_oop = oop[0];
  record.mes_oop = oop[1];
  record.ev_ip = ip[0];
  record.mes_ip = ip[1];
  record.exploitability = 0.5 * ((record.mes_oop + record.mes_ip) - record.ev_oop - record.ev_ip);
  return record;
}

}  // namespace

int32_t ReadIterationCount(const SolverState& state) {
  std::lock_guard<std::mutex> guard(g_tree_pass_mutex);
  return state.iterations;
}

double HalfRootPot() {
  const SolverState* state = g_solver_state.get();
  return state ? state->root_pot * 0.5 : 0.0;
}

bool IsCheckDue(int32_t iteration) {
  const int32_t first = static_cast<int32_t>(g_check_interval);
  return iteration == first ||
         (iteration > first && (iteration - first) % static_cast<int32_t>(g_check_interval) == 0);
}

bool TakeCheck(CheckThinning& thinning, int32_t iteration, int64_t now_ns) {
  if ((now_ns - thinning.last_check_ns) / kNsPerMs < thinning.min_gap_ms) return false;
  thinning.last_check_ns = now_ns;
  thinning.min_gap_ms = static_cast<int64_t>(4 * g_check_interval) > iteration ? 250 : 500;
  return true;
}

bool StepLimitReached(int32_t start_count, uint32_t limit, int32_t iteration) {
  return static_cast<int64_t>(start_count) + static_cast<int32_t>(limit) <= iteration;
}

bool TimeLimitReached(uint32_t limit, int64_t elapsed_ns) {
  const int32_t seconds = static_cast<int32_t>(limit);
  return seconds > 0 && elapsed_ns / kNsPerSecond >= seconds;
}

bool IsTreeComplete() { return (g_solver_state->flags & INCOMPLETE_TREE) == 0; }

uint64_t StoreValueNeed(SolverState& state) {
  uint64_t bytes = 0;
  for (TreeNode& node : state.nodes)
    if (node.regret_store && !node.materialised) bytes += NodeAllocationBytes(node);
  return bytes;
}

bool AllocateStoreValues(SolverState& state) {
  if (state.stores_allocated) return true;
  // Weighed as a whole before anything is taken: heap rows are touched as they
  // are made, and a tree beyond the memory would be taken part by part until
  // the system ended the process. The river blocks take address space only,
  // which counts under an address-space limit like any other. Refused, the
  // tree stays as it was. (What a run needs besides is weighed as it comes:
  // its threads when they are made, TeamSizeThatFits; a pass that cannot get
  // its buffers ends the run, not the process.)
  const uint64_t need = StoreValueNeed(state);
  const uint64_t blocks = RiverBlockNeed(state);
  if ((need > 0 || blocks > 0) && !MemoryRequestFits(need, blocks)) return false;
  for (TreeNode& node : state.nodes) {
    if (!node.regret_store || node.materialised) continue;
    if (!node.regret_store->Allocate()) return false;
    if (node.strategy_store && !node.strategy_store->Allocate()) return false;
    node.materialised = 1;
  }
  if (!ReserveRiverBlocks(state)) return false;
  state.stores_allocated = 1;
  return true;
}

void RunSolverIteration(SolverState* state) {
  double out[2];
  TraverseTree(state, out, PLAYER_IP, PASS_SOLVE);
  TraverseTree(state, out, PLAYER_OOP, PASS_SOLVE);
  std::lock_guard<std::mutex> guard(g_tree_pass_mutex);
  state->iterations += 1;
  state->flags &= ~static_cast<uint32_t>(NEW_TREE);
  g_current_iteration.store(state->iterations, std::memory_order_relaxed);
}

bool StartSolver(uint32_t limit, uint8_t limit_in_steps) {
  SolverState* state = g_solver_state.get();
  if (!state || IsSolverRunning() || !IsTreeComplete()) return false;
  g_limit_in_steps = limit_in_steps;
  g_run_limit = limit;
  ClearProgressHistory();
  if (!AllocateStoreValues(*state)) return false;
  // The run's own thread, weighed as its team threads are (TeamSizeThatFits):
  // made but without room for its first allocations, it would end the process.
  if (NewThreadsThatFit(1, DefaultThreadStackBytes()) == 0) return false;
  // The command thread's team would sit idle through the run (ReleaseIdleThreadTeam).
  ReleaseIdleThreadTeam();
  return LaunchSolverThread(SolverThreadMain);
}

namespace {

// The run's iterations and checks until a stop reason; the reason.
const char* RunIterations(SolverState* state) {
  const int32_t start_count = state->iterations;
  int64_t start_ns;
  GetTimeNs(&start_ns);
  CheckThinning thinning;
  thinning.last_check_ns = start_ns;

  while (!g_stop_requested.load(std::memory_order_relaxed)) {
    if (state->iterations >= g_iteration_cap) break;
    omp_set_num_threads(static_cast<int>(g_thread_count.load(std::memory_order_relaxed)));
    RunSolverIteration(state);
    const int32_t it = state->iterations;
    // Read after every iteration: the time limit must not wait for a check.
    int64_t now_ns;
    GetTimeNs(&now_ns);

    if (IsCheckDue(it) && TakeCheck(thinning, it, now_ns)) {
      const double running_time =
          static_cast<double>((now_ns - start_ns) / kNsPerMs) / 1000.0;
      const ProgressRecord record =
          MeasureStrategies(state, static_cast<uint32_t>(it), running_time);
      AppendProgressRecord(record);
      PrintSolverReport();
      // A NaN exploitability never ends the run.
      if (g_accuracy_target.load(std::memory_order_relaxed) >= record.exploitability)
        return "required accuracy reached";
    }
    if (g_limit_in_steps) {
      if (StepLimitReached(start_count, g_run_limit, it)) return "required number of steps done";
    } else if (TimeLimitReached(g_run_limit, now_ns - start_ns)) {
      return "timeout reached";
    }
  }
  return "requested";
}

}  // namespace

void SolverThreadMain() {
  PrintConsoleAndFlush("SOLVER: started\n");
  SolverState* state = g_solver_state.get();
  const char* reason;
  // Memory that an iteration or a check cannot get ends the run, not the
  // process: the pass gives up before its iteration is counted, and the tree
  // stays to be queried, freed or solved on (the stores hold what the solver
  // learnt, the broken pass's updates included, which later iterations work
  // out as they do any other).
  try {
    BeginShowdownTables(*state);
    reason = RunIterations(state);
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  EndShowdownTables();
  FinishSolverThread(std::string("SOLVER: stopped (") + reason + ")\n");
}

void PrintSolverReport() {
  uint32_t count = 0;
  const std::unique_ptr<ProgressRecord[]> copy = CopyProgressHistory(&count);
  if (!copy || static_cast<int64_t>(count) <= g_reported_records.load()) return;
  g_reported_records.store(static_cast<int32_t>(count));
  const ProgressRecord& record = copy[count - 1];
  const double h = HalfRootPot();
  char block[512];
  std::snprintf(block, sizeof block,
                "SOLVER:\nrunning time: %.3f\nEV OOP: %.3f\nEV IP: %.3f\nOOP's MES: %.3f\n"
                "IP's MES: %.3f\nExploitable for: %.3f\nEND\n",
                record.running_time, record.ev_oop + h, record.ev_ip + h, record.mes_oop + h,
                record.mes_ip + h, record.exploitability);
  PrintConsole("%s", block);

  PrintConsole("#%d iterations\n", static_cast<int32_t>(record.iteration));
  PrintConsole("#storage %d MB/s read, %d MB/s write\n",
               StorageRateMBs(g_storage_read_bytes.load(), record.running_time),
               StorageRateMBs(g_storage_write_bytes.load(), record.running_time));

  std::fflush(stdout);
  std::this_thread::yield();
}

bool ComputeResults(ProgressRecord* out) {
  SolverState* state = g_solver_state.get();
  // Every pass needs every store's values.
  if (!AllocateStoreValues(*state)) return false;
  // A complete tree is always measured afresh; an incomplete one (a forgotten
  // street) keeps the figures measured before, as long as no iteration ran.
  if (IsTreeComplete()) state->last_results_iteration = -1;
  const int32_t iteration = ReadIterationCount(*state);
  if (iteration != state->last_results_iteration) {
    const ProgressRecord measured = MeasureStrategies(state, static_cast<uint32_t>(iteration), 0.0);
    state->last_results_iteration = iteration;
    state->mes_oop = measured.mes_oop;
    state->ev_oop = measured.ev_oop;
    state->mes_ip = measured.mes_ip;
    state->ev_ip = measured.ev_ip;
    state->exploitability = measured.exploitability;
    state->mean_ev = 0.5 * (measured.ev_oop + measured.ev_ip);
  }
  out->iteration = static_cast<uint32_t>(iteration);
  out->running_time = 0.0;
  out->ev_oop = state->ev_oop;
  out->ev_ip = state->ev_ip;
  out->mes_oop = state->mes_oop;
  out->mes_ip = state->mes_ip;
  out->exploitability = state->exploitability;
  return true;
}
