// Both block kinds: write and read cycles, the saved record through memory and
// files, the storage counters, reservations as upper bounds, damaged records.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "compress/coder.h"
#include "compress/packed_block.h"
#include "compress/storage_counters.h"
#include "compress/stream_block.h"
#include "compress/value_packing.h"
#include "platform/byte_io.h"
#include "platform/stdout_redirect.h"

namespace {

enum class Kind { PACKED, STREAM };

// A run of arrays as a block store hands them over: rows of boards with
// varying hand counts, each against the previous row when that has at least
// as many hands.
template <typename T>
struct Rows {
  std::vector<std::vector<T>> rows;
  std::vector<int> references;  // index of the reference row, -1 for none
  int64_t values = 0;

  const T* Reference(size_t r) const {
    return references[r] < 0 ? nullptr : rows[static_cast<size_t>(references[r])].data();
  }
};

// Regret-like 16-bit rows (mostly zeros and small values, a few large ones,
// close to the row before), or strategy sums below 2^31. `wide`: every value
// large and unrelated, the coders' worst case.
template <typename T>
Rows<T> MakeRows(uint32_t seed, int32_t count, bool wide = false) {
  std::mt19937_64 rng(seed);
  const int32_t hand_counts[] = {0, 1, 9, 31, 32, 33, 100, 1081, 1326, 1326, 700, 8};
  Rows<T> rows;
  for (int32_t r = 0; r < count; ++r) {
    const int32_t n = hand_counts[static_cast<size_t>(r) % std::size(hand_counts)];
    std::vector<T> row(static_cast<size_t>(n));
    const std::vector<T>* before = rows.rows.empty() ? nullptr : &rows.rows.back();
    for (int32_t h = 0; h < n; ++h) {
      T v;
      if (wide) {
        v = static_cast<T>(sizeof(T) == 2 ? rng() : rng() & 0x7FFFFFFF);
      } else if (before && static_cast<size_t>(h) < before->size() && rng() % 4 != 0) {
        v = static_cast<T>((*before)[static_cast<size_t>(h)] + rng() % 3);
      } else {
        const uint64_t kind = rng() % 10;
        v = kind < 5 ? 0 : kind < 9 ? static_cast<T>(rng() % 300) : static_cast<T>(rng() % 65536);
        if (sizeof(T) == 4 && kind == 9) v = static_cast<T>(rng() % 2'000'000'000);
      }
      row[static_cast<size_t>(h)] = v;
    }
    rows.references.push_back(before && before->size() >= row.size() ? r - 1 : -1);
    rows.values += n;
    rows.rows.push_back(std::move(row));
  }
  return rows;
}

void WriteRows(CompressedBlock& block, const Rows<uint16_t>& rows) {
  for (size_t r = 0; r < rows.rows.size(); ++r)
    block.WriteValues16(rows.rows[r].data(), rows.Reference(r), static_cast<int32_t>(rows.rows[r].size()));
}
void WriteRows(CompressedBlock& block, const Rows<uint32_t>& rows) {
  for (size_t r = 0; r < rows.rows.size(); ++r)
    block.WriteValues32(rows.rows[r].data(), rows.Reference(r), static_cast<int32_t>(rows.rows[r].size()));
}
void ReadRow(CompressedBlock& block, std::vector<uint16_t>& out, const uint16_t* reference) {
  block.ReadValues16(out.data(), reference, static_cast<int32_t>(out.size()));
}
void ReadRow(CompressedBlock& block, std::vector<uint32_t>& out, const uint32_t* reference) {
  block.ReadValues32(out.data(), reference, static_cast<int32_t>(out.size()));
}

template <typename T>
void Write(CompressedBlock& block, const Rows<T>& rows) {
  block.BeginWrite();
  WriteRows(block, rows);
  block.EndWrite();
}

// Reads every array (the references from what was read) and compares.
template <typename T>
::testing::AssertionResult ReadsBack(CompressedBlock& block, const Rows<T>& rows) {
  if (!block.HasData()) return ::testing::AssertionFailure() << "no data";
  block.BeginRead();
  std::vector<std::vector<T>> got;
  for (size_t r = 0; r < rows.rows.size(); ++r) {
    got.emplace_back(rows.rows[r].size());
    const int ref = rows.references[r];
    ReadRow(block, got.back(), ref < 0 ? nullptr : got[static_cast<size_t>(ref)].data());
    if (got.back() != rows.rows[r]) {
      block.EndRead();
      return ::testing::AssertionFailure() << "array " << r << " differs";
    }
  }
  block.EndRead();
  return ::testing::AssertionSuccess();
}

// Reads every array without comparing, for damaged blocks: the values may be
// anything, but the reads end or throw CodedStreamError.
template <typename T>
void ReadThrough(CompressedBlock& block, const Rows<T>& rows) {
  if (!block.HasData()) return;
  try {
    block.BeginRead();
    std::vector<std::vector<T>> got;
    for (size_t r = 0; r < rows.rows.size(); ++r) {
      got.emplace_back(rows.rows[r].size());
      const int ref = rows.references[r];
      ReadRow(block, got.back(), ref < 0 ? nullptr : got[static_cast<size_t>(ref)].data());
    }
  } catch (const CodedStreamError&) {
  }
  block.EndRead();
}

std::unique_ptr<CompressedBlock> MakeBlock(Kind kind, int64_t reserved) {
  if (kind == Kind::PACKED) return std::make_unique<PackedBlock>(reserved);
  return std::make_unique<StreamBlock>(reserved);
}

template <typename T>
int64_t Reservation(Kind kind, const Rows<T>& rows) {
  const auto arrays = static_cast<int64_t>(rows.rows.size());
  int64_t groups = 0, rooms = 0;
  for (const std::vector<T>& row : rows.rows) {
    const auto n = static_cast<int64_t>(row.size());
    groups += (n + 7) / 8;
    rooms += sizeof(T) == 2 ? PackedArrayRoom16(n) : PackedArrayRoom32(n);
  }
  if (kind == Kind::PACKED) return rooms;
  return sizeof(T) == 2 ? StreamBlockReserve16(rows.values, arrays, groups)
                        : StreamBlockReserve32(rows.values, arrays, groups);
}

std::vector<uint8_t> Saved(const CompressedBlock& block) {
  MemoryWriter out;
  block.Save(out);
  return out.Bytes();
}

struct Case {
  Kind kind;
  bool sixteen;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.kind == Kind::PACKED ? "Packed" : "Stream") +
         (info.param.sixteen ? "16" : "32");
}

class EveryBlock : public ::testing::TestWithParam<Case> {
 protected:
  // The test body for one value width.
  template <typename T>
  void CyclesAndSavedRecords();
  template <typename T>
  void DamagedRecords();
};

template <typename T>
void EveryBlock::CyclesAndSavedRecords() {
  const Kind kind = GetParam().kind;
  const Rows<T> rows = MakeRows<T>(1, 40);
  const int64_t reserve = Reservation(kind, rows);
  auto block = MakeBlock(kind, reserve);
  EXPECT_FALSE(block->HasData());
  Write(*block, rows);
  EXPECT_TRUE(ReadsBack(*block, rows));
  EXPECT_TRUE(ReadsBack(*block, rows));  // a whole read leaves it readable again

  // Through memory and through a file: the loaded block reads the same, and
  // saves the same record.
  const std::vector<uint8_t> record = Saved(*block);
  {
    auto loaded = MakeBlock(kind, 0);
    MemoryReader in(record);
    loaded->Load(in);
    EXPECT_EQ(in.Position(), record.size());
    EXPECT_TRUE(ReadsBack(*loaded, rows));
    EXPECT_EQ(Saved(*loaded), record);
  }
  const std::string path = ::testing::TempDir() + "tdx_block_" + std::to_string(::getpid());
  {
    FileWriter out(path);
    block->Save(out);
    block->Save(out);  // two records back to back, as a store writes them
    out.Commit();
  }
  {
    FileReader in(path);
    for (int k = 0; k < 2; ++k) {
      auto loaded = MakeBlock(kind, 0);
      loaded->Load(in);
      EXPECT_TRUE(ReadsBack(*loaded, rows));
      // A loaded block takes new writes, beyond what it held.
      const Rows<T> more = MakeRows<T>(2, 80);
      Write(*loaded, more);
      EXPECT_TRUE(ReadsBack(*loaded, more));
    }
    in.Close();
  }
  std::remove(path.c_str());

  // A rewrite drops the old arrays.
  const Rows<T> other = MakeRows<T>(3, 25);
  Write(*block, other);
  EXPECT_TRUE(ReadsBack(*block, other));
}

TEST_P(EveryBlock, CyclesAndSavedRecordsRoundTrip) {
  if (GetParam().sixteen)
    CyclesAndSavedRecords<uint16_t>();
  else
    CyclesAndSavedRecords<uint32_t>();
}

// Truncated records, and records with bits flipped from a fixed seed: the load
// fails with an error, or the block reads its arrays (the values may be
// wrong) or refuses them with CodedStreamError. Never a crash or a read
// outside the block (the sanitizer build runs this too).
template <typename T>
void EveryBlock::DamagedRecords() {
  const Kind kind = GetParam().kind;
  const Rows<T> rows = MakeRows<T>(4, 30);
  auto block = MakeBlock(kind, Reservation(kind, rows));
  Write(*block, rows);
  const std::vector<uint8_t> record = Saved(*block);

  auto try_load = [&](const std::vector<uint8_t>& bytes) {
    auto loaded = MakeBlock(kind, 0);
    MemoryReader in(bytes);
    try {
      loaded->Load(in);
    } catch (const IOException&) {
      EXPECT_FALSE(loaded->HasData());
      return false;
    } catch (const CodedStreamError&) {
      EXPECT_FALSE(loaded->HasData());
      return false;
    }
    ReadThrough(*loaded, rows);
    return true;
  };

  for (size_t length = 0; length < record.size(); length += 1 + length / 16) {
    const std::vector<uint8_t> cut(record.begin(), record.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(try_load(cut)) << "a record cut to " << length << " bytes loaded";
  }

  std::mt19937_64 rng(2024);
  int loaded = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<uint8_t> bytes = record;
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) {
      // Half the flips in the header fields, where sizes and counts are.
      const size_t header = kind == Kind::STREAM ? 24 * 8 + 16 : 20;
      const size_t at = rng() % 2 ? rng() % header : rng() % bytes.size();
      bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    loaded += try_load(bytes);
  }
  EXPECT_GT(loaded, 0);  // damage in the payload loads, and is met when read
}

TEST_P(EveryBlock, DamagedRecordsFailWithAnError) {
  if (GetParam().sixteen)
    DamagedRecords<uint16_t>();
  else
    DamagedRecords<uint32_t>();
}

INSTANTIATE_TEST_SUITE_P(CompressedBlock, EveryBlock,
                         ::testing::Values(Case{Kind::PACKED, true}, Case{Kind::PACKED, false},
                                           Case{Kind::STREAM, true}, Case{Kind::STREAM, false}),
                         CaseName);

TEST(PackedBlock, SavesItsCapacityAndNothingForEmptyArrays) {
  PackedBlock block(PackedArrayRoom16(8));
  block.BeginWrite();
  block.EndWrite();
  EXPECT_FALSE(block.HasData());  // no array: capacity 0
  EXPECT_EQ(Saved(block).size(), 4u + 8 + 8);

  const std::vector<uint16_t> small{1, 2, 3, 4, 5, 6, 7, 8};
  block.BeginWrite();
  block.WriteValues16(nullptr, nullptr, 0);  // writes nothing
  EXPECT_EQ(block.Position(), 0);
  block.WriteValues16(small.data(), nullptr, 8);
  block.EndWrite();
  EXPECT_TRUE(block.HasData());
  EXPECT_EQ(block.Position(), 9);
  EXPECT_EQ(block.Capacity(), 17);
  // The record holds the capacity's bytes: the array, then zero filler.
  const std::vector<uint8_t> record = Saved(block);
  ASSERT_EQ(record.size(), 4u + 8 + 8 + 17);
  int32_t capacity;
  std::memcpy(&capacity, record.data(), 4);
  EXPECT_EQ(capacity, 17);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 20, record.begin() + 29),
            (std::vector<uint8_t>{1, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 29, record.end()), std::vector<uint8_t>(8, 0));

