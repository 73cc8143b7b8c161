#pragma once
#include <atomic>
#include <cstdint>

// A lock for short critical sections that many threads reach at once, such as
// the merge of a finished subgame into its deal node. A plain mutex puts a
// waiter to sleep at once, and on a virtual machine the sleep and the wake-up
// cost more than the section it waits for; here a waiter first spins for a
// bounded while, then sleeps on the lock word until the holder lets go, so a
// holder that is descheduled never leaves others spinning for long.
// BasicLockable: take it with std::lock_guard.
class SpinWaitMutex {
 public:
  SpinWaitMutex() = default;
  SpinWaitMutex(const SpinWaitMutex&) = delete;
  SpinWaitMutex& operator=(const SpinWaitMutex&) = delete;

  void lock() {
    int32_t expected = kFree;
    if (state_.compare_exchange_strong(expected, kLocked, std::memory_order_acquire,
                                       std::memory_order_relaxed))
      return;
    LockContended();
  }
  bool try_lock() {
    int32_t expected = kFree;
    return state_.compare_exchange_strong(expected, kLocked, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
  void unlock() {
    if (state_.exchange(kFree, std::memory_order_release) == kLockedWithSleepers)
      state_.notify_one();
  }

 private:
  // Free; held with nobody asleep on it; held while some waiter may sleep (its
  // release wakes one).
  static constexpr int32_t kFree = 0;
  static constexpr int32_t kLocked = 1;
  static constexpr int32_t kLockedWithSleepers = 2;

  void LockContended();

  std::atomic<int32_t> state_{kFree};
};
