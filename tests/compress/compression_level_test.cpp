#include "compress/compression_level.h"

#include <gtest/gtest.h>

namespace {

TEST(CompressionLevel, LevelsFromNeedAndBudget) {
  const int32_t two_suits = 2;
  const int32_t rainbow = 3;
  EXPECT_EQ(ChooseCompressionLevel(99, 100, rainbow), 0);
  EXPECT_EQ(ChooseCompressionLevel(100, 100, rainbow), 1);  // equal is not below
  EXPECT_EQ(ChooseCompressionLevel(1000, 581, two_suits), 1);
  EXPECT_EQ(ChooseCompressionLevel(1000, 580, two_suits), 2);
  EXPECT_EQ(ChooseCompressionLevel(1000, 350, two_suits), 3);
  EXPECT_EQ(ChooseCompressionLevel(1000, 350, rainbow), 2);
  EXPECT_EQ(ChooseCompressionLevel(1000, 300, rainbow), 3);
  EXPECT_EQ(ChooseCompressionLevel(1000, 248, rainbow), 4);
  EXPECT_EQ(ChooseCompressionLevel(1000, 310, two_suits), 4);
  EXPECT_EQ(CompressionBudget(1000, 20), 680);
  EXPECT_EQ(CompressionBudget(1000, 0), 850);
  const int32_t expected_kinds[6][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}, {0, 0}};
  for (int level = 0; level <= 5; ++level) {
    EXPECT_EQ(LevelToCompressionKinds(level).regret_kind, expected_kinds[level][0]);
    EXPECT_EQ(LevelToCompressionKinds(level).strategy_kind, expected_kinds[level][1]);
  }
  EXPECT_EQ(LevelToCompressionKinds(-1).regret_kind, 0);
}

}  // namespace
