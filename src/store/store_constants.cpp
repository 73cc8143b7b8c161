#include "store/store_constants.h"

#include <cfloat>

// All constant-initialised, so they hold their values before any dynamic
// initialiser of another file can read them.
const int32_t g_card_value_scale = 150;
const float g_flt_min = FLT_MIN;

std::atomic<double> g_last_accumulation_weight{0.0};