  // Wide values first, then small ones over them: the filler saved is zeros,
  // not the earlier arrays' bytes, and the block loaded from the record reads
  // back and saves the same.
  const std::vector<uint16_t> wide(40, 60000), narrow(40, 3);
  block.BeginWrite();
  block.WriteValues16(wide.data(), nullptr, 40);
  block.EndWrite();
  block.BeginWrite();
  block.WriteValues16(narrow.data(), nullptr, 40);
  block.EndWrite();
  ASSERT_EQ(block.Capacity(), static_cast<int64_t>(MaxPackedBytes16(40)));
  const int64_t data = block.Position();
  const std::vector<uint8_t> second = Saved(block);
  ASSERT_EQ(second.size(), 20u + MaxPackedBytes16(40));
  EXPECT_EQ(std::vector<uint8_t>(second.begin() + 20 + data, second.end()),
            std::vector<uint8_t>(MaxPackedBytes16(40) - data, 0));
  PackedBlock loaded(0);
  MemoryReader reader(second);
  loaded.Load(reader);
  std::vector<uint16_t> back(40);
  loaded.BeginRead();
  loaded.ReadValues16(back.data(), nullptr, 40);
  loaded.EndRead();
  EXPECT_EQ(back, narrow);
  EXPECT_EQ(Saved(loaded), second);
}

