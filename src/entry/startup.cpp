#include "entry/startup.h"

#include <tclap/CmdLine.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "cards/combo_tables.h"
#include "commands/command_table.h"
#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"
#include "platform/file_signals.h"
#include "platform/files.h"
#include "platform/standard_streams.h"
#include "platform/stdout_redirect.h"
#include "platform/system_time.h"
#include "protocol/dispatcher.h"
#include "protocol/fail.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"
#include "solver/libsubgame.h"
#include "solver/solver_settings.h"
#include "solver/solver_status.h"

namespace {

constexpr const char* kBuildNumber = "1031";

// Anything the dispatcher does not answer (a failed lock, say) leaves the
// engine in an unknown state: stop with the reason.
void DispatchOrFail(const WordList& words) {
  try {
    DispatchCommandLine(words);
  } catch (const std::exception& error) {
    Fail(error.what());
  }
}

// A failed read of standard input ends the session like its end, but as an
// error: the caller stops a running solver in order and exits with 1.
int ReportInputFailure(const std::string& reason) {
  std::fprintf(stderr, "ERROR: can't read standard input (%s)\n", reason.c_str());
  std::fflush(stderr);
  return 1;
}

}  // namespace

const char* BannerText() {
  return "Tordanex (velkaroon) build 1031 (" __DATE__ ", " __TIME__ ") \n";
}

int RunCommandLoop(bool input_closed) {
  std::string line, error;
  if (input_closed) return ReportInputFailure("Bad file descriptor");
  for (;;) {
    LineStatus status = ReadLine(std::cin, line, LineBreaks::kAny, &error);
    if (status == LineStatus::kTooLong) {
      // Refused, not cut: a cut line would run as some other command.
      if (g_skip_label.empty()) PrintReply("ERROR: line too long\n");
      FlushReplyBuffer();
      std::fflush(stdout);
      status = SkipLine(std::cin, LineBreaks::kAny, &error);
      if (status == LineStatus::kLine) continue;
    }
    if (status == LineStatus::kEnd) return 0;
    if (status == LineStatus::kReadError) return ReportInputFailure(error);
    if (line.empty()) continue;
    DispatchOrFail(TokenizeLine(line));
    FlushReplyBuffer();
    std::fflush(stdout);
  }
}

int EngineMain(int argc, char** argv) {
  const bool input_closed = GuardStandardStreams();
  SetUpFileSignals();
  if (!CpuHasAvx()) {
    std::fputs("Error: AVX-compatible CPU is required.\n", stderr);
    return 1;
  }

  std::string script_name;
  try {
    TCLAP::CmdLine cmd("", ' ', kBuildNumber);
    TCLAP::SwitchArg server("s", "server", "run as a server", cmd, false);
    TCLAP::ValueArg<int> port("p", "port", "server port (default 5251)", false, 5251, "port", cmd);
    TCLAP::SwitchArg exit_after("e", "exit", "exit after client disconnects", cmd, false);
    TCLAP::UnlabeledValueArg<std::string> filename("filename", "script to load", false, "",
                                                   "script.txt", cmd);
    cmd.parse(argc, argv);
    script_name = filename.getValue();
  } catch (const TCLAP::ArgException& error) {
    std::cerr << "error: " << error.error() << " for arg " << error.argId() << std::endl;
    return 1;
  }

  // Every evaluation reads the evaluator's tables; without them nothing can run.
  if (!InitHandEvaluator()) {
    std::puts("ERROR: can't allocate hand evaluator tables");
    std::fflush(stdout);
    return 1;
  }

  SaveOriginalStdout();
  InstallCommands();
  libsubgame_init(0);
  TakeDefaultThreadCount();
  g_start_time = GetSystemTimeTicks();
  std::fputs(BannerText(), stdout);
  std::fflush(stdout);
  BuildComboTables();

  if (!script_name.empty()) {
    if (!FileExists(script_name)) {
      std::printf("ERROR: can't find file '%s'\n", script_name.c_str());
      std::fflush(stdout);
      return 1;
    }
    // The name stays one word even when it holds blanks: split at them, a name
    // such as " x.txt" would run a file other than the one just found. The
    // script's own error reply (if any) is written before standard input is
    // read.
    DispatchOrFail(WordList{"load_script", script_name});
    FlushReplyBuffer();
    std::fflush(stdout);
  }

  std::ios::sync_with_stdio(false);
  const int code = RunCommandLoop(input_closed);
  StopSolverAndWait();
  FlushReplyBuffer();
  std::fflush(stdout);
  return code;
}
