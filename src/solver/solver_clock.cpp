#include "solver/solver_clock.h"

#include "platform/system_time.h"

int64_t g_clock_frequency = 0;

namespace {
// Read among the program-wide initialisers, before the main routine.
const bool g_clock_frequency_ready = (InitClockFrequency(), true);
}  // namespace

void InitClockFrequency() { g_clock_frequency = ClockFrequency(); }

void GetTimeNs(int64_t* out) {
  if (g_clock_frequency <= 0) InitClockFrequency();
  const double ticks = static_cast<double>(ReadClockTicks());
  *out = static_cast<int64_t>(ticks * 1e9 / static_cast<double>(g_clock_frequency));
}