TEST(StreamBlock, HoldsDataFromItsFirstWrite) {
  StreamBlock block(StreamBlockReserve16(0, 0, 0));
  EXPECT_FALSE(block.HasData());
  block.BeginWrite();
  block.EndWrite();
  EXPECT_TRUE(block.HasData());  // the coder id byte
  EXPECT_EQ(block.DataBytes(), 1);
  const std::vector<uint8_t> record = Saved(block);
  ASSERT_EQ(record.size(), 24u * 8 + 16 + 1);
  EXPECT_EQ(record[0], 1);  // channel 0: size 1, length 1
  EXPECT_EQ(record[4], 1);
  EXPECT_EQ(record.back(), CODER_FSE_STREAMS);
}

TEST(CompressedBlock, NeverWrittenBlocksSaveAndLoadEmpty) {
  for (Kind kind : {Kind::PACKED, Kind::STREAM}) {
    auto block = MakeBlock(kind, 1000);
    const std::vector<uint8_t> record = Saved(*block);
    auto loaded = MakeBlock(kind, 0);
    MemoryReader in(record);
    loaded->Load(in);
    EXPECT_FALSE(loaded->HasData());
    EXPECT_EQ(Saved(*loaded), record);
  }
}

TEST(CompressedBlock, FinishedCyclesCountTheirBytes) {
  const Rows<uint16_t> rows = MakeRows<uint16_t>(5, 20);
  for (Kind kind : {Kind::PACKED, Kind::STREAM}) {
    auto block = MakeBlock(kind, Reservation(kind, rows));
    const int64_t written = g_storage_write_bytes, read = g_storage_read_bytes;
    const int64_t raw = g_stat_raw_bytes, compressed = g_stat_compressed_bytes;
    Write(*block, rows);
    ASSERT_TRUE(ReadsBack(*block, rows));
    int64_t data = 0;
    if (kind == Kind::PACKED) {
      data = static_cast<PackedBlock&>(*block).Position();
      // 2 raw bytes a 16-bit value; memory committed in 64 KiB steps.
      EXPECT_EQ(g_stat_raw_bytes - raw, 2 * rows.values);
      EXPECT_EQ(g_stat_compressed_bytes - compressed,
                static_cast<PackedBlock&>(*block).Arena().Committed());
    } else {
      data = static_cast<StreamBlock&>(*block).DataBytes();
      // The coder counts 4 raw bytes a value, whatever the width.
      EXPECT_EQ(g_stat_raw_bytes - raw, 4 * rows.values);
      EXPECT_EQ(g_stat_compressed_bytes - compressed,
                static_cast<StreamBlock&>(*block).Arena().Committed());
    }
    EXPECT_GT(data, 0);
    EXPECT_EQ(g_storage_write_bytes - written, data);
    EXPECT_EQ(g_storage_read_bytes - read, data);  // a whole read consumes it all
  }
  // Escaped tokens raise the largest symbol seen.
  const Rows<uint32_t> wide = MakeRows<uint32_t>(6, 12, true);
  StreamBlock block(Reservation(Kind::STREAM, wide));
  Write(block, wide);
  EXPECT_GT(g_stat_max_symbol, 65535);
}

