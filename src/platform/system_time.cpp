#include "platform/system_time.h"

#include <cerrno>
#include <ctime>

namespace {
// Seconds from 1601-01-01 to the Unix epoch.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ull;
}

uint64_t GetSystemTimeTicks() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000ull +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

int64_t ReadClockTicks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

int64_t ClockFrequency() { return 1000000000ll; }

void SleepMilliseconds(uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000l};
  timespec rem{};
  // Signals may cut the wait short; finish the remainder.
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}
