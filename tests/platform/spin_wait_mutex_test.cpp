#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/spin_wait_mutex.h"
#include "solver/libsubgame.h"

namespace {

// A plain counter that only stays exact when the lock excludes.
struct Guarded {
  SpinWaitMutex mutex;
  int64_t count = 0;
};

void AddMany(Guarded& g, int times) {
  for (int i = 0; i < times; ++i) {
    std::lock_guard<SpinWaitMutex> guard(g.mutex);
    g.count = g.count + 1;
  }
}

}  // namespace

TEST(SpinWaitMutex, ExcludesUnderHeavyContention) {
  Guarded g;
  constexpr int kThreads = 12;  // more than the cores of most machines: holders get descheduled
  constexpr int kTimes = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(AddMany, std::ref(g), kTimes);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g.count, int64_t{kThreads} * kTimes);
}

TEST(SpinWaitMutex, WaitersThatFellAsleepAreAllWokenAndExclude) {
  Guarded g;
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  {
    std::lock_guard<SpinWaitMutex> held(g.mutex);
    EXPECT_FALSE(g.mutex.try_lock());
    for (int t = 0; t < 6; ++t)
      threads.emplace_back([&] {
        started.fetch_add(1);
        AddMany(g, 1000);
      });
    while (started.load() < 6) std::this_thread::yield();
    // Far past the spinning: every waiter sleeps on the lock word.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g.count, 0);
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g.count, 6000);
  ASSERT_TRUE(g.mutex.try_lock());
  g.mutex.unlock();
}

TEST(ThreadTeam, ARegionAfterTheTeamWasLetGoBringsOneUpAgain) {
  ReleaseIdleThreadTeam();  // without a team: nothing to do
  for (int round = 0; round < 3; ++round) {
    std::atomic<int> members{0};
    int64_t total = 0;
#pragma omp parallel num_threads(4) reduction(+ : total)
    {
      members.fetch_add(1);
#pragma omp for
      for (int i = 0; i < 1000; ++i) total += i;
    }
    EXPECT_EQ(total, 499500);
    EXPECT_GE(members.load(), 1);
    ReleaseIdleThreadTeam();
  }
}
