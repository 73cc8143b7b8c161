// The worker pool runs whatever a batch hands it: every item once, batch after
// batch, and again after a shutdown.
#include "solver/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

struct Batch {
  std::vector<std::atomic<int32_t>> runs;
  explicit Batch(int32_t count) : runs(static_cast<size_t>(count)) {}
  static void Run(void* context, int32_t index) {
    static_cast<Batch*>(context)->runs[static_cast<size_t>(index)].fetch_add(1);
  }
  bool EachRanOnce() const {
    for (const std::atomic<int32_t>& r : runs)
      if (r.load() != 1) return false;
    return true;
  }
};

TEST(WorkerPool, RunsEveryItemOfEachBatchOnceWithItsOwnContext) {
  for (int32_t count : {1, 2, 7, 64, 1000}) {
    Batch batch(count);
    RunWorkerPoolBatch(count, Batch::Run, &batch);
    EXPECT_TRUE(batch.EachRanOnce()) << count << " items";
  }
  // Batches back to back with different contexts never mix their items.
  for (int i = 0; i < 200; ++i) {
    Batch a(3), b(5);
    RunWorkerPoolBatch(3, Batch::Run, &a);
    RunWorkerPoolBatch(5, Batch::Run, &b);
    ASSERT_TRUE(a.EachRanOnce() && b.EachRanOnce()) << "round " << i;
  }
  Batch none(1);
  RunWorkerPoolBatch(0, Batch::Run, &none);
  EXPECT_EQ(none.runs[0].load(), 0);
}

TEST(WorkerPool, ShutsDownAndComesBackForTheNextBatch) {
  Batch before(16);
  RunWorkerPoolBatch(16, Batch::Run, &before);
  ShutdownWorkerPool();
  EXPECT_TRUE(g_worker_threads.empty());
  Batch after(16);
  RunWorkerPoolBatch(16, Batch::Run, &after);
  EXPECT_FALSE(g_worker_threads.empty());
  EXPECT_TRUE(before.EachRanOnce());
  EXPECT_TRUE(after.EachRanOnce());
}

}  // namespace
