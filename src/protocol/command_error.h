#pragma once
#include <string>

// How handlers refuse a line: a std::runtime_error whose message is the finished
// reply text, formatted into 256 bytes (longer text is cut). The dispatcher
// prints it as it stands.

[[noreturn]] void ThrowCommandError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "ERROR: <command> incorrect or missing argument\n" with the given command word.
[[noreturn]] void ThrowArgumentError(const std::string& command);

// "ERROR: <g_command_name> <reason>\n".
[[noreturn]] void ThrowCommandReason(const char* reason);

// "ERROR: <g_command_name> Can't do that when solver is running\n" when a solver runs.
void RefuseWhileSolverRuns();
