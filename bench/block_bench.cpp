// The packed form and the two block kinds on realistic 16-bit rows
// (support/river_rows.h), as a block store writes and reads a turn slot's
// rows: throughput in MB of 16-bit values per second, and the block's size as
// a fraction of those 2-byte values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "compress/packed_block.h"
#include "compress/stream_block.h"
#include "compress/value_packing.h"
#include "support/kernel_bench.h"
#include "support/river_rows.h"

namespace {

const RiverRows* Rows(benchmark::State& state) {
  const RiverRows& rows = TheRiverRows();
  if (!rows.ok) {
    state.SkipWithError("no rows");
    return nullptr;
  }
  return &rows;
}

void Describe(benchmark::State& state, const RiverRows& rows, int64_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(rows.values) * 2);
  state.counters["values"] = static_cast<double>(rows.values);
  state.counters["size_fraction"] = static_cast<double>(bytes) / (2.0 * static_cast<double>(rows.values));
}

// The rows' packed rooms, and their groups of up to eight values.
int64_t PackedRooms16(const RiverRows& rows) {
  int64_t bytes = 0;
  for (const RiverRow& row : rows.rows) bytes += PackedArrayRoom16(static_cast<int64_t>(row.values.size()));
  return bytes;
}
int64_t Groups(const RiverRows& rows) {
  int64_t groups = 0;
  for (const RiverRow& row : rows.rows) groups += (static_cast<int64_t>(row.values.size()) + 7) / 8;
  return groups;
}

// The packed rows back to back in one buffer.
std::vector<uint8_t> PackAll(const RiverRows& rows) {
  std::vector<uint8_t> bytes(static_cast<size_t>(PackedRooms16(rows)));
  uint8_t* at = bytes.data();
  for (const RiverRow& row : rows.rows)
    at = Kernels<ValuePackingKernels>().PackValues16(at, row.values.data(), static_cast<int32_t>(row.values.size()));
  bytes.resize(static_cast<size_t>(at - bytes.data()));
  return bytes;
}

