// Preparing a built tree for the solver: the constants by root street, the
// coder kinds kept for flop-rooted trees only, and the progress reset.
#include "solver/solver_preparation.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "solver/solver_constants.h"
#include "store/store_constants.h"
#include "tree/build_fixture.h"

namespace {

using SolverPreparation = TreeBuildTest;

TEST_F(SolverPreparation, PreparationConstantsByRootStreet) {
  FullRanges();
  Situation("As Kd 7h", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  PrepareSolver({2, 1});
  EXPECT_EQ(g_iteration_cap, 9000);
  EXPECT_EQ(g_discount_exponent, 1.5);
  EXPECT_EQ(g_discount_cap, 262143.0);
  EXPECT_EQ(g_early_river_iterations, 30u);
  EXPECT_EQ(State().coder_kinds[0], 2);
  EXPECT_EQ(State().coder_kinds[1], 1);

  Situation("As Kd 7h 4c", {});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  PrepareSolver({1, 2});
  EXPECT_EQ(g_discount_exponent, 1.5);
  EXPECT_EQ(g_discount_cap, 262143.0);
  EXPECT_EQ(g_early_river_iterations, 0u);
  EXPECT_EQ(State().coder_kinds[0], 0);
  EXPECT_EQ(State().coder_kinds[1], 0);

  Situation("As Kd 7h 4c 2d", {});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  EXPECT_EQ(g_discount_exponent, 4.0);  // the build sets them already
  EXPECT_EQ(g_discount_cap, DBL_MAX);
  State().iterations = 77;
  State().stores_allocated = 1;
  g_storage_read_bytes = 5;
  PrepareSolver({2, 2});
  EXPECT_EQ(g_discount_exponent, 4.0);
  EXPECT_EQ(g_discount_cap, DBL_MAX);
  EXPECT_EQ(g_early_river_iterations, 30u);  // follows the kinds asked for
  EXPECT_EQ(State().coder_kinds[0], 0);
  EXPECT_EQ(State().coder_kinds[1], 0);
  EXPECT_EQ(State().iterations, 0);
  EXPECT_EQ(State().stores_allocated, 0);
  EXPECT_EQ(g_storage_read_bytes, 0);
  EXPECT_DOUBLE_EQ(State().payoff_scale, 125.0 / 60.0);
}

}  // namespace
