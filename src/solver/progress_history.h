#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The results of the exploitability checks of the current run, in order.

// One check. EV is a player's value when both play the solver's strategies, MES
// its value when it plays a best response (maximally exploitative strategy);
// both are pass values, without the half pot that printed texts add.
struct ProgressRecord {
  uint32_t iteration;   // the tree's iteration count at the check
  double running_time;  // seconds since the run started, in whole milliseconds
  double ev_oop;
  double ev_ip;
  double mes_oop;
  double mes_ip;
  double exploitability;  // ((MES OOP + MES IP) - EV OOP - EV IP) / 2
};

// Appended by the solver thread, copied by readers, both under g_progress_mutex.
extern std::vector<ProgressRecord> g_progress_history;
extern std::mutex g_progress_mutex;

void AppendProgressRecord(const ProgressRecord& record);
// Emptied by a new run and by the preparation of a tree (no solver runs then).
void ClearProgressHistory();

// A heap copy of the history, its length in *count. Null without a running
// solver (*count 0) or without memory.
std::unique_ptr<ProgressRecord[]> CopyProgressHistory(uint32_t* count);
