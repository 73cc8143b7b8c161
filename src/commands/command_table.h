#pragma once
#include <cstddef>
#include <string>

#include "protocol/dispatcher.h"

constexpr size_t kCommandCount = 79;
extern const CommandEntry g_command_table[kCommandCount];

// The row of a command word (exact, case-sensitive), or null.
const CommandEntry* FindCommand(const std::string& word);

// Hands the dispatcher this table and the exit hook that stops a running
// solver and waits for it. Called at start-up, before any line is dispatched.
void InstallCommands();
