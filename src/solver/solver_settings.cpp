#include "solver/solver_settings.h"

#include <omp.h>

uint8_t g_isomorphism_by_street[4] = {1, 1, 0, 0};

// One until the start-up takes the runtime's default (TakeDefaultThreadCount):
// the runtime, linked into the program, reads its environment only after the
// engine's own objects are built, and answers 1 before.
std::atomic<uint32_t> g_thread_count{1};
std::atomic<uint32_t> g_scheduler{0};

double g_recalc_accuracy[4] = {0.0, 0.0, 0.0, 0.0};
double g_rake[2] = {0.0, 0.0};

void SetThreadCount(uint32_t count) { g_thread_count.store(count, std::memory_order_relaxed); }

void TakeDefaultThreadCount() { SetThreadCount(static_cast<uint32_t>(omp_get_max_threads())); }

void SetRecalcAccuracy(double flop, double turn, double river) {
  g_recalc_accuracy[1] = flop;
  g_recalc_accuracy[2] = turn;
  g_recalc_accuracy[3] = river;
}

void SetRake(double fraction, double cap) {
  g_rake[0] = fraction;
  g_rake[1] = cap;
}
