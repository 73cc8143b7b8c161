#include "solver/libsubgame.h"

#include <omp.h>

#include <cctype>
#include <cstdlib>

#include "platform/fp_mode.h"
#include "platform/threads.h"

uint32_t g_omp_team_size = 0;

namespace {
// Keeps the warm-up loop from being optimised away.
volatile int64_t g_omp_warmup_total = 0;

// Threads of the calling thread's OpenMP team, itself included: the runtime
// keeps them after a region of more than one thread, lets the surplus go when
// a later region asks for fewer (but more than one), and leaves them be for a
// region of one.
thread_local int t_team_threads = 1;

// The stack size of the runtime's team threads, read from the settings the
// runtime reads at start-up: OMP_STACKSIZE, else GOMP_STACKSIZE, a number with
// an optional unit B, K (the default), M or G; else the system's default.
uint64_t ParseStackSetting(const char* text) {
  if (!text) return 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (end == text) return 0;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  int shift = 10;
  switch (std::tolower(static_cast<unsigned char>(*end))) {
    case 'b': shift = 0; ++end; break;
    case 'k': ++end; break;
    case 'm': shift = 20; ++end; break;
    case 'g': shift = 30; ++end; break;
    default: break;
  }
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0' || number > (UINT64_MAX >> shift)) return 0;
  return static_cast<uint64_t>(number) << shift;
}

uint64_t TeamStackBytes() {
  static const uint64_t bytes = [] {
    uint64_t setting = ParseStackSetting(std::getenv("OMP_STACKSIZE"));
    if (setting == 0) setting = ParseStackSetting(std::getenv("GOMP_STACKSIZE"));
    return setting > 0 ? setting : DefaultThreadStackBytes();
  }();
  return bytes;
}
}  // namespace

int TeamSizeThatFits(int wanted) {
  if (wanted <= 1) return 1;
  // A region inside a region runs on its one thread: nothing is started.
  if (omp_get_level() > 0) return wanted;
  if (wanted <= t_team_threads) {
    t_team_threads = wanted;
    return wanted;
  }
  t_team_threads +=
      static_cast<int>(NewThreadsThatFit(static_cast<uint32_t>(wanted - t_team_threads),
                                         TeamStackBytes()));
  return t_team_threads;
}

int TeamSizeThatFits() { return TeamSizeThatFits(omp_get_max_threads()); }

void libsubgame_init(uint32_t thread_count) {
  g_omp_team_size = thread_count;
  // Team threads inherit the creating thread's control register on Linux.
  ScopedDefaultFpMode default_mode;
  int64_t total = 0;
  const int team = TeamSizeThatFits(thread_count > 0 ? static_cast<int>(thread_count)
                                                     : omp_get_max_threads());
#pragma omp parallel for schedule(dynamic, 1) num_threads(team) reduction(+ : total)
  for (int i = 0; i < 1000; ++i) total += static_cast<int64_t>(i) * thread_count;
  g_omp_warmup_total = total;
}

void ReleaseIdleThreadTeam() {
  omp_pause_resource_all(omp_pause_soft);
  t_team_threads = 1;
}
