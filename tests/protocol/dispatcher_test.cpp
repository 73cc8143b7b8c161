// The dispatcher with a table of its own: refusals named after the line's own
// word (or not at all) and cut like every refusal, the installed table alone
// deciding what is a command, and the exit hook run before the engine ends.
#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "commands/command_table.h"
#include "protocol/command_error.h"
#include "protocol/reply.h"
#include "support/engine_harness.h"

namespace {

void Refuse(const WordList&) { ThrowRefusal("for a reason"); }
void RefuseUnnamed(const WordList&) { ThrowUnnamedRefusal("bad text"); }
void RefuseAtLength(const WordList&) { ThrowRefusal(std::string(400, 'x')); }
void Inner(const WordList& words) { PrintOkReply(words[0]); }
// Runs a line of its own first, as load_script does, then refuses.
void Outer(const WordList&) {
  DispatchCommandLine({"inner"});
  ThrowRefusal("after the inner line");
}

const CommandEntry kRows[] = {
    {"refuse", Refuse, 1}, {"unnamed", RefuseUnnamed, -1}, {"long", RefuseAtLength, 1},
    {"inner", Inner, 1},   {"outer", Outer, 1},
};

class OwnTable : public ::testing::Test {
 protected:
  void SetUp() override { InstallCommandTable(kRows); }
  void TearDown() override { InstallCommands(); }
};

}  // namespace

TEST_F(OwnTable, RefusalsNameTheWordOfTheirOwnLine) {
  EXPECT_EQ(RunLine("refuse"), "ERROR: refuse for a reason\n");
  EXPECT_EQ(RunLine("unnamed x y"), "ERROR: bad text\n");
  // The inner line changed the current command name; the refusal still names
  // the line that raised it.
  EXPECT_EQ(RunLine("outer"), "inner ok!\nERROR: outer after the inner line\n");
  EXPECT_EQ(g_command_name, "inner");
}

TEST_F(OwnTable, RefusalRepliesAreCutLikeEveryRefusal) {
  EXPECT_EQ(RunLine("long"), ("ERROR: long " + std::string(400, 'x')).substr(0, 255));
}

TEST_F(OwnTable, OnlyTheInstalledTableHoldsCommands) {
  EXPECT_EQ(RunLine("is_ready"), "ERROR: Command is_ready not recognized\n");
  EXPECT_EQ(RunLine("refuse 1"), "ERROR: refuse incorrect or missing argument\n");
  InstallCommandTable({});
  EXPECT_EQ(RunLine("refuse"), "ERROR: Command refuse not recognized\n");
  EXPECT_EQ(FindCommandRow(kRows, "outer"), &kRows[4]);
  EXPECT_EQ(FindCommandRow(kRows, "Outer"), nullptr);
}

TEST(DispatcherDeathTest, ExitRunsTheHookThenEndsWithTheCode) {
  EXPECT_EXIT(
      {
        SetExitHook([] { std::fputs("hook ran\n", stderr); });
        RunLine("exit");
      },
      ::testing::ExitedWithCode(0), "hook ran");
  EXPECT_EXIT(
      {
        SetExitHook([] { std::fputs("hook ran\n", stderr); });
        ExitEngine(3);
      },
      ::testing::ExitedWithCode(3), "hook ran");
}
