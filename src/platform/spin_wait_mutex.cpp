#include "platform/spin_wait_mutex.h"

#include <immintrin.h>

namespace {
// About 20-50 microseconds of pauses: far longer than a merge, far shorter than
// a time slice of the holder's core.
constexpr int kSpinRounds = 2000;
}  // namespace

void SpinWaitMutex::LockContended() {
  for (int round = 0; round < kSpinRounds; ++round) {
    _mm_pause();
    // Read before the exchange, so that spinning waiters do not steal the
    // line from the holder.
    if (state_.load(std::memory_order_relaxed) != kFree) continue;
    int32_t expected = kFree;
    if (state_.compare_exchange_weak(expected, kLocked, std::memory_order_acquire,
                                     std::memory_order_relaxed))
      return;
  }
  // Sleep. Whoever takes the lock from here marks it as having sleepers, so
  // that its release wakes the next one; a spare wake-up only costs a loop.
  while (state_.exchange(kLockedWithSleepers, std::memory_order_acquire) != kFree)
    state_.wait(kLockedWithSleepers, std::memory_order_relaxed);
}