// Rows chosen against the coder, each hand's value a step from the one before
// of a size class: tokens below 255 spread over every context, 16-bit escapes
// with random bytes, 32-bit ones, or all of them mixed; rows of every length,
// none cheaper against its reference.
enum class Steps { kSmall, kEscape16, kEscape32, kMixed };

template <typename T>
Rows<T> AdversarialRows(uint32_t seed, Steps steps) {
  std::mt19937_64 rng(seed);
  Rows<T> rows = MakeRows<T>(seed, 60);
  const uint64_t top = sizeof(T) == 2 ? 65536 : uint64_t{1} << 32;
  for (std::vector<T>& row : rows.rows) {
    uint64_t value = rng() % top;
    for (T& v : row) {
      const uint64_t size_class = steps == Steps::kMixed ? rng() % 3 : static_cast<uint64_t>(steps);
      const uint64_t step = size_class == 0 ? 1 + rng() % 127
                            : size_class == 1 ? 128 + rng() % 32000
                                              : top / 4 + rng() % (top / 2);
      // Either way round, held within the width.
      value = rng() % 2 && value >= step ? value - step : (value + step) % top;
      v = static_cast<T>(value);
    }
  }
  return rows;
}

TEST(CompressedBlock, ReservationsAreUpperBoundsOfTheWorstData) {
  // The packed arrays at their largest and every channel of the coder as full
  // as the data can make it. Neither block outgrows its reservation (no move:
  // the reservation stays what it was).
  for (Kind kind : {Kind::PACKED, Kind::STREAM}) {
    for (Steps steps : {Steps::kSmall, Steps::kEscape16, Steps::kEscape32, Steps::kMixed}) {
      SCOPED_TRACE(static_cast<int>(steps));
      const Rows<uint16_t> rows16 = AdversarialRows<uint16_t>(7, steps);
      const Rows<uint32_t> rows32 = AdversarialRows<uint32_t>(8, steps);
      const int64_t reserve16 = Reservation(kind, rows16), reserve32 = Reservation(kind, rows32);
      auto block16 = MakeBlock(kind, reserve16);
      auto block32 = MakeBlock(kind, reserve32);
      Write(*block16, rows16);
      Write(*block32, rows32);
      const int64_t step = kind == Kind::PACKED ? 65536 : 4096;
      if (kind == Kind::PACKED) {
        auto& packed = static_cast<PackedBlock&>(*block16);
        EXPECT_LE(packed.Capacity(), reserve16);
        EXPECT_EQ(packed.Arena().Reserved(), (reserve16 + step - 1) / step * step);
        EXPECT_LE(static_cast<PackedBlock&>(*block32).Capacity(), reserve32);
      } else {
        auto& stream = static_cast<StreamBlock&>(*block16);
        EXPECT_LE(stream.DataBytes(), reserve16);
        EXPECT_EQ(stream.Arena().Reserved(), (reserve16 + step - 1) / step * step);
        auto& stream32 = static_cast<StreamBlock&>(*block32);
        EXPECT_LE(stream32.DataBytes(), reserve32);
        EXPECT_EQ(stream32.Arena().Reserved(), (reserve32 + step - 1) / step * step);
      }
      EXPECT_TRUE(ReadsBack(*block16, rows16));
      EXPECT_TRUE(ReadsBack(*block32, rows32));
    }
  }

  // Arrays of 9 wide values: 20 bytes each packed, one more than two bytes a
  // value and a byte per started 32 count. The capacity keeps ahead of the
  // position, so the saved record holds every array.
  Rows<uint16_t> nines;
  for (int r = 0; r < 5000; ++r) {
    nines.rows.push_back(std::vector<uint16_t>(9, static_cast<uint16_t>(60000 + r)));
    nines.references.push_back(-1);
    nines.values += 9;
  }
  PackedBlock packed(Reservation(Kind::PACKED, nines));
  Write(packed, nines);
  EXPECT_EQ(packed.Position(), 5000 * 20);
  EXPECT_LE(packed.Position(), packed.Capacity());
  PackedBlock loaded(0);
  const std::vector<uint8_t> record = Saved(packed);
  MemoryReader in(record);
  loaded.Load(in);
  EXPECT_TRUE(ReadsBack(loaded, nines));
}

