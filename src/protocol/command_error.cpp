#include "protocol/command_error.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Replies of refusals are cut to what a 256-byte buffer holds.
constexpr size_t kRefusalReplySize = 256;

std::string FormatCut(const char* format, va_list args) {
  char buffer[kRefusalReplySize];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  return buffer;
}

std::string FormatCut(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatCut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatCut(format, args);
  va_end(args);
  return text;
}

}  // namespace

void ThrowRefusal(const std::string& reason) { throw CommandRefusal(reason); }

void ThrowUnnamedRefusal(const std::string& reason) {
  throw CommandRefusal(reason, CommandRefusal::Naming::kNone);
}

std::string RefusalReply(const std::string& command, const CommandRefusal& refusal) {
  if (refusal.naming() == CommandRefusal::Naming::kNone)
    return FormatCut("ERROR: %s\n", refusal.reason());
  return FormatCut("ERROR: %s %s\n", command.c_str(), refusal.reason());
}

void ThrowCommandError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatCut(format, args);
  va_end(args);
  throw std::runtime_error(text);
}

void ThrowArgumentError(const std::string& command) {
  ThrowCommandError("ERROR: %s incorrect or missing argument\n", command.c_str());
}
