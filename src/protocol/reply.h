#pragma once
#include <cstdint>
#include <mutex>
#include <string>

// All output goes to standard output by two roads: the reply text that a
// handler collects while its line runs (written out line by line afterwards),
// and console lines that any thread writes at once. The console mutex keeps
// them from mixing inside a line.

extern std::mutex g_console_mutex;
extern std::string g_reply_buffer;
// System time at start-up, 100-ns ticks since 1601; read by solver_time.
extern uint64_t g_start_time;

// printf-style reply output; a format beginning with "#" is a diagnostic and is
// dropped (so calling it with such a format is safe from any thread).
void PrintReply(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<command> ok!": the reply of a command that did what it was asked.
void PrintOkReply(const std::string& command);

// Appends finished text unchanged; text beginning with "#" is dropped.
void PrintReplyText(const std::string& text);

// Writes the reply text to standard output as whole lines, empty lines dropped,
// and empties it. The caller flushes standard output afterwards.
void FlushReplyBuffer();

// printf-style console line, written and flushed at once; any thread.
void PrintConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A finished console line, then one more flush.
void PrintConsoleAndFlush(const std::string& text);

// The system's message for the calling thread's last error (errno), with line
// ends removed; empty when there is none.
std::string GetWindowsErrorText();

// Largest text one PrintReply or PrintConsole call formats; longer text is cut.
constexpr size_t kMaxFormattedText = 65535;
