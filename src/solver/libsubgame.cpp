#include "solver/libsubgame.h"

#include <omp.h>

#include "platform/fp_mode.h"

uint32_t g_omp_team_size = 0;

namespace {
// Keeps the warm-up loop from being optimised away.
volatile int64_t g_omp_warmup_total = 0;
}

void libsubgame_init(uint32_t thread_count) {
  g_omp_team_size = thread_count;
  // Team threads inherit the creating thread's control register on Linux.
  ScopedDefaultFpMode default_mode;
  int64_t total = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : total)
  for (int i = 0; i < 1000; ++i) total += static_cast<int64_t>(i) * thread_count;
  g_omp_warmup_total = total;
}

void ReleaseIdleThreadTeam() { omp_pause_resource_all(omp_pause_soft); }
