#include "compress/compression_level.h"

int32_t g_compression_setting = -1;
int32_t g_compression_level = 0;

CompressionKinds LevelToCompressionKinds(int32_t level) {
  switch (level) {
    case 1:
      return {0, 1};
    case 2:
      return {1, 1};
    case 3:
      return {1, 2};
    case 4:
      return {2, 2};
    default:
      return {0, 0};
  }
}

int64_t CompressionBudget(uint64_t total_bytes, uint32_t load_percent) {
  const double free_share = 100.0 - static_cast<double>(load_percent > 100 ? 100 : load_percent);
  const uint64_t free_bytes =
      static_cast<uint64_t>(static_cast<double>(total_bytes) * free_share / 100.0);
  return static_cast<int64_t>(static_cast<double>(free_bytes) * 0.85);
}

int32_t ChooseCompressionLevel(int64_t need, int64_t budget, int32_t flop_suits) {
  if (need < budget) return 0;
  const bool rainbow = flop_suits == 3;
  const double second = rainbow ? 0.39 * 0.8 : 0.39;
  const double third = rainbow ? 0.31 * 0.8 : 0.31;
  const double b = static_cast<double>(budget), n = static_cast<double>(need);
  if (b > n * 0.58) return 1;
  if (b > n * second) return 2;
  if (b > n * third) return 3;
  return 4;
}
