#include "store/store_constants.h"

#include <cfloat>

// All constant-initialised, so they hold their values before any dynamic
// initialiser of another file can read them.
const int32_t g_card_value_scale = 150;
const float g_flt_min = FLT_MIN;

std::atomic<int64_t> g_stat_raw_bytes{0};
std::atomic<int64_t> g_stat_compressed_bytes{0};
std::atomic<int64_t> g_stat_max_symbol{0};
std::atomic<int64_t> g_storage_read_bytes{0};
std::atomic<int64_t> g_storage_write_bytes{0};
std::atomic<double> g_last_accumulation_weight{0.0};
