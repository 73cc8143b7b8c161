#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// The one solver thread's life as the rest of the engine sees it: whether it
// runs, asking it to stop after the iteration under way, and waiting for its end.

// A stop has been asked for; read by the solver thread after each iteration and
// by the parallel tasks. Cleared when the thread ends, and when a new run starts.
extern std::atomic<uint8_t> g_stop_requested;

// True from the moment StartSolver records the thread until the thread's end.
bool IsSolverRunning();

// True on the solver thread itself (and on no other thread, its pass workers
// included).
bool OnSolverThread();

// Sets the stop request when a solver runs; nothing otherwise.
void RequestSolverStop();

// Blocks until no solver runs; returns at once when none does.
void WaitForSolver();

// Asks a running solver to stop, waits for its end and joins its thread object;
// returns at once when none runs. Called before the engine exits.
void StopSolverAndWait();

// The hand-over used by the run control. LaunchSolverThread joins the thread
// object of the previous run, records the solver as running, then creates the
// thread on `body` with the platform's default floating-point mode; false (and
// not running) when the thread cannot be created. FinishSolverThread is the
// thread's last act: it clears the stop request, marks the solver as not
// running, prints `stop_line` to the console and wakes a waiting
// WaitForSolver.
bool LaunchSolverThread(void (*body)());
void FinishSolverThread(const std::string& stop_line);
