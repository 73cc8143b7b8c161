// The compression level on solved trees: every level solves the same game,
// levels that keep the same number forms give the same replies, and trees
// rooted on the turn or the river keep uncompressed stores.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>
#include <vector>

#include "compress/compression_level.h"
#include "platform/memory_status.h"
#include "solver/accuracy_settings.h"
#include "solver/solver_preparation.h"
#include "solver/progress_history.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "store/block_store.h"
#include "support/engine_harness.h"
#include "support/file_bytes.h"
#include "support/process_runner.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "tree/build_fixture.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

using reference_game::MakeClassSpot;
using reference_game::Spot;
using solver_spots::FlopSpot;

// A turn-rooted spot with a bet, a raise and a river bet.
Spot SmallTurnSpot() {
  return MakeClassSpot("Kh9h4h2c", {"AA", "QQ", "AKs", "T9s:0.5"}, {"KQs", "JJ", "TT:0.8", "99"}, 60,
                       {{30, 90}, {0, 30}, {0, 0, 40}, {0, 0, 0, 0}});
}


class CompressionLevels : public TreeBuildTest {
 protected:
  void SetUp() override {
    TreeBuildTest::SetUp();
    saved_threads_ = g_thread_count.load();
  }
  void TearDown() override {
    StopSolverAndWait();
    g_thread_count = saved_threads_;
    SetAccuracyTarget(0.0);
    TreeBuildTest::TearDown();
  }

  // The spot built at the level and solved on one thread for `steps`
  // iterations; the replies of calc_results and get_actual_compression.
  static std::string SolvedReplies(const Spot& spot, int level, int steps) {
    EXPECT_EQ(RunLine("set_compression " + std::to_string(level)), "set_compression ok!\n");
    EXPECT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
    const std::string setup = RunLines(reference_game::EngineScript(spot));
    EXPECT_EQ(setup.find("ERROR"), std::string::npos) << setup.substr(0, 200);
    EXPECT_EQ(RunLine("build_tree"), "build_tree ok!\n");
    SetAccuracyTarget(-1.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunLine("go " + std::to_string(steps) + " steps"), "go ok!\n");
    WaitForSolver();
    testing::internal::GetCapturedStdout();
    return RunLine("calc_results") + RunLine("get_actual_compression");
  }

  // How the river stores of the tree keep their values: counts of block
  // stores by (kind, width) and of other stores.
  static std::vector<int> RiverStoreClasses() {
    std::vector<int> counts(5, 0);
    for (TreeNode& node : g_solver_state->nodes) {
      if (node.kind != DECISION_NODE || node.street != STREET_RIVER) continue;
      for (NodeStore* store : {node.regret_store.get(), node.strategy_store.get()}) {
        BlockStore* block = store ? store->AsBlockStore() : nullptr;
        if (!block) {
          ++counts[4];
          continue;
        }
        const int wide = block->width() == BlockStore::Width::BITS32;
        ++counts[(static_cast<int>(block->kind()) - 1) * 2 + wide];
      }
    }
    return counts;
  }

  int32_t saved_threads_ = 0;
};

