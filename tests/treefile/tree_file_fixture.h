#pragma once
// Shared set-up of the tree-file tests: a scratch directory for the files,
// one solver thread, spots built and solved through the commands, and the
// bytes of files and stores to compare.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compress/compression_level.h"
#include "platform/byte_io.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

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
    char pattern[] = "/tmp/tdx_tree_file_XXXXXX";
    dir_ = mkdtemp(pattern);
    // One thread: every pass adds in one order, so runs split anyhow are the
    // same arithmetic.
    ASSERT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
  }
  void TearDown() override {
    StopSolverAndWait();
    g_thread_count = saved_threads_;
    TreeBuildTest::TearDown();
    const std::string command = "rm -rf " + dir_;
    (void)!std::system(command.c_str());
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
