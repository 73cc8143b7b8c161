// Test entry: the start-up steps the engine's tables need, then every test.
#include <gtest/gtest.h>

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "commands/command_table.h"
#include "platform/cpu_features.h"

int main(int argc, char** argv) {
  InitCpuFeatures();
  if (!InitHandEvaluator()) return 1;
  BuildComboTables();
  InstallCommands();
  ::testing::InitGoogleTest(&argc, argv);
  // The suite starts OpenMP threads; death tests must re-run the binary.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
