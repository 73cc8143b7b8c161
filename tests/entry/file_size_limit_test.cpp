// The engine under a file-size limit: a write past it must fail like any other
// write, not kill the process with SIGXFSZ.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/process_runner.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST(FileSizeLimit, ADumpPastTheLimitIsRefusedAndTheSessionGoesOn) {
  const std::string dir = MakeTempDir();
  const std::string example = ReadFile(std::string(TDX_SOURCE_DIR) + "/examples/river_solve.txt");
  const std::string build = example.substr(0, example.find("node_count"));
  ASSERT_EQ(RunProcess(TDX_ENGINE_PATH, {}, build + "dump_tree old.tree\n", dir, 120).exit_code, 0);
  const std::string old_bytes = ReadFile(dir + "/old.tree");
  ASSERT_GT(old_bytes.size(), 100'000u);

  // Replies redirected to a file stop at the limit too, without a word.
  std::string script = "load_tree old.tree\ndump_tree old.tree\nstdoutredi replies.txt\n";
  for (int k = 0; k < 10; ++k) script += "show_strategy r:0\n";
  ProcessOptions options;
  options.file_size_bytes = 50'000;
  const ProcessResult run =
      RunProcess(TDX_ENGINE_PATH, {}, script + "stdoutback\nis_ready\n", dir, 120, options);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("load_tree ok!\nERROR: dump_tree can't write to file (File too large)\n"
                         "stdoutback ok!\nis_ready ok!\n"),
            std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(dir + "/old.tree"), old_bytes);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2u);  // old.tree and replies.txt, no temporary file
}