TEST_F(CompressionLevels, EveryLevelSolvesTheSameSpot) {
  const Spot spot = FlopSpot();
  // Past iteration 60, where the strategy sums begin.
  constexpr int kSteps = 90;
  std::vector<std::string> replies;
  std::vector<std::vector<double>> figures;
  for (int level = 0; level <= 4; ++level) {
    replies.push_back(SolvedReplies(spot, level, kSteps));
    ProgressRecord r{};
    ASSERT_TRUE(ComputeResults(&r));
    figures.push_back({r.ev_oop, r.ev_ip, r.mes_oop, r.mes_ip, r.exploitability});
    EXPECT_NE(replies.back().find("compression " + std::to_string(level) + "\n"),
              std::string::npos);
    // Regrets: kind 0 arena, 1 packed, 2 coded (16-bit); sums likewise (32-bit).
    const CompressionKinds kinds = LevelToCompressionKinds(level);
    const std::vector<int> classes = RiverStoreClasses();
    const int river_nodes = (classes[0] + classes[1] + classes[2] + classes[3] + classes[4]) / 2;
    ASSERT_GT(river_nodes, 0);
    EXPECT_EQ(classes[0] + classes[2] == river_nodes, kinds.regret_kind != 0) << level;
    EXPECT_EQ(classes[1] + classes[3] == river_nodes, kinds.strategy_kind != 0) << level;
    EXPECT_EQ(classes[2] == river_nodes, kinds.regret_kind == 2) << level;
    EXPECT_EQ(classes[3] == river_nodes, kinds.strategy_kind == 2) << level;
  }
  // Levels 1 to 3 keep 16-bit regrets and 32-bit integer sums, only coded
  // differently: the same replies, and the same figures to the last bit.
  for (int level = 2; level <= 3; ++level) {
    EXPECT_EQ(replies[static_cast<size_t>(level)].substr(0, replies[1].find("compression")),
              replies[1].substr(0, replies[1].find("compression")));
    EXPECT_EQ(figures[static_cast<size_t>(level)], figures[1]) << "level " << level;
  }
  // Level 0 keeps float sums, level 4 averages the river regrets of early
  // iterations by hand groups: close, not equal.
  for (int level = 1; level <= 4; ++level)
    for (size_t k = 0; k < 5; ++k)
      EXPECT_NEAR(figures[static_cast<size_t>(level)][k], figures[0][k], 0.001 * spot.pot)
          << "level " << level << ", figure " << k;
}

TEST_F(CompressionLevels, TurnRootedTreesStayUncompressed) {
  const Spot spot = SmallTurnSpot();
  const std::string reply = SolvedReplies(spot, 4, 3);
  // The level is recorded and reported; the stores keep their classes.
  EXPECT_NE(reply.find("compression 4\n"), std::string::npos);
  EXPECT_EQ(g_solver_state->coder_kinds[0], 0);
  EXPECT_EQ(g_solver_state->coder_kinds[1], 0);
  const std::vector<int> classes = RiverStoreClasses();
  EXPECT_EQ(classes[0] + classes[1] + classes[2] + classes[3], 0);
  EXPECT_GT(classes[4], 0);
}

// set_compression on a present tree makes its stores anew at the level.
TEST_F(CompressionLevels, SettingALevelRemakesTheStores) {
  const Spot spot = FlopSpot();
  SolvedReplies(spot, 0, 2);
  EXPECT_EQ(RiverStoreClasses()[0], 0);
  EXPECT_EQ(RunLine("zk4_set_compression high"), "zk4_set_compression ok!\n");
  EXPECT_EQ(RunLine("zk4_get_actual_compression"), "compression 3\n");
  EXPECT_EQ(g_solver_state->iterations, 0);
  const std::vector<int> classes = RiverStoreClasses();
  EXPECT_GT(classes[0], 0);  // packed 16-bit regrets
  EXPECT_GT(classes[3], 0);  // coded 32-bit sums
  EXPECT_EQ(classes[0], classes[3]);
  // Without a tree only the wish changes.
  FreeSolverState();
  g_tree_present = 0;
  EXPECT_EQ(RunLine("set_compression medium"), "set_compression ok!\n");
  EXPECT_EQ(g_compression_setting, 2);
  EXPECT_EQ(RunLine("get_actual_compression"), "compression 3\n");
}

