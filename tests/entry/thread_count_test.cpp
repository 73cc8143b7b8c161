// The engine solves on as many threads as the OpenMP runtime offers it unless
// set_threads says otherwise. The runtime is linked in and reads its
// environment only after the engine's own objects are built, so the default
// must not be taken before the start-up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

int ThreadsOf(pid_t pid) {
  std::error_code error;
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

// Reads the child's output until `line` has come; false at its end.
bool ReadUntil(FILE* out, const std::string& line) {
  char buffer[1 << 16];
  while (std::fgets(buffer, sizeof buffer, out))
    if (line == buffer) return true;
  return false;
}

TEST(ThreadCount, ByDefaultTheSolverUsesWhatTheRuntimeOffers) {
  // The flop example's situation and lines, solved without a limit.
  std::ifstream example(std::string(TDX_SOURCE_DIR) + "/examples/flop_solve.txt");
  ASSERT_TRUE(example.good());
  std::string script, line;
  while (std::getline(example, line))
    if (line.rfind("set_", 0) == 0 || line.rfind("add_line", 0) == 0 ||
        line.rfind("clear_lines", 0) == 0)
      if (line.rfind("set_accuracy", 0) != 0) script += line + "\n";
  script += "build_tree\ngo\n";

  std::vector<char*> envp;
  std::string threads = "OMP_NUM_THREADS=3";
  envp.push_back(threads.data());
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "OMP_NUM_THREADS=", 16) != 0) envp.push_back(*e);
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(TDX_ENGINE_PATH), nullptr};

  int in_pipe[2], out_pipe[2];
  ASSERT_EQ(pipe(in_pipe), 0);
  ASSERT_EQ(pipe(out_pipe), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) close(fd);
    execve(TDX_ENGINE_PATH, argv, envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  FILE* out = fdopen(out_pipe[0], "r");
  ASSERT_EQ(write(in_pipe[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));

  // The command thread, the solver thread and two more of its team, once the
  // first pass runs; the start-up's own team may linger a moment, so the
  // count must hold for a while.
  int seen = 0, steady = 0;
  if (ReadUntil(out, "SOLVER: started\n")) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (steady < 10 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const int now = ThreadsOf(pid);
      steady = now == seen ? steady + 1 : 0;
      seen = now;
    }
  }
  const std::string stop = "stop\nwait_for_solver\nexit\n";
  EXPECT_EQ(write(in_pipe[1], stop.data(), stop.size()), static_cast<ssize_t>(stop.size()));
  close(in_pipe[1]);
  EXPECT_TRUE(ReadUntil(out, "SOLVER: stopped (requested)\n"));
  std::fclose(out);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(seen, 4);
}

}  // namespace
