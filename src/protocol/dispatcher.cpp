#include "protocol/dispatcher.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "protocol/command_error.h"
#include "protocol/reply.h"

std::string g_command_name;
std::string g_skip_label;

namespace {

std::span<const CommandEntry> g_installed_table;
ExitHook g_exit_hook = nullptr;

}  // namespace

void InstallCommandTable(std::span<const CommandEntry> rows) { g_installed_table = rows; }

const CommandEntry* FindCommandRow(std::span<const CommandEntry> rows, const std::string& word) {
  for (const CommandEntry& entry : rows)
    if (word == entry.word) return &entry;
  return nullptr;
}

void SetExitHook(ExitHook hook) { g_exit_hook = hook; }

void ExitEngine(int code) {
  if (g_exit_hook) g_exit_hook();
  FlushReplyBuffer();
  std::fflush(stdout);
  std::exit(code);
}

void DispatchCommandLine(const WordList& words) {
  if (words.empty()) return;
  if (words.size() >= 2 && words[0] == "LABEL:") {
    if (words[1] == g_skip_label) g_skip_label.clear();
    return;
  }
  if (!g_skip_label.empty()) return;
  if (words[0][0] == '#') return;
  if (words[0] == "exit") ExitEngine(0);

  const CommandEntry* entry = FindCommandRow(g_installed_table, words[0]);
  if (!entry) {
    PrintReply("ERROR: Command %s not recognized\n", words[0].c_str());
    return;
  }
  try {
    if (entry->word_count > 0 && static_cast<size_t>(entry->word_count) != words.size())
      ThrowArgumentError(words[0]);
    g_command_name = words[0];
    entry->handler(words);
  } catch (const std::invalid_argument&) {
    PrintReplyText("Invalid value\n");
  } catch (const std::out_of_range&) {
    PrintReplyText("Invalid value\n");
  } catch (const CommandRefusal& refusal) {
    // Named after this line's own word: a script's lines change the current
    // command name while load_script runs them.
    PrintReplyText(RefusalReply(words[0], refusal));
  } catch (const std::runtime_error& error) {
    PrintReplyText(error.what());
  } catch (const std::bad_alloc&) {
    // Memory that could not be had ends the line, not the session: what the
    // handler took is given back as its stack unwinds.
    PrintReply("ERROR: %s out of memory\n", words[0].c_str());
  }
}
