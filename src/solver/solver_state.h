#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "store/num_array.h"
#include "tree/tree_records.h"

// The game tree as the solver runs it: the tree with what solving adds, the
// iteration count, the results of the current strategies and the result
// cache. What a pass is doing is the pass's own (solver/pass_context.h).

// The values of the result cache.
struct NumArrayPair {
  NumArray arrays[2];
};

struct SolverState : GameTree {
  std::unordered_map<uint64_t, std::unique_ptr<NumArrayPair>> result_cache;
  int32_t iterations = 0;
  int32_t last_results_iteration = -1;
  double mes_oop = 0.0;
  double ev_oop = 0.0;
  double mes_ip = 0.0;
  double ev_ip = 0.0;
  double exploitability = 0.0;
  double mean_ev = 0.0;

  SolverState(int32_t storage_kind_arg, int32_t deal_flag_arg);
};

// The one current tree; null without a tree.
extern std::unique_ptr<SolverState> g_solver_state;

// Destroys the current tree, if any.
void FreeSolverState();
