#pragma once
// What the whole-solve benchmark drivers share: engine commands run
// in-process, the text of ranges and lines, and child processes, one per
// measured thread count, that report on one "RESULT key=value ..." line.
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cards/card.h"

struct SolverState;

// One command line through the engine's dispatcher; its reply text.
std::string Run(const std::string& line);

// The engine's tables, as the program builds them at start; once.
void InitEngineTables();

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

// A whole-solve spot: both players' hand classes and the board; pot 100.
struct SolveSpot {
  const char* oop_classes;
  const char* ip_classes;
  const char* board;
};

// The spot's set-up lines: both ranges, board, pot, the given add_line texts
// and the target accuracy as a fraction of the pot.
std::vector<std::string> SpotScript(const SolveSpot& spot, const std::set<std::string>& lines,
                                    double accuracy);

// The options every driver reads; a child runs with `single` threads.
struct DriverOptions {
  std::vector<int> threads;
  double accuracy = 0.003;
  int steps = 0;
  bool verbose = false;
  std::string script;
  int single = 0;  // the child's thread count
};

// Reads the common option at argv[i] and its value, leaving i on the last
// word read; false when the word is none of them.
bool ParseDriverOption(int argc, char** argv, int& i, DriverOptions& options);

// A child's arguments: the program name, its thread count, the common options
// and the driver's own (`extra`).
std::vector<std::string> DriverChildArgs(const char* name, const DriverOptions& options,
                                         int threads, const std::vector<std::string>& extra = {});

// A child's start: the tables, flush-to-zero as in the engine, stdout muted
// unless verbose, the spot's set-up lines run and the thread count set.
// Returns the stream for the RESULT line (stderr at the start).
FILE* StartChildRun(const SolveSpot& spot, const std::set<std::string>& lines,
                    const DriverOptions& options);

// The same with the set-up lines given as engine commands.
FILE* StartChildRun(const std::vector<std::string>& setup, const DriverOptions& options);

// False, after writing "<command> failed: <reply>" to report, unless the
// reply is "<command> ok!".
bool CommandSucceeded(FILE* report, const char* command, const std::string& reply);

// go, for the given number of steps or (0) to the accuracy.
std::string GoLine(int steps);

// The built tree's nodes and decision nodes.
struct TreeSize {
  int nodes = 0;
  int decisions = 0;
};
TreeSize CountTreeNodes(const SolverState& state);

// The report's first line, from the first child's RESULT line.
void PrintSpotLine(const std::string& first, const char* board);

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
