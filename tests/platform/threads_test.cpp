// Threads that compute for the solver start with the platform's default
// floating-point mode whatever their creator runs with.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/fp_mode.h"

TEST(SolverThreads, StartWithTheDefaultFpModeUnderAFlushToZeroCreator) {
  const uint32_t saved = ReadFpControl();
  EnableFlushToZero();
  std::atomic<uint32_t> seen{0};
  std::thread worker = StartDefaultFpThread([&] { seen = ReadFpControl(); });
  worker.join();
  const uint32_t creator_after = ReadFpControl();
  WriteFpControl(saved);
  EXPECT_EQ(seen.load(), kMxcsrDefault);
  EXPECT_EQ(creator_after & kMxcsrFlushToZeroBits, kMxcsrFlushToZeroBits);
}

TEST(SolverThreads, ProcessorCountAndPinning) {
  const uint32_t count = GetLogicalProcessorCount();
  EXPECT_GE(count, 1u);
  // Pinning is a hint that may be refused; an index past the count wraps.
  std::thread worker = StartDefaultFpThread([count] {
    PinCurrentThreadToProcessor(0);
    PinCurrentThreadToProcessor(count + 3);
  });
  worker.join();
}
