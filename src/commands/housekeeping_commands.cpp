#include "commands/housekeeping_commands.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "commands/command_table.h"
#include "platform/files.h"
#include "platform/isa_dispatch.h"
#include "platform/memory_status.h"
#include "platform/stdout_redirect.h"
#include "platform/system_time.h"
#include "platform/text_encoding.h"
#include "protocol/command_error.h"
#include "protocol/dispatcher.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/solver_status.h"

namespace {

// Scripts may load scripts; deeper nesting than this is refused (a script that
// loads itself would otherwise exhaust the stack).
constexpr int kMaxScriptDepth = 64;

int g_script_depth = 0;

class ScriptDepthGuard {
 public:
  ScriptDepthGuard() { ++g_script_depth; }
  ~ScriptDepthGuard() { --g_script_depth; }
  ScriptDepthGuard(const ScriptDepthGuard&) = delete;
  ScriptDepthGuard& operator=(const ScriptDepthGuard&) = delete;
};

void Redirect(const WordList& words, bool append) {
  bool opened;
  {
    // The solver's console lines must not land half in one file, half in another.
    std::lock_guard<std::mutex> guard(g_console_mutex);
    opened = RedirectStdoutToFile(words[1], append);
  }
  // A file that cannot be opened is refused and the output stays where it was:
  // an "ok" that sent every later answer nowhere would hide the failure.
  if (!opened) ThrowRefusal("can't open file");
  PrintOkReply(words[0]);
}

}  // namespace

void CmdIsReady(const WordList& words) { PrintOkReply(words[0]); }

void CmdSolverTime(const WordList&) {
  const int64_t elapsed = static_cast<int64_t>(GetSystemTimeTicks() - g_start_time);
  PrintReply("%f\n", static_cast<double>(elapsed) / 10000000.0);
}

void CmdSleep(const WordList& words) {
  const int32_t ms = ParseIntWord(words[1]);
  // A negative wait would be a four-billion-millisecond hang.
  if (ms < 0) ThrowArgumentError(words[0]);
  SleepMilliseconds(static_cast<uint32_t>(ms));
}

void CmdTakeABreak(const WordList& words) {
  // The stop request comes first, so even a bad duration stops the solver.
  if (IsSolverRunning()) RequestSolverStop();
  const int32_t seconds = ParseIntWord(words[1]);
  const int64_t ms = static_cast<int64_t>(seconds) * 1000;
  if (seconds < 0 || ms > INT32_MAX) ThrowArgumentError(words[0]);
  SleepMilliseconds(static_cast<uint32_t>(ms));
  PrintOkReply(words[0]);
}

void CmdRepeat(const WordList& words) {
  if (words.size() < 3) ThrowArgumentError(words[0]);
  const int32_t count = ParseIntWord(words[1]);
  if (count < 1 || count > 99999) ThrowArgumentError(words[0]);
  const std::string text = JoinWords(words, 2, INT32_MAX) + "\n";
  // The reply is collected whole before it is written: a long text repeated
  // many times would exhaust memory and end the engine, so it is refused.
  constexpr uint64_t kMaxRepeatReply = uint64_t{1} << 28;
  if (static_cast<uint64_t>(text.size()) * static_cast<uint64_t>(count) > kMaxRepeatReply)
    ThrowArgumentError(words[0]);
  for (int32_t i = 0; i < count; ++i) PrintReplyText(text);
  PrintReply("END\n");
}

void CmdEcho(const WordList& words) {
  if (words.size() < 2) ThrowArgumentError(words[0]);
  PrintReplyText(words[1]);
}

void CmdShowMemory(const WordList&) {
  MemoryStatus status;
  QueryMemoryStatus(&status);
  // The available figure follows the load percentage, as the automatic
  // compression level weighs it, not the system's own free count.
  const uint64_t available = static_cast<uint64_t>(
      static_cast<double>(status.total_bytes) * (100 - status.load_percent) / 100.0);
  PrintReply("Total Physical Memory: %d MB\n", static_cast<int>(status.total_bytes >> 20));
  PrintReply("Available Phys Memory: %d MB\n", static_cast<int>(available >> 20));
  PrintReply("END\n");
}

// Names the build of the hot routines in use: the AVX2 build also needs FMA,
// so a processor with AVX2 and without FMA runs, and is named, AVX. The
// AVX-512 build is the AVX2 build's code compiled for AVX-512 and is named
// AVX2 too. Only a build forced lower for testing (TDX_KERNEL_BUILD) makes the
// name differ from what the processor offers.
void CmdGetInstructionSet(const WordList&) {
  PrintReply(g_kernel_build == KernelBuild::kAvx ? "AVX\n" : "AVX2\n");
}

void CmdHelp(const WordList&) {
  std::vector<const char*> names;
  for (const CommandEntry& entry : g_command_table)
    if (std::strncmp(entry.word, "zk4_", 4) != 0) names.push_back(entry.word);
  std::stable_sort(names.begin(), names.end(),
                   [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  for (const char* name : names) PrintReply("%s\n", name);
  PrintReply("END\n");
}

void CmdLoadScript(const WordList& words) {
  RequireUtf8FileName(words[1]);
  if (g_script_depth >= kMaxScriptDepth) ThrowRefusal("nesting too deep");
  std::ifstream file(words[1], std::ios::in | std::ios::binary);
  if (!file.is_open() || !FileExists(words[1])) ThrowRefusal("can't open file");
  ScriptDepthGuard depth;
  std::string line;
  for (;;) {
    // Text mode: a CR right before the LF goes with it. So does one that ends
    // a last line without LF: a script saved with CR LF line ends whose last
    // line lost its LF would otherwise end on a command that is never found.
    const LineStatus status = ReadLine(file, line, LineBreaks::kLfOnly);
    if (status == LineStatus::kEnd) break;
    // A script is finite text: a line past the cap means the file is no
    // script (a device such as /dev/zero would never end the skip).
    if (status == LineStatus::kTooLong) ThrowRefusal("line too long");
    if (status == LineStatus::kReadError) ThrowRefusal("can't read file");
    if (line.empty()) continue;
    DispatchCommandLine(TokenizeLine(Latin1ToUtf8(line)));
    FlushReplyBuffer();
    std::fflush(stdout);
  }
}

void CmdSkipIfDone(const WordList& words) {
  RequireUtf8FileName(words[1]);
  if (FileExists(words[1])) g_skip_label = words[2];
  PrintOkReply(words[0]);
}

void CmdStdoutredi(const WordList& words) { Redirect(words, false); }

void CmdStdoutrediAppend(const WordList& words) { Redirect(words, true); }

void CmdStdoutback(const WordList& words) {
  {
    std::lock_guard<std::mutex> guard(g_console_mutex);
    RestoreOriginalStdout();
  }
  PrintOkReply(words[0]);
}
