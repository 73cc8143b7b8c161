#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Runs a program as a subprocess with the given arguments, standard input and
// working directory, and collects what it writes and how it ends.
struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;  // -1 when it did not exit normally
  bool timed_out = false;
};

// What the child runs under besides its arguments and input.
struct ProcessOptions {
  uint64_t address_space_bytes = 0;      // RLIMIT_AS of the child; 0 keeps the parent's
  uint64_t file_size_bytes = 0;          // RLIMIT_FSIZE of the child; 0 keeps the parent's
  std::vector<std::string> environment;  // "NAME=value" entries set in the child
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& working_dir = "",
                         int timeout_seconds = 300, const ProcessOptions& options = {});

// A fresh empty directory under the system's temporary directory.
std::string MakeTempDir();