// A tree file carries its level; one outside 0 ... 4 is refused, and the
// engine never keeps it in force.
TEST_F(CompressionLevels, TreeFilesWithLevelsOutOfRangeAreRefused) {
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const Spot spot = SmallTurnSpot();
  // A turn-rooted tree keeps the same stores at every level: its files at
  // levels 0 and 4 differ in the level alone.
  std::vector<uint8_t> files[2];
  for (int k = 0; k < 2; ++k) {
    SolvedReplies(spot, k * 4, 2);
    const std::string path = dir + "/level" + std::to_string(k);
    ASSERT_EQ(RunLine("dump_tree " + path), "dump_tree ok!\n");
    files[k] = ReadFileBytes(path);
  }
  ASSERT_EQ(files[0].size(), files[1].size());
  size_t at = 0;
  while (at < files[0].size() && files[0][at] == files[1][at]) ++at;
  ASSERT_LT(at, files[0].size());
  int32_t level = 0;
  std::memcpy(&level, files[1].data() + at, sizeof level);
  ASSERT_EQ(level, 4);
  for (int32_t bad : {5, -1, 1 << 20}) {
    std::vector<uint8_t> bytes = files[1];
    std::memcpy(bytes.data() + at, &bad, sizeof bad);
    const std::string path = dir + "/bad";
    WriteFileBytes(path, bytes);
    EXPECT_NE(RunLine("load_tree " + path).find("ERROR: load_tree invalid file"), std::string::npos)
        << bad;
    EXPECT_EQ(g_solver_state, nullptr);
    EXPECT_TRUE(IsCompressionLevel(g_compression_level));
  }
  EXPECT_EQ(RunLine("load_tree " + dir + "/level1"), "load_tree ok!\n");
  EXPECT_EQ(RunLine("get_actual_compression"), "compression 4\n");
}

// What the tree's stores hold: the values of the uncompressed ones at their
// element size (float rows on the flop and turn), and the blocks' bytes.
uint64_t StoreBytes() {
  uint64_t bytes = 0;
  for (TreeNode& node : g_solver_state->nodes)
    for (NodeStore* store : {node.regret_store.get(), node.strategy_store.get()}) {
      if (!store) continue;
      if (BlockStore* block = store->AsBlockStore())
        bytes += static_cast<uint64_t>(block->BlockBytes());
      else if (store->AsArenaStore16())
        bytes += 2 * static_cast<uint64_t>(store->GetValueCount(-1));
      else
        bytes += 4 * static_cast<uint64_t>(store->GetValueCount(-1));
    }
  return bytes;
}

// The automatic level under a faked memory figure: the level the rule gives
// for the budget, whose stores, once solved, fit that budget (level 4, the
// last resort, only has to be the smallest).
TEST_F(CompressionLevels, AutomaticLevelFitsTheBudget) {
  const Spot spot = FlopSpot();
  SolvedReplies(spot, 0, 1);
  const std::unique_ptr<StorageCounterBlock> counters = CopyStorageCounters();
  ASSERT_NE(counters, nullptr);
  const int64_t need =
      static_cast<int64_t>(counters->totals[1] + counters->totals[2] + counters->totals[3]);
  ASSERT_GT(need, 0);
  struct Case {
    double share;  // budget / need
    int32_t level;
  };
  uint64_t previous = UINT64_MAX;
  for (const Case& c : {Case{1.5, 0}, Case{0.7, 1}, Case{0.5, 2}, Case{0.35, 3}, Case{0.2, 4}}) {
    const uint64_t total = 2 * static_cast<uint64_t>(need);
    const uint64_t available = static_cast<uint64_t>(c.share * static_cast<double>(need) / 0.85) + 1;
    SetMemoryStatusOverride(total, available);
    MemoryStatus status;
    ASSERT_TRUE(QueryMemoryStatus(&status));
    const int64_t budget = CompressionBudget(status.total_bytes, status.load_percent);
    const std::string reply = RunLine("set_compression auto");
    SetMemoryStatusOverride(0, 0);
    EXPECT_EQ(reply, "set_compression ok!\n");  // the "#auto" line never shows
    EXPECT_EQ(g_compression_level, c.level) << c.share;
    EXPECT_NEAR(static_cast<double>(budget) / static_cast<double>(need), c.share, 0.02);

    SetAccuracyTarget(-1.0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunLine("go 70 steps"), "go ok!\n");
    WaitForSolver();
    testing::internal::GetCapturedStdout();
    const uint64_t held = StoreBytes();
    if (c.level < 4) {
      EXPECT_LE(held, static_cast<uint64_t>(budget)) << "level " << c.level;
    }
    EXPECT_LT(held, previous) << "level " << c.level;
    previous = held;
  }
  EXPECT_EQ(g_compression_setting, -1);
}

}  // namespace