void BM_PackValues16(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  std::vector<uint8_t> bytes;
  for (auto _ : state) {
    bytes = PackAll(*rows);
    benchmark::DoNotOptimize(bytes.data());
  }
  Describe(state, *rows, static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_PackValues16)->Unit(benchmark::kMicrosecond);

void BM_UnpackValues16(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  const std::vector<uint8_t> bytes = PackAll(*rows);
  std::vector<uint16_t> out(1326);
  for (auto _ : state) {
    const uint8_t* at = bytes.data();
    const uint8_t* const end = bytes.data() + bytes.size();
    for (const RiverRow& row : rows->rows)
      at = Kernels<ValuePackingKernels>().UnpackValues16(out.data(), static_cast<int32_t>(row.values.size()), at,
                          static_cast<size_t>(end - at));
    benchmark::DoNotOptimize(at);
    benchmark::ClobberMemory();
  }
  Describe(state, *rows, static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_UnpackValues16)->Unit(benchmark::kMicrosecond);

// The rows widened to 32 bits and scaled, as strategy sums spread over the
// byte, u16 and u32 widths; packed back to back.
struct WideRows {
  std::vector<std::vector<uint32_t>> rows;
  std::vector<uint8_t> packed;
  explicit WideRows(const RiverRows& river) {
    for (const RiverRow& row : river.rows) {
      std::vector<uint32_t> wide(row.values.size());
      for (size_t k = 0; k < wide.size(); ++k) wide[k] = uint32_t{row.values[k]} * 61u;
      rows.push_back(std::move(wide));
    }
    packed.resize(MaxPackedBytes32(static_cast<int64_t>(river.values)) + 32 * rows.size());
    uint8_t* at = packed.data();
    for (const auto& row : rows)
      at = Kernels<ValuePackingKernels>().PackValues32(at, row.data(), static_cast<int32_t>(row.size()));
    packed.resize(static_cast<size_t>(at - packed.data()));
  }
};

void BM_PackValues32(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  const WideRows wide(*rows);
  std::vector<uint8_t> bytes(wide.packed.size() + MaxPackedBytes32(1326));
  for (auto _ : state) {
    uint8_t* at = bytes.data();
    for (const auto& row : wide.rows)
      at = Kernels<ValuePackingKernels>().PackValues32(at, row.data(), static_cast<int32_t>(row.size()));
    benchmark::DoNotOptimize(at);
    benchmark::ClobberMemory();
  }
  Describe(state, *rows, static_cast<int64_t>(wide.packed.size()));
}
BENCHMARK(BM_PackValues32)->Unit(benchmark::kMicrosecond);

void BM_UnpackValues32(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  const WideRows wide(*rows);
  std::vector<uint32_t> out(1326);
  for (auto _ : state) {
    const uint8_t* at = wide.packed.data();
    const uint8_t* const end = wide.packed.data() + wide.packed.size();
    for (const auto& row : wide.rows)
      at = Kernels<ValuePackingKernels>().UnpackValues32(out.data(), static_cast<int32_t>(row.size()), at,
                                                         static_cast<size_t>(end - at));
    benchmark::DoNotOptimize(at);
    benchmark::ClobberMemory();
  }
  Describe(state, *rows, static_cast<int64_t>(wide.packed.size()));
}
BENCHMARK(BM_UnpackValues32)->Unit(benchmark::kMicrosecond);

void WriteBlock(CompressedBlock& block, const RiverRows& rows) {
  block.BeginWrite();
  for (const RiverRow& row : rows.rows)
    block.WriteValues16(row.values.data(), rows.Reference(row), static_cast<int32_t>(row.values.size()));
  block.EndWrite();
}

// Reads into rows back to back, each against the row read before it, as the
// block store decodes into its cache.
void ReadBlock(CompressedBlock& block, const RiverRows& rows, std::vector<uint16_t>& out,
               std::vector<size_t>& starts) {
  block.BeginRead();
  size_t at = 0;
  for (size_t r = 0; r < rows.rows.size(); ++r) {
    const RiverRow& row = rows.rows[r];
    starts[r] = at;
    const uint16_t* reference = row.reference < 0 ? nullptr : out.data() + starts[static_cast<size_t>(row.reference)];
    block.ReadValues16(out.data() + at, reference, static_cast<int32_t>(row.values.size()));
    at += row.values.size();
  }
  block.EndRead();
}

bool SameRows(const RiverRows& rows, const std::vector<uint16_t>& out) {
  size_t at = 0;
  for (const RiverRow& row : rows.rows) {
    if (!std::equal(row.values.begin(), row.values.end(), out.begin() + static_cast<ptrdiff_t>(at)))
      return false;
    at += row.values.size();
  }
  return true;
}

template <typename Block>
int64_t BlockReserve(const RiverRows& rows) {
  const auto values = static_cast<int64_t>(rows.values), arrays = static_cast<int64_t>(rows.rows.size());
  if constexpr (std::is_same_v<Block, StreamBlock>)
    return StreamBlockReserve16(values, arrays, Groups(rows));
  else
    return PackedRooms16(rows);
}

template <typename Block>
int64_t DataBytes(const Block& block) {
  if constexpr (std::is_same_v<Block, StreamBlock>)
    return block.DataBytes();
  else
    return block.Capacity();
}

template <typename Block>
void BM_BlockWrite16(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  Block block(BlockReserve<Block>(*rows));
  for (auto _ : state) WriteBlock(block, *rows);
  Describe(state, *rows, DataBytes(block));
}
BENCHMARK_TEMPLATE(BM_BlockWrite16, StreamBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_BlockWrite16, PackedBlock)->Unit(benchmark::kMicrosecond);

template <typename Block>
void BM_BlockRead16(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  Block block(BlockReserve<Block>(*rows));
  WriteBlock(block, *rows);
  std::vector<uint16_t> out(rows->values);
  std::vector<size_t> starts(rows->rows.size());
  for (auto _ : state) {
    ReadBlock(block, *rows, out, starts);
    benchmark::ClobberMemory();
  }
  if (!SameRows(*rows, out)) return state.SkipWithError("rows read back differ");
  Describe(state, *rows, DataBytes(block));
}
BENCHMARK_TEMPLATE(BM_BlockRead16, StreamBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_BlockRead16, PackedBlock)->Unit(benchmark::kMicrosecond);

// The widened rows through the block kinds, as a strategy-sum store writes and
// reads them (level 3 keeps its sums in stream blocks).
template <typename Block>
void BM_BlockWrite32(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  const WideRows wide(*rows);
  const auto values = static_cast<int64_t>(rows->values), arrays = static_cast<int64_t>(wide.rows.size());
  Block block(std::is_same_v<Block, StreamBlock> ? StreamBlockReserve32(values, arrays, Groups(*rows))
                                                 : PackedArrayRoom32(values));
  for (auto _ : state) {
    block.BeginWrite();
    for (size_t r = 0; r < wide.rows.size(); ++r) {
      const int32_t reference = rows->rows[r].reference;
      block.WriteValues32(wide.rows[r].data(), reference < 0 ? nullptr : wide.rows[static_cast<size_t>(reference)].data(),
                          static_cast<int32_t>(wide.rows[r].size()));
    }
    block.EndWrite();
  }
  Describe(state, *rows, DataBytes(block));
}
BENCHMARK_TEMPLATE(BM_BlockWrite32, StreamBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_BlockWrite32, PackedBlock)->Unit(benchmark::kMicrosecond);

template <typename Block>
void BM_BlockRead32(benchmark::State& state) {
  const RiverRows* rows = Rows(state);
  if (!rows) return;
  const WideRows wide(*rows);
  const auto values = static_cast<int64_t>(rows->values), arrays = static_cast<int64_t>(wide.rows.size());
  Block block(std::is_same_v<Block, StreamBlock> ? StreamBlockReserve32(values, arrays, Groups(*rows))
                                                 : PackedArrayRoom32(values));
  block.BeginWrite();
  for (size_t r = 0; r < wide.rows.size(); ++r) {
    const int32_t reference = rows->rows[r].reference;
    block.WriteValues32(wide.rows[r].data(), reference < 0 ? nullptr : wide.rows[static_cast<size_t>(reference)].data(),
                        static_cast<int32_t>(wide.rows[r].size()));
  }
  block.EndWrite();
  // Read back to back, each row against the one read before it.
  std::vector<uint32_t> out(rows->values);
  std::vector<size_t> starts(wide.rows.size());
  for (auto _ : state) {
    block.BeginRead();
    size_t at = 0;
    for (size_t r = 0; r < wide.rows.size(); ++r) {
      const int32_t reference = rows->rows[r].reference;
      starts[r] = at;
      block.ReadValues32(out.data() + at, reference < 0 ? nullptr : out.data() + starts[static_cast<size_t>(reference)],
                         static_cast<int32_t>(wide.rows[r].size()));
      at += wide.rows[r].size();
    }
    block.EndRead();
    benchmark::ClobberMemory();
  }
  size_t at = 0;
  for (const auto& row : wide.rows) {
    if (!std::equal(row.begin(), row.end(), out.begin() + static_cast<ptrdiff_t>(at)))
      return state.SkipWithError("rows read back differ");
    at += row.size();
  }
  Describe(state, *rows, DataBytes(block));
}
BENCHMARK_TEMPLATE(BM_BlockRead32, StreamBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_BlockRead32, PackedBlock)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, false); }
