#include "solver/solver_status.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/fp_mode.h"
#include "protocol/reply.h"

std::atomic<uint8_t> g_stop_requested{0};

namespace {

thread_local bool t_on_solver_thread = false;

// The thread object of the current or last run. It is kept after the thread's
// end and joined at the next start or at exit, so the thread has surely left
// its body (and its OpenMP team) before its object or the process goes away.
class SolverThread {
 public:
  SolverThread() = default;
  SolverThread(const SolverThread&) = delete;
  SolverThread& operator=(const SolverThread&) = delete;
  // Every way out of the engine stops the solver first; a run still going
  // when the process ends anyway is asked to stop and waited for, rather than
  // left running while the statics go.
  ~SolverThread();

  // Runs body on a new thread, marked as the solver thread. Throws
  // std::system_error (or std::bad_alloc) when the thread cannot be created.
  void Start(void (*body)()) {
    thread_ = std::thread([body] {
      t_on_solver_thread = true;
      body();
    });
  }

  // Waits for the last run's thread to end; nothing when there is none.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

// Guarded by g_solver_done_mutex; the atomic lets IsSolverRunning read it
// without the lock.
std::atomic<bool> g_solver_running{false};
uint8_t g_waiting_for_solver = 0;
std::mutex g_solver_done_mutex;
std::condition_variable g_solver_done_cv;

// Declared last, so that it goes first at exit, while what a run still going
// would touch on its way out is there.
SolverThread g_solver_thread;

SolverThread::~SolverThread() {
  if (!thread_.joinable()) return;
  // A thread that ends the process cannot wait for itself.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  RequestSolverStop();
  thread_.join();
}

}  // namespace

bool OnSolverThread() { return t_on_solver_thread; }

bool IsSolverRunning() { return g_solver_running.load(std::memory_order_acquire); }

void RequestSolverStop() {
  // Under the mutex, so a request can never outlive the run it was meant for.
  std::lock_guard<std::mutex> guard(g_solver_done_mutex);
  if (g_solver_running.load(std::memory_order_relaxed))
    g_stop_requested.store(1, std::memory_order_relaxed);
}

void WaitForSolver() {
  std::unique_lock<std::mutex> lock(g_solver_done_mutex);
  if (!g_solver_running.load(std::memory_order_relaxed)) return;
  g_waiting_for_solver = 1;
  g_solver_done_cv.wait(lock, [] { return !g_solver_running.load(std::memory_order_relaxed); });
  g_waiting_for_solver = 0;
}

void StopSolverAndWait() {
  RequestSolverStop();
  WaitForSolver();
  g_solver_thread.Join();
}

bool LaunchSolverThread(void (*body)()) {
  g_solver_thread.Join();
  g_stop_requested.store(0, std::memory_order_relaxed);
  // Recorded before the thread exists, so its end cannot come before its start.
  g_solver_running.store(true, std::memory_order_release);
  try {
    // A new thread inherits its creator's SSE control register; the command
    // thread computes with flush-to-zero, the solver must not.
    ScopedDefaultFpMode default_mode;
    g_solver_thread.Start(body);
  } catch (const std::system_error&) {
    g_solver_running.store(false, std::memory_order_release);
    return false;
  } catch (const std::bad_alloc&) {
    g_solver_running.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void FinishSolverThread(const std::string& stop_line) {
  std::lock_guard<std::mutex> guard(g_solver_done_mutex);
  g_stop_requested.store(0, std::memory_order_relaxed);
  // Ended before the line goes out: a client that answers the line with a new
  // go must find the solver stopped. That go joins this thread first, so its
  // "started" still follows the line; and under the lock, wait_for_solver
  // returns only once the line is out.
  g_solver_running.store(false, std::memory_order_release);
  PrintConsoleAndFlush(stop_line);
  if (g_waiting_for_solver) g_solver_done_cv.notify_all();
}
