#include "solver/solver_state.h"

std::unique_ptr<SolverState> g_solver_state;

SolverState::SolverState(int32_t storage_kind_arg, int32_t deal_flag_arg)
    : GameTree(storage_kind_arg, deal_flag_arg) {
  result_cache.max_load_factor(1.0f);
  result_cache.rehash(8);
}

void FreeSolverState() { g_solver_state.reset(); }
