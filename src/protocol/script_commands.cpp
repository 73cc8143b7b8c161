#include "protocol/script_commands.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/text_encoding.h"
#include "protocol/command_error.h"
#include "protocol/dispatcher.h"
#include "protocol/reply.h"
#include "protocol/tokenizer.h"

namespace {

int g_script_depth = 0;

class ScriptDepthGuard {
 public:
  ScriptDepthGuard() { ++g_script_depth; }
  ~ScriptDepthGuard() { --g_script_depth; }
  ScriptDepthGuard(const ScriptDepthGuard&) = delete;
  ScriptDepthGuard& operator=(const ScriptDepthGuard&) = delete;
};

}  // namespace

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
  PrintReply("%s ok!\n", words[0].c_str());
}
