#pragma once
#include <cstddef>
#include <cstdint>

#include "protocol/tokenizer.h"

using CommandHandler = void (*)(const WordList& words);

// One row of the command table. A word count above 0 is the exact number of
// words the line must have, the command included; 0 or below allows any count
// and the handler checks its own arguments.
struct CommandEntry {
  const char* word;
  CommandHandler handler;
  int32_t word_count;
};

constexpr size_t kCommandCount = 79;
extern const CommandEntry g_command_table[kCommandCount];

// The row of a command word (exact, case-sensitive), or null.
const CommandEntry* FindCommand(const std::string& word);

// Handler of the commands whose subsystems are not built yet.
void CmdNotImplemented(const WordList& words);
