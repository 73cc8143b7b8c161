#include "solver/solver_status.h"

// No solver thread exists yet: nothing runs, so there is nothing to stop.
bool IsSolverRunning() { return false; }

void RequestSolverStop() {}

void StopSolverAndWait() {}
