// The engine as a subprocess whose standard streams misbehave: input closed or
// unreadable, a reader that goes away, lines without end. The engine must end
// in order (or go on), never die of a signal or an uncaught exception.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace {

struct Ending {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t k = read(fd, buffer, sizeof buffer);
    if (k > 0) {
      text.append(buffer, static_cast<size_t>(k));
    } else if (k < 0 && errno == EINTR) {
      continue;
    } else {
      return text;
    }
  }
}

Ending Wait(pid_t pid) {
  Ending ending;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) ending.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  return ending;
}

// Runs the engine with `input_fd` as its standard input (-1: closed), and
// collects its output and error text.
Ending RunWithInput(int input_fd, const std::vector<std::string>& args, const std::string& dir) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) || pipe(err_pipe)) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    if (input_fd >= 0) {
      dup2(input_fd, 0);
    } else {
      close(0);
    }
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::vector<char*> argv{const_cast<char*>(TDX_ENGINE_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TDX_ENGINE_PATH, argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Error text is short: read it after the output without a deadlock.
  std::string out = ReadAll(out_pipe[0]);
  std::string err = ReadAll(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  Ending ending = Wait(pid);
  ending.out = std::move(out);
  ending.err = std::move(err);
  return ending;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The river spot of the examples, built and ready for go.
std::string RiverSpotScript() {
  const std::string example = ReadFile(std::string(TDX_SOURCE_DIR) + "/examples/river_solve.txt");
  return example.substr(0, example.find("node_count"));
}

int CountLines(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(prefix, 0) == 0) ++count;
  return count;
}

}  // namespace

TEST(StandardStreams, ClosedOrUnreadableInputEndsAsAnErrorWithoutAbort) {
  const std::string dir = MakeTempDir();
  Ending closed = RunWithInput(-1, {}, dir);
  EXPECT_EQ(closed.signal, 0);
  EXPECT_EQ(closed.exit_code, 1);
  EXPECT_NE(closed.err.find("ERROR: can't read standard input (Bad file descriptor)"),
            std::string::npos) << closed.err;
  EXPECT_EQ(CountLines(closed.out, "Tordanex"), 1);

  const int directory = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  Ending unreadable = RunWithInput(directory, {}, dir);
  close(directory);
  EXPECT_EQ(unreadable.signal, 0);
  EXPECT_EQ(unreadable.exit_code, 1);
  EXPECT_NE(unreadable.err.find("ERROR: can't read standard input (Is a directory)"),
            std::string::npos) << unreadable.err;
}

TEST(StandardStreams, ClosedInputAfterAScriptStopsItsSolverInOrder) {
  // The closed descriptor must not be handed to the script or to the
  // redirection file: each gets a number of its own, and the replies land in
  // the file, not in the script.
  const std::string dir = MakeTempDir();
  const std::string script = RiverSpotScript() +
                             "stdoutredi replies.txt\necho into_the_file\nstdoutback\n"
                             "set_accuracy 0 fraction\ngo 1000000 steps\n";
  WriteFile(dir + "/solve.txt", script);
  Ending ending = RunWithInput(-1, {"solve.txt"}, dir);
  EXPECT_EQ(ending.signal, 0);
  EXPECT_EQ(ending.exit_code, 1);
  EXPECT_NE(ending.err.find("can't read standard input"), std::string::npos) << ending.err;
  EXPECT_EQ(CountLines(ending.out, "SOLVER: started"), 1) << ending.out;
  EXPECT_EQ(CountLines(ending.out, "SOLVER: stopped"), 1) << ending.out;
  EXPECT_EQ(ReadFile(dir + "/replies.txt"), "stdoutredi ok!\ninto_the_file\n");
  EXPECT_EQ(ReadFile(dir + "/solve.txt"), script);
}

TEST(StandardStreams, AReaderThatGoesAwayDoesNotEndTheEngine) {
  // The reader closes its end after the banner; the engine solves on (its
  // status and stop lines fail to write) and still runs the lines after.
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/solve.txt", RiverSpotScript() +
                                    "set_accuracy 0 fraction\ngo 300 steps\nwait_for_solver\n"
                                    "calc_results\nstdoutredi after.txt\necho still_here\n"
                                    "stdoutback\n");
  int out_pipe[2];
  ASSERT_EQ(pipe(out_pipe), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, 0);
    dup2(out_pipe[1], 1);
    close(out_pipe[0]);
    close(out_pipe[1]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execl(TDX_ENGINE_PATH, TDX_ENGINE_PATH, "solve.txt", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out_pipe[1]);
  char first;
  ASSERT_EQ(read(out_pipe[0], &first, 1), 1);
  close(out_pipe[0]);
  const Ending ending = Wait(pid);
  EXPECT_EQ(ending.signal, 0);
  EXPECT_EQ(ending.exit_code, 0);
  EXPECT_EQ(ReadFile(dir + "/after.txt"), "stdoutredi ok!\nstill_here\n");
}

TEST(StandardStreams, ALineWithoutEndIsRefusedAndTheSessionGoesOn) {
  // Standard input: the over-long line is refused, the rest of it skipped up to
  // its line end, and the next line runs.
  std::string input(size_t{16} << 20, 'x');
  input += "yy\nis_ready\n";
  const ProcessResult result = RunProcess(TDX_ENGINE_PATH, {}, input, "", 120);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("\nERROR: line too long\nis_ready ok!\n"), std::string::npos)
      << result.out.substr(0, 200);

  // A line at the cap is read whole (and not recognized as a command; the
  // reply is cut at the reply formatter's limit).
  std::string longest(size_t{16} << 20, 'z');
  const ProcessResult fits = RunProcess(TDX_ENGINE_PATH, {}, longest + "\nis_ready\n", "", 120);
  EXPECT_EQ(fits.out.find("line too long"), std::string::npos);
  EXPECT_NE(fits.out.find("\nERROR: Command zzz"), std::string::npos);
  EXPECT_NE(fits.out.find("z\nis_ready ok!\n"), std::string::npos);

  // A script with no line end at all (a device) ends the script, not the
  // engine; the refusal names the script command, not the last line it ran.
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/long.txt", "is_ready\n" + std::string(size_t{17} << 20, 'x') + "\necho no\n");
  const ProcessResult device = RunProcess(
      TDX_ENGINE_PATH, {}, "load_script /dev/zero\nload_script long.txt\nis_ready\n", dir, 120);
  EXPECT_EQ(device.exit_code, 0);
  EXPECT_NE(device.out.find("\nERROR: load_script line too long\nis_ready ok!\n"
                            "ERROR: load_script line too long\nis_ready ok!\n"),
            std::string::npos) << device.out;
}
