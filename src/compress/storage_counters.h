#pragma once
#include <atomic>
#include <cstdint>

// What the compressed blocks have moved, program-wide, added to from any thread
// by atomic operations as each block finishes a write or a read.

// Bytes written into and read out of blocks since the solver was last prepared
// (the "#storage" rates).
extern std::atomic<int64_t> g_storage_write_bytes;
extern std::atomic<int64_t> g_storage_read_bytes;
// Since start-up, for the benchmark routine: raw bytes of the values written,
// block memory committed by finished writes, and the largest escaped token a
// block's encoder met (it only rises).
extern std::atomic<int64_t> g_stat_raw_bytes;
extern std::atomic<int64_t> g_stat_compressed_bytes;
extern std::atomic<int64_t> g_stat_max_symbol;

// The rate of the "#storage" line: bytes / seconds / 2^20, truncated to an
// int (held within its range); 0 for a run without time.
int32_t StorageRateMBs(int64_t bytes, double seconds);

// Raises g_stat_max_symbol to `symbol` when that is greater.
void RaiseMaxSymbol(int64_t symbol);
