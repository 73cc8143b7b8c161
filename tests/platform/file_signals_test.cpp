#include "platform/file_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/byte_io.h"
#include "support/file_bytes.h"
#include "support/process_runner.h"

namespace {

// A child that sets up the signals as the engine does, has a dump half
// written over `target` and gets `signal_number`; its wait status.
int StatusOfADumpEndedBy(const std::string& target, int signal_number, bool inherited_ignored) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (inherited_ignored) signal(signal_number, SIG_IGN);
    SetUpFileSignals();
    {
      FileWriter writer(target);
      const std::vector<uint8_t> bytes(3 * kFileBufferBytes, 1);
      writer.Write(bytes.data(), bytes.size());
      raise(signal_number);
    }
    _exit(7);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

}  // namespace

TEST(FileSignals, AnEndingSignalRemovesTheTemporaryFileAndStillEndsTheProcess) {
  const std::string dir = MakeTempDir();
  const std::vector<uint8_t> old_bytes = {'o', 'l', 'd'};
  WriteFileBytes(dir + "/tree", old_bytes);
  const auto entries = [&] {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
    return n;
  };
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    const int status = StatusOfADumpEndedBy(dir + "/tree", signal_number, false);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_EQ(entries(), 1u) << strsignal(signal_number);
    EXPECT_EQ(ReadFileBytes(dir + "/tree"), old_bytes);
  }
  // Under nohup the signal stays ignored and the dump goes on.
  const int status = StatusOfADumpEndedBy(dir + "/tree", SIGHUP, true);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  EXPECT_EQ(entries(), 1u);
}
