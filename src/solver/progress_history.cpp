#include "solver/progress_history.h"

#include <algorithm>
#include <new>

#include "solver/solver_status.h"

std::vector<ProgressRecord> g_progress_history;
std::mutex g_progress_mutex;

void AppendProgressRecord(const ProgressRecord& record) {
  std::lock_guard<std::mutex> guard(g_progress_mutex);
  g_progress_history.push_back(record);
}

void ClearProgressHistory() {
  std::lock_guard<std::mutex> guard(g_progress_mutex);
  g_progress_history.clear();
}

std::unique_ptr<ProgressRecord[]> CopyProgressHistory(uint32_t* count) {
  *count = 0;
  if (!IsSolverRunning()) return nullptr;
  std::lock_guard<std::mutex> guard(g_progress_mutex);
  const size_t n = g_progress_history.size();
  // Never a zero-sized request: a copy of an empty history is still a copy.
  std::unique_ptr<ProgressRecord[]> copy(new (std::nothrow) ProgressRecord[n ? n : 1]);
  if (!copy) return nullptr;
  std::copy(g_progress_history.begin(), g_progress_history.end(), copy.get());
  *count = static_cast<uint32_t>(n);
  return copy;
}
