#pragma once
#include <string>

#include "protocol/tokenizer.h"

// Word 0 of the line being dispatched; set just before its handler runs.
extern std::string g_command_name;
// The pending label: while not empty, lines are dropped until "LABEL: <label>".
extern std::string g_skip_label;

// Runs one tokenised line: labels, comments, "exit", the table look-up, the
// word-count check and the handler. Argument and runtime errors of the handler
// are answered here and never escape; so is memory that it could not get
// ("ERROR: <command> out of memory").
void DispatchCommandLine(const WordList& words);

// Ends the engine normally: a running solver is asked to stop and waited for,
// pending reply text is written, then the process exits with the code.
[[noreturn]] void ExitEngine(int code);
