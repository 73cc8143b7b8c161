#pragma once
#include <atomic>
#include <cstdint>

#include "compress/storage_counters.h"  // the blocks' storage and statistics counters

// Program-wide values of the node stores, fixed before the command loop starts.

// Divisor of the signed 16-bit per-card values that a tree file carries.
extern const int32_t g_card_value_scale;  // 150
// Smallest positive normal float (2^-126): an action sum below it counts as zero
// when a store turns its values into a strategy, and the defaults are used.
extern const float g_flt_min;

// The last weight a block-compressed river store was given to add strategy sums
// with; the block store records it, only the benchmark routine reads it.
extern std::atomic<double> g_last_accumulation_weight;
