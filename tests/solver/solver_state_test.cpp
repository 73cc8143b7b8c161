#include "solver/solver_state.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(SolverState, NewStateStartsEmpty) {
  SolverState state(1, 0);
  EXPECT_TRUE(state.nodes.empty());
  EXPECT_EQ(state.storage_kind, 1);
  EXPECT_EQ(state.flags, static_cast<uint32_t>(NEW_TREE));
  EXPECT_EQ(state.iterations, 0);
  EXPECT_EQ(state.last_results_iteration, -1);
  EXPECT_GE(state.result_cache.bucket_count(), 8u);
  EXPECT_EQ(state.result_cache.max_load_factor(), 1.0f);
  EXPECT_EQ(state.exploitability, 0.0);
  SolverState other(0, 2);
  EXPECT_EQ(other.storage_kind, 0);
  EXPECT_EQ(other.deal_flag, 2);
}

TEST(SolverState, FreeSolverStateClearsTheCurrentTree) {
  ASSERT_EQ(g_solver_state, nullptr);
  g_solver_state = std::make_unique<SolverState>(1, 0);
  g_solver_state->nodes.emplace_back().card_records = std::make_unique<CardRecord[]>(1);
  g_solver_state->result_cache[7] = std::make_unique<NumArrayPair>();
  g_solver_state->result_cache[7]->arrays[0].Resize(1326);
  FreeSolverState();
  EXPECT_EQ(g_solver_state, nullptr);
  FreeSolverState();
  EXPECT_EQ(g_solver_state, nullptr);
}

}  // namespace
