#pragma once
// Shared set-up of the tree-file tests: a scratch directory for the files,
// one solver thread, spots built and solved through the commands, and the
// bytes of files and stores to compare.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compress/compression_level.h"
#include "platform/byte_io.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/file_bytes.h"
#include "support/process_runner.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"

// Every store of every node, as the stores write themselves.
inline std::vector<std::vector<uint8_t>> StoreBytes() {
  std::vector<std::vector<uint8_t>> out;
  for (TreeNode& node : g_solver_state->nodes) {
    MemoryWriter w;
    if (node.regret_store) node.regret_store->Write(w);
    if (node.strategy_store) node.strategy_store->Write(w);
    out.push_back(w.Bytes());
  }
  return out;
}

class TreeFileFixture : public TreeBuildTest {
 protected:
  void SetUp() override {
    TreeBuildTest::SetUp();
    saved_threads_ = g_thread_count.load();
    // Removed with its files when the test process ends.
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    // One thread: every pass adds in one order, so runs split anyhow are the
    // same arithmetic.
    ASSERT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
  }
  void TearDown() override {
    StopSolverAndWait();
    g_thread_count = saved_threads_;
    TreeBuildTest::TearDown();
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The spot's set-up lines, then build_tree at the compression level.
  static void Build(const reference_game::Spot& spot, int level = 0) {
    g_compression_setting = level;
    const std::string replies = RunLines(reference_game::EngineScript(spot));
    ASSERT_EQ(replies.find("ERROR"), std::string::npos) << replies.substr(0, 200);
    ASSERT_EQ(RunLine("build_tree"), "build_tree ok!\n");
  }
  static void Solve(int steps) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunLine("go " + std::to_string(steps) + " steps"), "go ok!\n");
    WaitForSolver();
    testing::internal::GetCapturedStdout();
  }

  std::string dir_;
  uint32_t saved_threads_ = 0;
};
