#pragma once
// Watching a run of the solver thread from a test.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/tree_pass.h"
#include "tree/tree_records.h"

// The iteration count of the tree; the solver thread raises it under the pass
// mutex.
inline int32_t SolverIterations() {
  std::lock_guard<std::mutex> guard(g_tree_pass_mutex);
  return g_solver_state->iterations;
}

// Returns once the solver has stopped, has made `iterations` or has run past
// `limit`.
inline void WaitForIterations(int32_t iterations, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (IsSolverRunning() && SolverIterations() < iterations &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
