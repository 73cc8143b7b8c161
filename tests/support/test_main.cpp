// Test entry: the start-up steps the engine's tables need, then every test.
#include <gtest/gtest.h>

#include "platform/cpu_features.h"

int main(int argc, char** argv) {
  InitCpuFeatures();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
