// Reply text, its flush into whole lines, console lines and the fatal stop,
// observed on standard output redirected to a file.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/stdout_redirect.h"
#include "protocol/fail.h"
#include "protocol/reply.h"
#include "support/process_runner.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs `body` with standard output going to a file; returns what it wrote.
template <typename Body>
std::string CaptureStdout(Body body) {
  SaveOriginalStdout();
  const std::string path = MakeTempDir() + "/out.txt";
  EXPECT_TRUE(RedirectStdoutToFile(path, false));
  body();
  std::fflush(stdout);
  EXPECT_TRUE(RestoreOriginalStdout());
  return ReadFile(path);
}

}  // namespace

TEST(Reply, FlushWritesWholeNonEmptyLines) {
  g_reply_buffer.clear();
  EXPECT_EQ(CaptureStdout([] {
              PrintReply("a\n\nb");
              FlushReplyBuffer();
            }),
            "a\nb\n");
  EXPECT_TRUE(g_reply_buffer.empty());
  EXPECT_EQ(CaptureStdout([] {
              PrintReply("%s ok!\n", "x");
              PrintReply("%s ok!\n", "y");
              PrintReplyText("\n\n100%\r\n");
              FlushReplyBuffer();
            }),
            "x ok!\ny ok!\n100%\r\n");
  EXPECT_EQ(CaptureStdout([] { FlushReplyBuffer(); }), "");
}

TEST(Reply, DiagnosticsBeginningWithHashAreDropped) {
  g_reply_buffer.clear();
  PrintReply("#auto compression level %d\n", 3);
  PrintReplyText("#progress");
  EXPECT_EQ(g_reply_buffer, "");
  PrintReply("a #b\n");
  PrintReplyText("c#");
  EXPECT_EQ(g_reply_buffer, "a #b\nc#");
  g_reply_buffer.clear();
}

TEST(Reply, VeryLongFormattedTextIsCut) {
  g_reply_buffer.clear();
  const std::string big(100000, 'x');
  PrintReply("%s", big.c_str());
  EXPECT_EQ(g_reply_buffer.size(), kMaxFormattedText);
  g_reply_buffer.clear();
}

TEST(Console, LinesAreWrittenAsFormatted) {
  EXPECT_EQ(CaptureStdout([] {
              PrintConsole("SOLVER: %s\n", "started");
              PrintConsole("#%d iterations\n", 5);
              PrintConsole("no line end");
              PrintConsoleAndFlush("\nSOLVER: stopped (x)\n");
            }),
            "SOLVER: started\nno line end\nSOLVER: stopped (x)\n");
}

TEST(Console, WindowsErrorTextIsEmptyWithoutAnError) {
  errno = 0;
  EXPECT_EQ(GetWindowsErrorText(), "");
  errno = ENOENT;
  EXPECT_EQ(GetWindowsErrorText(), "No such file or directory");
}

TEST(FailDeathTest, PrintsItsLineAndExitsWithOne) {
  // Death tests re-run the binary, so the file name must come out the same in
  // the child: derive it from the binary's own path.
  const std::string path = ::testing::TempDir() + "tdx_fail_" +
                           std::to_string(std::hash<std::string>{}(program_invocation_name)) + ".txt";
  EXPECT_EXIT(
      {
        RedirectStdoutToFile(path, false);
        g_reply_buffer = "unflushed reply";
        std::printf("before ");
        Fail("not open");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(ReadFile(path), "before fail (not open)\n");
  EXPECT_EXIT(
      {
        RedirectStdoutToFile(path, false);
        Fail();
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(ReadFile(path), "fail\n");
}
