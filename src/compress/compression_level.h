#pragma once
#include <cstdint>

// How the river stores of a flop-rooted tree keep their values: a level 0 to 4
// chosen by the user or, automatically, from the free physical memory.

// Coder kinds of the two river stores: 0 uncompressed arena store, 1 packed
// blocks, 2 entropy-coded blocks.
struct CompressionKinds {
  int32_t regret_kind = 0;
  int32_t strategy_kind = 0;
};

// The level asked for: -1 automatic (the start value), else 0 to 4.
extern int32_t g_compression_setting;
// The level in force after the last build, load or set_compression.
extern int32_t g_compression_level;

// Whether a level read from outside (a tree file) is one of 0 to 4; the
// engine never keeps another level in force.
constexpr bool IsCompressionLevel(int32_t level) { return level >= 0 && level <= 4; }

// 1 -> (0, 1), 2 -> (1, 1), 3 -> (1, 2), 4 -> (2, 2), anything else -> (0, 0).
CompressionKinds LevelToCompressionKinds(int32_t level);

// The memory a tree may use: total x (100 - load) / 100 as whole bytes, x 0.85.
int64_t CompressionBudget(uint64_t total_bytes, uint32_t load_percent);

// The level for a tree that needs `need` bytes uncompressed within `budget`
// bytes: 0 when it fits, else the lightest level whose share of the need fits
// (a rainbow flop, `flop_suits` 3, compresses better, so its two lower shares
// are smaller).
int32_t ChooseCompressionLevel(int64_t need, int64_t budget, int32_t flop_suits);
