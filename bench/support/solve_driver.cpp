#include "support/solve_driver.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "commands/command_table.h"
#include "platform/cpu_features.h"
#include "platform/fp_mode.h"
#include "protocol/dispatcher.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "solver/solver_state.h"
#include "tree/tree_records.h"

extern char** environ;

std::string Run(const std::string& line) {
  g_reply_buffer.clear();
  DispatchCommandLine(TokenizeLine(line));
  std::string reply;
  reply.swap(g_reply_buffer);
  return reply;
}

void InitEngineTables() {
  static bool built = false;
  if (built) return;
  built = true;
  InitCpuFeatures();
  InitHandEvaluator();
  BuildComboTables();
  InstallCommands();
}

std::vector<double> ClassRange(const char* classes) {
  static const std::string kRanks = "23456789TJQKA";
  std::vector<double> by_combo(kComboCount, 0.0);
  std::istringstream words(classes);
  std::string name;
  while (words >> name) {
    const int a = static_cast<int>(kRanks.find(name[0]));
    const int b = static_cast<int>(kRanks.find(name[1]));
    const int high = std::max(a, b), low = std::min(a, b);
    const bool suited = name.size() == 3 && name[2] == 's';
    const int cls = high == low ? 13 * high + low : suited ? 13 * low + high : 13 * high + low;
    for (uint16_t combo : g_hand_class_combos[cls]) by_combo[combo] = 1.0;
  }
  std::vector<double> by_order(kComboCount);
  for (int k = 0; k < kComboCount; ++k) by_order[g_hand_order_by_combo[k]] = by_combo[k];
  return by_order;
}

std::string RangeLine(const char* player, const std::vector<double>& by_order) {
  std::string line = std::string("set_range ") + player;
  char word[32];
  for (double w : by_order) {
    std::snprintf(word, sizeof word, " %g", w);
    line += word;
  }
  return line;
}

int LiveCombos(const std::vector<double>& by_order, CardMask board) {
  int n = 0;
  for (int p = 0; p < kComboCount; ++p)
    if (by_order[p] > 0.0 && !(g_combo_card_masks[p] & board)) ++n;
  return n;
}

std::string LineText(const std::vector<double>& amounts) {
  std::string text = "add_line";
  char word[32];
  for (double a : amounts) {
    std::snprintf(word, sizeof word, " %g", a);
    text += word;
  }
  return text;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::vector<int> ThreadList(const char* text) {
  std::vector<int> threads;
  std::istringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) threads.push_back(std::atoi(item.c_str()));
  return threads;
}

double Field(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return 0.0;
  return std::strtod(line.c_str() + at + key.size() + 2, nullptr);
}

std::string RunChild(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  pid_t pid;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string output;
  if (spawned == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) output.append(buffer, n);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  close(pipe_fds[0]);
  std::string result;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("RESULT", 0) == 0)
      result = line;
    else
      std::fprintf(stderr, "%s\n", line.c_str());
  }
  return result;
}

void ReportFailedRun(int threads) { std::fprintf(stderr, "run with %d threads failed\n", threads); }

int WriteSolveScript(const std::string& path, const std::vector<std::string>& setup) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return 1;
  for (const std::string& line : setup) std::fprintf(file, "%s\n", line.c_str());
  std::fprintf(file, "build_tree\ngo\nwait_for_solver\ncalc_results\n");
  return std::fclose(file) == 0 ? 0 : 1;
}

std::vector<std::string> SpotScript(const SolveSpot& spot, const std::set<std::string>& lines,
                                    double accuracy) {
  std::vector<std::string> script;
  script.push_back(RangeLine("OOP", ClassRange(spot.oop_classes)));
  script.push_back(RangeLine("IP", ClassRange(spot.ip_classes)));
  script.push_back(std::string("set_board ") + spot.board);
  script.push_back("set_pot 0 0 100");
  script.push_back("clear_lines");
  for (const std::string& line : lines) script.push_back(line);
  char word[64];
  std::snprintf(word, sizeof word, "set_accuracy %g fraction", accuracy);
  script.push_back(word);
  return script;
}

bool ParseDriverOption(int argc, char** argv, int& i, DriverOptions& options) {
  const std::string a = argv[i];
  const bool has_value = i + 1 < argc;
  if (a == "--threads" && has_value) {
    options.threads = ThreadList(argv[++i]);
  } else if (a == "--accuracy" && has_value) {
    options.accuracy = std::atof(argv[++i]);
  } else if (a == "--steps" && has_value) {
    options.steps = std::atoi(argv[++i]);
  } else if (a == "--script" && has_value) {
    options.script = argv[++i];
  } else if (a == "--single" && has_value) {
    options.single = std::atoi(argv[++i]);
  } else if (a == "--verbose") {
    options.verbose = true;
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> DriverChildArgs(const char* name, const DriverOptions& options,
                                         int threads, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {name, "--single", std::to_string(threads), "--accuracy",
                                   std::to_string(options.accuracy), "--steps",
                                   std::to_string(options.steps)};
  args.insert(args.end(), extra.begin(), extra.end());
  if (options.verbose) args.push_back("--verbose");
  return args;
}

FILE* StartChildRun(const SolveSpot& spot, const std::set<std::string>& lines,
                    const DriverOptions& options) {
  InitEngineTables();
  return StartChildRun(SpotScript(spot, lines, options.accuracy), options);
}

FILE* StartChildRun(const std::vector<std::string>& setup, const DriverOptions& options) {
  EnableFlushToZero();
  InitEngineTables();
  if (!options.verbose) std::freopen("/dev/null", "w", stdout);
  FILE* report = fdopen(dup(STDERR_FILENO), "w");
  for (const std::string& line : setup) Run(line);
  char word[64];
  std::snprintf(word, sizeof word, "set_accuracy %g fraction", options.accuracy);
  Run(word);
  Run("set_threads " + std::to_string(options.single));
  return report;
}

bool CommandSucceeded(FILE* report, const char* command, const std::string& reply) {
  if (reply == std::string(command) + " ok!\n") return true;
  std::fprintf(report, "%s failed: %s", command, reply.c_str());
  return false;
}

std::string GoLine(int steps) {
  return steps > 0 ? "go " + std::to_string(steps) + " steps" : "go";
}

TreeSize CountTreeNodes(const SolverState& state) {
  TreeSize size;
  for (const TreeNode& node : state.nodes) {
    ++size.nodes;
    if (node.kind == DECISION_NODE) ++size.decisions;
  }
  return size;
}

void PrintSpotLine(const std::string& first, const char* board) {
  std::printf("spot: OOP %d combos, IP %d combos on %s; %d nodes, %d decisions\n",
              static_cast<int>(Field(first, "oop_combos")),
              static_cast<int>(Field(first, "ip_combos")), board,
              static_cast<int>(Field(first, "nodes")), static_cast<int>(Field(first, "decisions")));
}
