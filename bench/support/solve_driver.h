#pragma once
// What the whole-solve benchmark drivers share: engine commands run
// in-process, the text of ranges and lines, and child processes, one per
// measured thread count, that report on one "RESULT key=value ..." line.
#include <chrono>
#include <string>
#include <vector>

#include "cards/card.h"

// One command line through the engine's dispatcher; its reply text.
std::string Run(const std::string& line);

// Weights of the given hand classes ("AA AKs AKo ...") in HandOrder, the order
// set_range reads.
std::vector<double> ClassRange(const char* classes);
std::string RangeLine(const char* player, const std::vector<double>& by_order);
// Combinations with weight that do not touch the board.
int LiveCombos(const std::vector<double>& by_order, CardMask board);
std::string LineText(const std::vector<double>& amounts);

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b);

// A comma-separated list of thread counts.
std::vector<int> ThreadList(const char* text);

// key=value fields of a RESULT line (0 when absent).
double Field(const std::string& line, const std::string& key);

// Runs this executable again with the given arguments (args[0] is its name)
// and returns the RESULT line the child writes to stderr; the child's other
// stderr lines are passed through. Empty when the child could not run.
std::string RunChild(std::vector<std::string> args);
void ReportFailedRun(int threads);

// Writes the spot's set-up lines and then a solve to the end as an engine
// script; 0, or 1 when the file cannot be written.
int WriteSolveScript(const std::string& path, const std::vector<std::string>& setup);

// One child per thread count, in order, with the arguments args_for(threads);
// their RESULT lines. False, after saying which run failed, when one fails.
template <typename ArgsFor>
bool RunPerThreadCount(const std::vector<int>& threads, ArgsFor args_for,
                       std::vector<std::string>& results) {
  for (int t : threads) {
    results.push_back(RunChild(args_for(t)));
    if (results.back().empty()) {
      ReportFailedRun(t);
      return false;
    }
  }
  return true;
}
