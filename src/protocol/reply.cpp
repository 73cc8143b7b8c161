#include "protocol/reply.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

std::mutex g_console_mutex;
std::string g_reply_buffer;
uint64_t g_start_time = 0;

namespace {

// Formats into a string, cut at kMaxFormattedText characters.
std::string FormatText(const char* format, va_list args) {
  char stack_buffer[1024];
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(stack_buffer, sizeof stack_buffer, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof stack_buffer) return std::string(stack_buffer, needed);
  const size_t length = static_cast<size_t>(needed) < kMaxFormattedText ? needed : kMaxFormattedText;
  std::string text(length, '\0');
  std::vsnprintf(text.data(), length + 1, format, args);
  return text;
}

}  // namespace

void PrintReply(const char* format, ...) {
  if (format[0] == '#') return;
  va_list args;
  va_start(args, format);
  g_reply_buffer += FormatText(format, args);
  va_end(args);
}

void PrintOkReply(const std::string& command) { PrintReply("%s ok!\n", command.c_str()); }

void PrintReplyText(const std::string& text) {
  if (!text.empty() && text[0] == '#') return;
  g_reply_buffer += text;
}

void FlushReplyBuffer() {
  if (g_reply_buffer.empty()) return;
  std::string text;
  text.swap(g_reply_buffer);
  std::lock_guard<std::mutex> guard(g_console_mutex);
  std::string_view rest(text);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (!line.empty()) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

void PrintConsole(const char* format, ...) {
  if (format[0] == '#') return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatText(format, args);
  va_end(args);
  std::lock_guard<std::mutex> guard(g_console_mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void PrintConsoleAndFlush(const std::string& text) {
  if (!text.empty() && text[0] == '#') return;
  std::lock_guard<std::mutex> guard(g_console_mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  std::fflush(stdout);
}

std::string GetWindowsErrorText() {
  const int code = errno;
  if (code == 0) return std::string();
  char buffer[512];
  // GNU strerror_r returns the message, which may or may not be our buffer.
  const char* message = strerror_r(code, buffer, sizeof buffer);
  std::string text;
  for (const char* p = message; *p; ++p)
    if (*p != '\r' && *p != '\n') text.push_back(*p);
  return text;
}
