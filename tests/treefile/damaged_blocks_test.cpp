// Tree files whose coded river blocks are damaged: the blocks are decoded only
// when a pass opens them, where damage ends the process with "fse error". The
// load decodes them once, so such a file is refused by load_tree and a file
// that loads can be solved on. Run in a child engine: a process that ends is
// what this looks for.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/file_bytes.h"
#include "support/process_runner.h"
#include "support/reference_game.h"

namespace {

TEST(DamagedRiverBlocks, RefusedByTheLoadNeverMetByThePasses) {
  // Removed with its files when the test process ends.
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const auto flop = reference_game::MakeClassSpot(
      "Kh9h4s", {"AA", "KK", "QQ", "44", "AKs", "AQs", "K9s", "T9s", "76s", "AKo", "KQo"},
      {"JJ", "TT", "99", "AJs", "KQs", "KJs", "QJs", "87s", "65s", "AQo", "A9o"}, 60,
      {{20, 60}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0, 40}, {0, 0, 0, 0, 0, 0}});
  // Level 4: regrets and strategy sums of the rivers are FSE-coded; past 60
  // iterations the passes read both.
  const std::string solve = "set_compression max\n" + reference_game::EngineScript(flop) +
                            "build_tree\nset_threads 2\ngo 70 steps\nwait_for_solver\ndump_tree " +
                            dir + "/real.tree\n";
  const ProcessResult made = RunProcess(TDX_ENGINE_PATH, {}, solve);
  ASSERT_EQ(made.exit_code, 0) << made.out;
  ASSERT_NE(made.out.find("dump_tree ok!"), std::string::npos) << made.out;
  const std::vector<uint8_t> real = ReadFileBytes(dir + "/real.tree");
  ASSERT_GT(real.size(), 40000u);

  // Bits flipped in the back half of the file, where the river blocks lie.
  std::mt19937 random(7);
  int refused = 0;
  int loaded = 0;
  for (int round = 0; round < 24; ++round) {
    std::vector<uint8_t> bytes = real;
    for (int k = 1 + static_cast<int>(random() % 3); k > 0; --k)
      bytes[real.size() / 2 + random() % (real.size() / 2)] ^= static_cast<uint8_t>(1u << (random() % 8));
    WriteFileBytes(dir + "/damaged.tree", bytes);
    const ProcessResult run = RunProcess(
        TDX_ENGINE_PATH, {},
        "set_threads 2\nload_tree " + dir + "/damaged.tree\ngo 3 steps\nwait_for_solver\n"
        "calc_results\necho done\n");
    ASSERT_EQ(run.exit_code, 0) << "round " << round << "\n" << run.out;
    EXPECT_EQ(run.out.find("\nfse error\n"), std::string::npos) << "round " << round << "\n"
                                                                   << run.out;
    EXPECT_NE(run.out.find("done"), std::string::npos) << "round " << round;
    if (run.out.find("load_tree ok!") != std::string::npos)
      ++loaded;
    else if (run.out.find("ERROR: load_tree ") != std::string::npos)
      ++refused;
  }
  // Most damage lands in a coded stream and is caught; some only changes
  // values.
  EXPECT_GT(refused, 0) << loaded << " loaded";
  EXPECT_EQ(refused + loaded, 24);
}

}  // namespace