TEST(CompressedBlock, AReservationTooSmallGrowsInsteadOfEndingTheProcess) {
  // As a block loaded from a file written with a smaller reservation.
  const Rows<uint32_t> rows = MakeRows<uint32_t>(9, 200);
  for (Kind kind : {Kind::PACKED, Kind::STREAM}) {
    auto block = MakeBlock(kind, 4096);
    Write(*block, rows);
    EXPECT_TRUE(ReadsBack(*block, rows));
  }
}

// Under an address-space limit a write that needs more than the block has
// reserved cannot have it: the stream block's EndWrite, or the packed block's
// first array (before it overwrites anything), throws std::bad_alloc, and once
// the write is given up the block reads back its previous arrays and, with the
// limit lifted, takes new writes.
TEST(CompressedBlockDeathTest, AWriteThatCannotGrowKeepsThePreviousArrays) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs the address space";
#endif
  EXPECT_EXIT(
      {
        const Rows<uint32_t> before = MakeRows<uint32_t>(11, 4);
        const Rows<uint32_t> large = AdversarialRows<uint32_t>(12, Steps::kEscape32);
        Rows<uint32_t> long_row;
        long_row.rows.push_back(large.rows[7]);
        for (int k = 0; k < 20; ++k)
          long_row.rows[0].insert(long_row.rows[0].end(), large.rows[7].begin(), large.rows[7].end());
        long_row.references.push_back(-1);
        long_row.values = static_cast<int64_t>(long_row.rows[0].size());
        for (Kind kind : {Kind::STREAM, Kind::PACKED}) {
          auto block = MakeBlock(kind, Reservation(kind, before));
          Write(*block, before);
          rlimit limit;
          getrlimit(RLIMIT_AS, &limit);
          const rlim_t unlimited = limit.rlim_cur;
          std::ifstream statm("/proc/self/statm");
          uint64_t pages = 0;
          statm >> pages;
          limit.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
          setrlimit(RLIMIT_AS, &limit);
          bool threw = false;
          try {
            block->BeginWrite();
            WriteRows(*block, kind == Kind::STREAM ? large : long_row);
            block->EndWrite();
          } catch (const std::bad_alloc&) {
            threw = true;
            block->AbandonWrite();
          }
          limit.rlim_cur = unlimited;
          setrlimit(RLIMIT_AS, &limit);
          if (!threw || !ReadsBack(*block, before)) std::_Exit(2);
          Write(*block, large);
          if (!ReadsBack(*block, large)) std::_Exit(3);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CompressedBlock, ScratchRecordsMoveBetweenThreads) {
  // Blocks written and read on several threads at once; half of them begin
  // their write on one thread and end it on another.
  const Rows<uint16_t> rows = MakeRows<uint16_t>(10, 30);
  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<StreamBlock>> blocks;
  for (int t = 0; t < 2 * kThreads; ++t)
    blocks.push_back(std::make_unique<StreamBlock>(Reservation(Kind::STREAM, rows)));
  for (int round = 0; round < 3; ++round) {
    for (int t = 0; t < kThreads; ++t) {
      blocks[kThreads + t]->BeginWrite();
      WriteRows(*blocks[kThreads + t], rows);
    }
    std::vector<std::thread> threads;
    std::vector<int> good(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        blocks[kThreads + t]->EndWrite();
        for (int k = 0; k < 5; ++k) {
          Write(*blocks[t], rows);
          good[t] += ReadsBack(*blocks[t], rows) ? 1 : 0;
        }
      });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(good[t], 5);
      EXPECT_TRUE(ReadsBack(*blocks[kThreads + t], rows));
    }
  }
}

TEST(CompressedBlockDeathTest, ACycleBegunWhileACoderIsAttachedEndsTheProcess) {
  // Named alike in the child, which runs the test afresh.
  const std::string path = ::testing::TempDir() + "tdx_block_fail_" +
                           std::to_string(std::hash<std::string>{}(program_invocation_name));
  EXPECT_EXIT(
      {
        RedirectStdoutToFile(path, false);
        StreamBlock block(StreamBlockReserve32(10, 1, 2));
        block.BeginWrite();
        block.EndWrite();
        block.BeginRead();
        block.BeginWrite();  // the read was never ended
      },
      ::testing::ExitedWithCode(1), "");
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  EXPECT_EQ(text.str(), "fail\n");
}

}  // namespace
