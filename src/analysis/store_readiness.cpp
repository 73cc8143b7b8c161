#include "analysis/store_readiness.h"

#include "solver/solver_run.h"
#include "solver/solver_state.h"

void EnsureStoresAllocated(SolverState& state) {
  if (state.stores_allocated) return;
  // A failure leaves the mark clear, so the next query tries again.
  AllocateStoreValues(state);
}
