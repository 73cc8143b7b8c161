#include "protocol/output_commands.h"

#include <mutex>

#include "platform/stdout_redirect.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"

namespace {

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
  PrintReply("%s ok!\n", words[0].c_str());
}

}  // namespace

void CmdStdoutredi(const WordList& words) { Redirect(words, false); }

void CmdStdoutrediAppend(const WordList& words) { Redirect(words, true); }

void CmdStdoutback(const WordList& words) {
  {
    std::lock_guard<std::mutex> guard(g_console_mutex);
    RestoreOriginalStdout();
  }
  PrintReply("%s ok!\n", words[0].c_str());
}
