#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "protocol/tokenizer.h"

using CommandHandler = void (*)(const WordList& words);

// One row of a command table. A word count above 0 is the exact number of
// words the line must have, the command included; 0 or below allows any count
// and the handler checks its own arguments.
struct CommandEntry {
  const char* word;
  CommandHandler handler;
  int32_t word_count;
};

// Word 0 of the line being dispatched; set just before its handler runs.
extern std::string g_command_name;
// The pending label: while not empty, lines are dropped until "LABEL: <label>".
extern std::string g_skip_label;

// The table the dispatcher looks command words up in. The command layer above
// installs its own at start-up, before any line is dispatched; until then no
// word is a command. The rows must outlive every dispatch.
void InstallCommandTable(std::span<const CommandEntry> rows);

// The row of a command word (exact, case-sensitive) among the rows, or null.
const CommandEntry* FindCommandRow(std::span<const CommandEntry> rows, const std::string& word);

// Runs one tokenised line: labels, comments, "exit", the table look-up, the
// word-count check and the handler. Argument errors, refusals and runtime
// errors of the handler are answered here and never escape; so is memory that
// it could not get ("ERROR: <command> out of memory").
void DispatchCommandLine(const WordList& words);

// What ExitEngine runs before the process ends; installed from above (a running
// solver is asked to stop and waited for). None until installed.
using ExitHook = void (*)();
void SetExitHook(ExitHook hook);

// Ends the engine normally: the exit hook runs, pending reply text is written,
// then the process exits with the code.
[[noreturn]] void ExitEngine(int code);
