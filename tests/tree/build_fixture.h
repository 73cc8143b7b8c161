#pragma once
// Shared set-up of the tree-building tests: a clean situation before and after
// each test, and short ways to state ranges, board, pot and lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "compress/compression_level.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

class TreeBuildTest : public ::testing::Test {
 public:
  void SetUp() override { ResetSituation(); }
  // A run still going would solve a freed tree.
  void TearDown() override {
    StopSolverAndWait();
    ResetSituation();
  }

  static void ResetSituation() {
    FreeSolverState();
    g_tree_present = 0;
    g_tree_without_values = 0;
    RunLine("clear_lines");
    g_ranges[0].clear();
    g_ranges[1].clear();
    g_board_flop = g_board_turn = g_board_river = 0;
    g_pot[0] = g_pot[1] = 0.0;
    g_pot[2] = 100.0;
    const uint8_t iso[4] = {1, 1, 0, 0};
    for (int s = 0; s < 4; ++s) g_isomorphism_by_street[s] = iso[s];
    // A fixed level keeps the builds independent of the machine's memory.
    g_compression_setting = 0;
    g_compression_level = 0;
  }

  static void FullRanges(double weight = 1.0) {
    g_ranges[0].assign(kComboCount, weight);
    g_ranges[1].assign(kComboCount, weight);
  }

  // "AhKh" -> its ComboIndex.
  static int Combo(const char* cards) {
    const CardMask mask = ParseCardText(cards);
    return ComboIndexOfCards(__builtin_ctzll(mask), 63 - __builtin_clzll(mask));
  }

  static std::string Run(const std::string& line) { return RunLine(line); }

  static void Situation(const char* board, const std::vector<std::string>& lines) {
    ASSERT_EQ(Run(std::string("set_board ") + board), "set_board ok!\n");
    for (const std::string& line : lines) ASSERT_EQ(Run("add_line " + line), "add_line ok!\n");
  }

  // The spot's set-up lines through the protocol (with set_isomorphism 0 0
  // first unless isomorphism_off is false), then build_tree.
  static void BuildSpot(const reference_game::Spot& spot, bool isomorphism_off = true) {
    for (const std::string& line : reference_game::EngineCommands(spot, isomorphism_off))
      ASSERT_NE(Run(line).find("ok!"), std::string::npos) << line.substr(0, 40);
    ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  }

  // The same, then every store's values allocated, as go does before its first
  // iteration.
  static void BuildSpotWithValues(const reference_game::Spot& spot, bool isomorphism_off = true) {
    ASSERT_NO_FATAL_FAILURE(BuildSpot(spot, isomorphism_off));
    ASSERT_TRUE(AllocateStoreValues(State()));
  }

  // Iterations as the solver thread makes them, on this thread.
  static void RunIterations(int iterations) {
    ASSERT_TRUE(AllocateStoreValues(State()));
    for (int i = 0; i < iterations; ++i) RunSolverIteration(&State());
  }

  static SolverState& State() { return *g_solver_state; }
};
