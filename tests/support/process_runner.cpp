#include "support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// The directories made by this process, removed with their content when it
// exits normally (a failing test does not end the process, so this still
// runs). Only by the process that made them: a death test's child exits too.
std::vector<std::string>& MadeDirectories() {
  static std::vector<std::string> directories;
  return directories;
}
pid_t g_maker = 0;

void RemoveMadeDirectories() {
  if (getpid() != g_maker) return;
  std::error_code ignored;
  for (const std::string& dir : MadeDirectories()) std::filesystem::remove_all(dir, ignored);
}

}  // namespace

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tdx-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return std::string();
  if (MadeDirectories().empty()) {
    g_maker = getpid();
    std::atexit(RemoveMadeDirectories);
  }
  MadeDirectories().emplace_back(buffer.data());
  return std::string(buffer.data());
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& working_dir,
                         int timeout_seconds, const ProcessOptions& options) {
  ProcessResult result;
  // Everything the child needs is made before the fork: the child of a
  // threaded process may only call async-signal-safe functions.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The parent's environment with the options' entries in place of those of
  // the same names.
  const auto name_of = [](const char* entry) {
    const char* equals = std::strchr(entry, '=');
    return equals ? std::string(entry, equals) : std::string(entry);
  };
  std::vector<char*> envp;
  for (const std::string& entry : options.environment)
    envp.push_back(const_cast<char*>(entry.c_str()));
  for (char** e = environ; *e; ++e) {
    bool replaced = false;
    for (const std::string& entry : options.environment)
      replaced = replaced || name_of(entry.c_str()) == name_of(*e);
    if (!replaced) envp.push_back(*e);
  }
  envp.push_back(nullptr);

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) _exit(127);
    if (options.address_space_bytes != 0) {
      const rlimit limit{options.address_space_bytes, options.address_space_bytes};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    if (options.file_size_bytes != 0) {
      const rlimit limit{options.file_size_bytes, options.file_size_bytes};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

  size_t written = 0;
  bool in_open = true;
  if (input.empty()) {
    close(in_pipe[1]);
    in_open = false;
  }
  bool out_open = true, err_open = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  char buffer[65536];
  while (out_open || err_open) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    pollfd fds[3];
    int n = 0;
    int out_index = -1, err_index = -1, in_index = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; out_index = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; err_index = n++; }
    if (in_open) { fds[n] = {in_pipe[1], POLLOUT, 0}; in_index = n++; }
    if (poll(fds, n, 200) < 0) continue;
    if (in_index >= 0 && (fds[in_index].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t k = write(in_pipe[1], input.data() + written, input.size() - written);
      if (k > 0) written += static_cast<size_t>(k);
      if (k < 0 && errno != EAGAIN) written = input.size();
      if (written == input.size()) {
        close(in_pipe[1]);
        in_open = false;
      }
    }
    if (out_index >= 0 && (fds[out_index].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t k = read(out_pipe[0], buffer, sizeof buffer);
      if (k > 0) result.out.append(buffer, k); else out_open = false;
    }
    if (err_index >= 0 && (fds[err_index].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t k = read(err_pipe[0], buffer, sizeof buffer);
      if (k > 0) result.err.append(buffer, k); else err_open = false;
    }
  }
  if (in_open) close(in_pipe[1]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}
