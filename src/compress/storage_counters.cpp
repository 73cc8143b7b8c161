#include "compress/storage_counters.h"

#include <cstdint>

// Constant-initialised: they hold 0 before any dynamic initialiser runs.
std::atomic<int64_t> g_storage_write_bytes{0};
std::atomic<int64_t> g_storage_read_bytes{0};
std::atomic<int64_t> g_stat_raw_bytes{0};
std::atomic<int64_t> g_stat_compressed_bytes{0};
std::atomic<int64_t> g_stat_max_symbol{0};

void RaiseMaxSymbol(int64_t symbol) {
  int64_t seen = g_stat_max_symbol.load(std::memory_order_relaxed);
  while (symbol > seen &&
         !g_stat_max_symbol.compare_exchange_weak(seen, symbol, std::memory_order_relaxed)) {
  }
}

int32_t StorageRateMBs(int64_t bytes, double seconds) {
  if (!(seconds > 0.0)) return 0;
  const double rate = static_cast<double>(bytes) / seconds / 1024.0 / 1024.0;
  if (!(rate < 2147483647.0)) return rate > 0.0 ? INT32_MAX : 0;
  return rate > -2147483648.0 ? static_cast<int32_t>(rate) : INT32_MIN;
}
