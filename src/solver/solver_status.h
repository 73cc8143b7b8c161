#pragma once

// What the command frame needs of the solver: whether one runs, asking it to
// stop after the iteration under way, and waiting for it to end.

bool IsSolverRunning();
void RequestSolverStop();

// Asks a running solver to stop and blocks until it has ended; returns at once
// when none runs. Called before the engine exits.
void StopSolverAndWait();
