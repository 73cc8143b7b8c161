#include "compress/storage_counters.h"

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
