#include "solver/worker_pool.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "platform/threads.h"

std::vector<std::thread> g_worker_threads;

namespace {

// Batches are numbered; the cursor carries the number of the open batch in its
// high half and the next task index in its low half, so that a worker still
// busy with an old batch cannot take an index of a newer one.
std::atomic<uint64_t> g_task_cursor{0};
// Tasks of the open batch not finished yet.
std::atomic<int32_t> g_tasks_outstanding{0};

struct PoolControl {
  std::mutex mutex;              // guards everything below and the hand-over
  std::condition_variable wake;  // workers: a new batch or the shutdown
  std::condition_variable done;  // the caller: the batch has finished
  uint32_t batch = 0;            // number of the newest batch (0: none yet)
  int32_t batch_size = 0;
  WorkerPoolItemFn run = nullptr;  // the newest batch's item function and context
  void* context = nullptr;
  bool shutdown = false;
  // The newest batch when the pool was made: workers wait for the next one,
  // however late they start.
  uint32_t batch_at_creation = 0;
};
PoolControl g_pool;

// Serialises making and shutting down the pool.
std::mutex g_pool_life_mutex;
bool g_exit_hook_registered = false;

bool ClaimTask(uint32_t batch, int32_t size, int32_t& index) {
  uint64_t cursor = g_task_cursor.load(std::memory_order_acquire);
  for (;;) {
    if (static_cast<uint32_t>(cursor >> 32) != batch) return false;
    const int32_t next = static_cast<int32_t>(cursor & 0xFFFFFFFFu);
    if (next >= size) return false;
    if (g_task_cursor.compare_exchange_weak(cursor, cursor + 1, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
      index = next;
      return true;
    }
  }
}

void RunSerially(int32_t count, WorkerPoolItemFn run, void* context) {
  for (int32_t i = 0; i < count; ++i) run(context, i);
}

}  // namespace

void CreateWorkerPool() {
  std::lock_guard<std::mutex> life(g_pool_life_mutex);
  if (!g_worker_threads.empty()) return;
  {
    std::lock_guard<std::mutex> guard(g_pool.mutex);
    g_pool.shutdown = false;
    g_pool.batch_at_creation = g_pool.batch;
  }
  // Under an address-space limit only the workers that fit: a thread that is
  // made but cannot get its first memory would end the process.
  const uint32_t workers = NewThreadsThatFit(GetLogicalProcessorCount(), DefaultThreadStackBytes());
  g_worker_threads.reserve(workers);
  for (uint32_t i = 0; i < workers; ++i) {
    try {
      g_worker_threads.push_back(StartDefaultFpThread([i] { WorkerThreadMain(i); }));
    } catch (const std::system_error&) {
      break;  // the workers made so far carry the batches
    }
  }
  if (!g_exit_hook_registered) {
    g_exit_hook_registered = true;
    std::atexit(ShutdownWorkerPool);
  }
}

void WorkerThreadMain(uint32_t index) {
  // Workers are not pinned. Linux has no ideal-processor hint, only a hard
  // pin, and a worker pinned to a core that another process keeps busy waits
  // there while other cores sit idle; the batch then ends on it. A task's rows
  // are pulled from memory anew each pass anyway (the stores are far larger
  // than the caches).
  (void)index;
  uint32_t seen = 0;
  {
    std::lock_guard<std::mutex> guard(g_pool.mutex);
    seen = g_pool.batch_at_creation;
  }
  for (;;) {
    uint32_t batch;
    int32_t size;
    WorkerPoolItemFn run;
    void* context;
    {
      std::unique_lock<std::mutex> lock(g_pool.mutex);
      g_pool.wake.wait(lock, [&] { return g_pool.shutdown || g_pool.batch != seen; });
      if (g_pool.shutdown) return;
      batch = seen = g_pool.batch;
      size = g_pool.batch_size;
      run = g_pool.run;
      context = g_pool.context;
    }
    int32_t task;
    while (ClaimTask(batch, size, task)) {
      run(context, task);
      if (g_tasks_outstanding.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::lock_guard<std::mutex> guard(g_pool.mutex);
        g_pool.done.notify_all();
      }
    }
  }
}

void RunWorkerPoolBatch(int32_t count, WorkerPoolItemFn run, void* context) {
  if (count <= 0) return;
  CreateWorkerPool();
  if (g_worker_threads.empty()) return RunSerially(count, run, context);
  std::unique_lock<std::mutex> lock(g_pool.mutex);
  const uint32_t batch = g_pool.batch + 1;
  g_pool.batch_size = count;
  g_pool.run = run;
  g_pool.context = context;
  g_tasks_outstanding.store(count, std::memory_order_release);
  g_task_cursor.store(static_cast<uint64_t>(batch) << 32, std::memory_order_release);
  g_pool.batch = batch;
  g_pool.wake.notify_all();
  g_pool.done.wait(lock, [] { return g_tasks_outstanding.load(std::memory_order_acquire) == 0; });
}

void ShutdownWorkerPool() {
  std::lock_guard<std::mutex> life(g_pool_life_mutex);
  {
    std::lock_guard<std::mutex> guard(g_pool.mutex);
    g_pool.shutdown = true;
  }
  g_pool.wake.notify_all();
  for (std::thread& worker : g_worker_threads) {
    if (!worker.joinable()) continue;
    // A worker that ends the process cannot wait for itself.
    if (worker.get_id() == std::this_thread::get_id())
      worker.detach();
    else
      worker.join();
  }
  g_worker_threads.clear();
}
