#pragma once
#include <cstdint>
#include <thread>
#include <vector>

// The engine's own pool for the parallel batches of a pass (scheduler 2): one
// worker per logical processor, made at the first batch that needs it and kept
// until the process ends. Workers sleep between batches; a batch wakes them,
// each takes item indices one at a time until none is left. The pool knows
// nothing of what an item is: the batch brings the function that runs one.

// Runs item `index` of a batch; `context` is the batch's own. Must not throw.
using WorkerPoolItemFn = void (*)(void* context, int32_t index);

extern std::vector<std::thread> g_worker_threads;

// Makes the pool unless it exists: its threads start under the platform's
// default floating-point mode, and the pool is shut down at process exit.
void CreateWorkerPool();

// Body of worker `index`: bound to processor `index` where the system allows,
// then batch after batch until the pool shuts down.
void WorkerThreadMain(uint32_t index);

// Runs run(context, 0) .. run(context, count - 1) on the pool (made if needed)
// and returns when every one has finished. A worker never takes an index of a
// batch other than the one it was woken for. Without any worker thread the
// items run on the calling thread.
void RunWorkerPoolBatch(int32_t count, WorkerPoolItemFn run, void* context);

// Wakes every worker with the shutdown flag and joins them; the pool can be
// made again afterwards. Registered to run at exit.
void ShutdownWorkerPool();
