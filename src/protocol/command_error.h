#pragma once
#include <stdexcept>
#include <string>

// How a line is refused. A subsystem that cannot do what it was asked throws a
// CommandRefusal with the reason only; the dispatcher names the command of the
// line it dispatched and answers "ERROR: <command> <reason>\n", or
// "ERROR: <reason>\n" for an unnamed refusal. Either reply is formatted into
// 256 bytes (longer text is cut).
class CommandRefusal : public std::runtime_error {
 public:
  enum class Naming {
    kCommand,  // "ERROR: <command> <reason>\n"
    kNone,     // "ERROR: <reason>\n": a bad card text reads so wherever it stands
  };

  explicit CommandRefusal(const std::string& reason, Naming naming = Naming::kCommand)
      : std::runtime_error(reason), naming_(naming) {}

  // The reason, as what() gives it.
  const char* reason() const noexcept { return what(); }
  Naming naming() const noexcept { return naming_; }

 private:
  Naming naming_;
};

[[noreturn]] void ThrowRefusal(const std::string& reason);
[[noreturn]] void ThrowUnnamedRefusal(const std::string& reason);

// The reply to a refusal of a line whose word 0 is `command`.
std::string RefusalReply(const std::string& command, const CommandRefusal& refusal);

// The command layer's own refusals: a std::runtime_error whose message is the
// finished reply text, formatted into 256 bytes (longer text is cut). The
// dispatcher prints it as it stands.
[[noreturn]] void ThrowCommandError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "ERROR: <command> incorrect or missing argument\n" with the given command word.
[[noreturn]] void ThrowArgumentError(const std::string& command);
