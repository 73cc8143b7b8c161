#include "protocol/command_error.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

#include "protocol/dispatcher.h"
#include "solver/solver_status.h"

void ThrowCommandError(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  throw std::runtime_error(buffer);
}

void ThrowArgumentError(const std::string& command) {
  ThrowCommandError("ERROR: %s incorrect or missing argument\n", command.c_str());
}

void ThrowCommandReason(const char* reason) {
  ThrowCommandError("ERROR: %s %s\n", g_command_name.c_str(), reason);
}

void RefuseWhileSolverRuns() {
  if (IsSolverRunning()) ThrowCommandReason("Can't do that when solver is running");
}
