#include "store/arena_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/memory_status.h"
#include "platform/virtual_memory.h"
#include "compress/value_packing.h"
#include "store/value_kernels16.h"
#include "support/byte_buffers.h"
#include "support/num_arrays.h"

namespace {

// Two turn slots with boards of 45 and 44 hands, and one board of 43.
std::unique_ptr<BoardLayout> ExampleLayout(int32_t actions) {
  return MakeBoardLayout(actions, {{45, 44}, {43}});
}

struct Board {
  int32_t i, j;
};
constexpr Board kBoards[] = {{0, 0}, {0, 1}, {1, 0}};

// Fills a store's rows with values of every magnitude and gives two boards
// lock records, one with a mask.
void FillStore(NodeStore& store, int32_t actions, std::mt19937_64& rng) {
  for (const Board& b : kBoards)
    for (int32_t a = 0; a < actions; ++a) {
      std::vector<double> values(static_cast<size_t>(store.GetHandCount(b.i, b.j)));
      for (double& v : values) {
        const int kind = static_cast<int>(rng() % 4);
        v = kind == 0 ? 0.0 : static_cast<double>(rng() % (kind == 1 ? 256 : kind == 2 ? 4096 : 65536));
      }
      store.SetActionValues(b.i, b.j, a, MakeArray(values));
    }
  store.GetLockRecord(0, 1)->flags = LOCKED;
  NodeLockRecord* combo = store.GetLockRecord(1, 0);
  combo->flags = COMBO_LOCKED;
  combo->mask_length = 43;
  combo->mask = static_cast<uint8_t*>(std::calloc(43, 1));
  for (int k = 2; k < 43; k += 5) combo->mask[k] = 1;
}

void ExpectSameRecords(NodeStore& a, NodeStore& b) {
  for (const Board& board : kBoards) {
    const NodeLockRecord* x = a.GetLockRecord(board.i, board.j);
    const NodeLockRecord* y = b.GetLockRecord(board.i, board.j);
    EXPECT_EQ(x->flags, y->flags);
    ASSERT_EQ(x->mask_length, y->mask_length);
    ASSERT_EQ(x->mask == nullptr, y->mask == nullptr);
    if (x->mask) {
      EXPECT_EQ(std::memcmp(x->mask, y->mask, static_cast<size_t>(x->mask_length)), 0);
    }
  }
}

void ExpectSameStrategies(NodeStore& a, NodeStore& b, int32_t actions) {
  std::vector<float> defaults(static_cast<size_t>(actions), 0.125f);
  for (const Board& board : kBoards) {
    const std::vector<NumArray> x = a.GetStrategy(board.i, board.j, defaults.data());
    const std::vector<NumArray> y = b.GetStrategy(board.i, board.j, defaults.data());
    for (int32_t act = 0; act < actions; ++act)
      for (int32_t k = 0; k < x[act].count; ++k) ASSERT_EQ(x[act][k], y[act][k]);
  }
}

// ---------------------------------------------------------------------------

TEST(ArenaStore, LayoutExample) {
  const auto layout = ExampleLayout(2);
  EXPECT_EQ(layout->boards[0].value_offset, 0);
  EXPECT_EQ(layout->boards[1].value_offset, 96);
  EXPECT_EQ(layout->boards[2].value_offset, 184);
  EXPECT_EQ(layout->value_places, 272);
  EXPECT_EQ(layout->value_count, 264);

  ArenaStore16 store(layout.get());
  EXPECT_EQ(store.GetHandCount(1, 0), 43);
  EXPECT_EQ(store.GetHandCount(0, 1), 44);
  EXPECT_EQ(store.GetLockRecord(1, 0), store.GetLockRecord(0, 0) + 2);
  EXPECT_EQ(store.GetElementSize(), 2);
  EXPECT_EQ(ArenaStore32(layout.get()).GetElementSize(), 4);
  for (int32_t i : {-1, 0, 1}) EXPECT_EQ(store.GetValueCount(i), 264);
  ASSERT_TRUE(store.Allocate());
  for (int32_t i : {-1, 0, 1}) EXPECT_EQ(store.GetValueCount(i), 264);
}

TEST(ArenaStore, UnallocatedStoreGivesDefaults) {
  const float defaults[4] = {0.5f, 0.25f, 0.125f, 0.125f};
  for (int32_t actions : {2, 3, 4}) {
    const auto layout = ExampleLayout(actions);
    ArenaStore16 s16(layout.get());
    ArenaStore32 s32(layout.get());
    for (NodeStore* store : {static_cast<NodeStore*>(&s16), static_cast<NodeStore*>(&s32)}) {
      // Value operations on a store without values change nothing.
      store->SetActionValues(0, 0, 0, MakeArray(std::vector<double>(45, 7.0)));
      const std::vector<NumArray> s = store->GetStrategy(0, 1, defaults);
      ASSERT_EQ(s.size(), static_cast<size_t>(actions));
      for (int32_t a = 0; a < actions; ++a) {
        ASSERT_EQ(s[a].count, 44);
        for (int32_t k = 0; k < 44; ++k) EXPECT_EQ(s[a][k], static_cast<double>(defaults[a]));
      }
    }
  }
}

TEST(ArenaStore, StrategiesOfBothWidthsForEveryActionCount) {
  std::mt19937_64 rng(5);
  for (int32_t actions : {1, 2, 3, 4, 5}) {
    const auto layout = ExampleLayout(actions);
    ArenaStore16 s16(layout.get());
    ArenaStore32 s32(layout.get());
    ASSERT_TRUE(s16.Allocate());
    ASSERT_TRUE(s32.Allocate());
    std::vector<float> defaults(static_cast<size_t>(actions), 1.0f / static_cast<float>(actions));
    for (const Board& b : kBoards) {
      const int32_t hands = s16.GetHandCount(b.i, b.j);
      std::vector<std::vector<double>> rows(static_cast<size_t>(actions));
      for (auto& row : rows) {
        row.resize(static_cast<size_t>(hands));
        // Every fourth hand all zero, to reach the defaults.
        for (int32_t k = 0; k < hands; ++k) row[k] = k % 4 == 0 ? 0.0 : static_cast<double>(rng() % 1000);
      }
      for (int32_t a = 0; a < actions; ++a) {
        s16.SetActionValues(b.i, b.j, a, MakeArray(rows[a]));
        s32.SetActionValues(b.i, b.j, a, MakeArray(rows[a]));
      }
      const std::vector<NumArray> x = s16.GetStrategy(b.i, b.j, defaults.data());
      const std::vector<NumArray> y = s32.GetStrategy(b.i, b.j, defaults.data());
      for (int32_t k = 0; k < hands; ++k) {
        double sum = 0;
        for (int32_t a = 0; a < actions; ++a) sum += rows[a][k];
        for (int32_t a = 0; a < actions; ++a) {
          const double expected = sum > 0 ? rows[a][k] / sum : defaults[a];
          EXPECT_NEAR(x[a][k], expected, 1e-6) << actions << " actions, hand " << k;
          EXPECT_NEAR(y[a][k], expected, 1e-6) << actions << " actions, hand " << k;
        }
      }
    }
  }
}

TEST(ArenaStore, ReallocateGivesZeros) {
  const auto layout = ExampleLayout(2);
  ArenaStore16 store(layout.get());
  ASSERT_TRUE(store.Allocate());
  store.SetActionValues(1, 0, 1, MakeArray(std::vector<double>(43, 9.0)));
  ASSERT_TRUE(store.Allocate());
  const float defaults[2] = {0.75f, 0.25f};
  const std::vector<NumArray> s = store.GetStrategy(1, 0, defaults);
  for (int32_t k = 0; k < 43; ++k) EXPECT_EQ(s[1][k], 0.25);
}

TEST(ArenaStore, RegretUpdatesUseTheBoardsMask) {
  const auto layout = ExampleLayout(2);
  ArenaStore16 s16(layout.get());
  ArenaStore32 s32(layout.get());
  for (VirtualArenaStore* store : {static_cast<VirtualArenaStore*>(&s16), static_cast<VirtualArenaStore*>(&s32)}) {
    ASSERT_TRUE(store->Allocate());
    NodeLockRecord* lock = store->GetLockRecord(0, 1);
    lock->flags = COMBO_LOCKED;
    lock->mask_length = 44;
    lock->mask = static_cast<uint8_t*>(std::calloc(44, 1));
    lock->mask[3] = lock->mask[40] = 1;
    std::vector<NumArray> actions;
    actions.push_back(MakeArray(std::vector<double>(44, 16.0)));
    actions.push_back(MakeArray(std::vector<double>(44, -16.0)));
    // Node values longer than the board: the store's width bounds the loop.
    store->UpdateRegrets(0, 1, MakeArray(std::vector<double>(60, 0.0)), actions, nullptr, nullptr, 1.0);
    const float defaults[2] = {0.5f, 0.5f};
    const std::vector<NumArray> s = store->GetStrategy(0, 1, defaults);
    for (int32_t k = 0; k < 44; ++k) {
      const bool locked = k == 3 || k == 40;
      EXPECT_NEAR(s[0][k], locked ? 0.5 : 1.0, 1e-6) << store->GetElementSize() << " hand " << k;
    }
    // The neighbouring boards are untouched.
    for (const Board& b : {kBoards[0], kBoards[2]}) {
      const std::vector<NumArray> other = store->GetStrategy(b.i, b.j, defaults);
      for (int32_t k = 0; k < other[0].count; ++k) EXPECT_EQ(other[0][k], 0.5);
    }
  }
}

// The rows handed to the solver's fused kernels are the rows the value
// operations address: what SetActionValues writes on a board is read there, for
// the board's hand count, with the board's own lock record.
TEST(ArenaStore, BoardRowsAreTheBoardsRows) {
  const auto layout = ExampleLayout(3);
  ArenaStore16 s16(layout.get());
  ArenaStore32 s32(layout.get());
  uint16_t* rows16[3];
  float* rows32[3];
  int32_t hands = -1;
  const NodeLockRecord* lock = nullptr;
  EXPECT_FALSE(s16.BoardRows(0, 1, rows16, &hands));
  EXPECT_FALSE(s32.BoardRows(0, 1, rows32, &hands, &lock));
  ASSERT_TRUE(s16.Allocate());
  ASSERT_TRUE(s32.Allocate());
  for (const Board& b : kBoards) {
    const int32_t n = s16.GetHandCount(b.i, b.j);
    for (int32_t a = 0; a < 3; ++a) {
      std::vector<double> values(static_cast<size_t>(n));
      for (int32_t k = 0; k < n; ++k) values[k] = 1000.0 * (b.i + 1) + 100.0 * b.j + 10.0 * a + k;
      s16.SetActionValues(b.i, b.j, a, MakeArray(values));
      s32.SetActionValues(b.i, b.j, a, MakeArray(values));
    }
  }
  for (const Board& b : kBoards) {
    ASSERT_TRUE(s16.BoardRows(b.i, b.j, rows16, &hands));
    EXPECT_EQ(hands, s16.GetHandCount(b.i, b.j));
    uint16_t* again16[3];
    lock = nullptr;
    ASSERT_TRUE(s16.BoardRows(b.i, b.j, again16, &hands, &lock));
    EXPECT_EQ(lock, s16.GetLockRecord(b.i, b.j));
    EXPECT_TRUE(std::equal(rows16, rows16 + 3, again16));
    ASSERT_TRUE(s32.BoardRows(b.i, b.j, rows32, &hands, &lock));
    EXPECT_EQ(hands, s32.GetHandCount(b.i, b.j));
    EXPECT_EQ(lock, s32.GetLockRecord(b.i, b.j));
    for (int32_t a = 0; a < 3; ++a)
      for (int32_t k = 0; k < hands; ++k) {
        const double want = 1000.0 * (b.i + 1) + 100.0 * b.j + 10.0 * a + k;
        EXPECT_EQ(rows16[a][k], want);
        EXPECT_EQ(rows32[a][k], want);
      }
  }
}

TEST(ArenaStore, WriteReadRoundTrips) {
  std::mt19937_64 rng(9);
  for (int32_t actions : {1, 3}) {
    const auto layout = ExampleLayout(actions);
    ArenaStore16 a16(layout.get()), b16(layout.get());
    ArenaStore32 a32(layout.get()), b32(layout.get());
    ASSERT_TRUE(a16.Allocate() && b16.Allocate() && a32.Allocate() && b32.Allocate());
    FillStore(a16, actions, rng);
    FillStore(a32, actions, rng);
    for (auto [from, to] : {std::pair<VirtualArenaStore*, VirtualArenaStore*>{&a16, &b16},
                            std::pair<VirtualArenaStore*, VirtualArenaStore*>{&a32, &b32}}) {
      BufferWriter out;
      from->Write(out);
      BufferReader in(out.bytes, 6);
      to->Read(in);
      EXPECT_EQ(in.position(), out.bytes.size());
      ExpectSameRecords(*from, *to);
      ExpectSameStrategies(*from, *to, actions);
      // Written again, the bytes are the same: every value came back.
      BufferWriter again;
      to->Write(again);
      EXPECT_EQ(again.bytes, out.bytes);
    }
    // A store never allocated writes the zeros an allocated one holds.
    ArenaStore16 fresh16(layout.get()), zero16(layout.get());
    ArenaStore32 fresh32(layout.get()), zero32(layout.get());
    ASSERT_TRUE(zero16.Allocate() && zero32.Allocate());
    BufferWriter w[4];
    fresh16.Write(w[0]);
    zero16.Write(w[1]);
    fresh32.Write(w[2]);
    zero32.Write(w[3]);
    EXPECT_EQ(w[0].bytes, w[1].bytes);
    EXPECT_EQ(w[2].bytes, w[3].bytes);
  }
}

TEST(ArenaStore, SixteenBitRowsRawBeforeVersionFourPackedFrom) {
  const auto layout = MakeBoardLayout(2, {{9}});
  const std::vector<uint16_t> row0 = {1, 2, 3, 300, 5, 6, 7, 8, 9};
  const std::vector<uint16_t> row1 = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  std::vector<uint8_t> raw, packed;
  Append<uint32_t>(raw, 0);
  Append<uint32_t>(packed, 0);
  for (const auto* row : {&row0, &row1}) {
    for (uint16_t v : *row) Append(raw, v);
    uint8_t bytes[64];
    const int16_t size =
        static_cast<int16_t>(Kernels<ValuePackingKernels>().PackValues16(bytes, row->data(), 9) - bytes);
    Append(packed, size);
    packed.insert(packed.end(), bytes, bytes + size);
  }
  for (auto [bytes, version] : {std::pair{&raw, 3}, std::pair{&packed, 4}, std::pair{&packed, 6}}) {
    ArenaStore16 store(layout.get());
    ASSERT_TRUE(store.Allocate());
    BufferReader in(*bytes, version);
    store.Read(in);
    EXPECT_EQ(in.position(), bytes->size()) << "version " << version;
    const float defaults[2] = {0.0f, 0.0f};
    const std::vector<NumArray> s = store.GetStrategy(0, 0, defaults);
    for (int32_t k = 0; k < 9; ++k)
      EXPECT_NEAR(s[0][k], static_cast<double>(row0[k]) / (row0[k] + row1[k]), 1e-6);
  }
}

TEST(ArenaStore, ReadRefusesBadData) {
  const auto layout = MakeBoardLayout(1, {{40}});
  auto packed_row = [](int16_t size, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes;
    Append<uint32_t>(bytes, 0);
    Append(bytes, size);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
  };
  std::vector<uint8_t> full(33 + 9, 0);
  full[0] = 0x55;
  full[33] = 1;  // 32 bytes, then a tail group of 8 bytes
  const std::vector<std::vector<uint8_t>> bad = {
      packed_row(0, {}),                                 // no bytes for 40 hands
      packed_row(-5, {}),                                // negative size
      packed_row(4097, std::vector<uint8_t>(4097, 0)),   // beyond the readers' buffer
      packed_row(41, std::vector<uint8_t>(full.begin(), full.end() - 1)),  // unpacks short
      packed_row(20, std::vector<uint8_t>(full.begin(), full.begin() + 20)),
  };
  for (const auto& bytes : bad) {
    ArenaStore16 store(layout.get());
    ASSERT_TRUE(store.Allocate());
    BufferReader in(bytes, 6);
    EXPECT_THROW(store.Read(in), std::runtime_error);
  }
  {
    // The complete row is accepted.
    ArenaStore16 store(layout.get());
    ASSERT_TRUE(store.Allocate());
    const std::vector<uint8_t> good = packed_row(42, full);
    BufferReader in(good, 6);
    EXPECT_NO_THROW(store.Read(in));
  }
  {
    // A mask whose length is not the board's hand count.
    std::vector<uint8_t> bytes;
    Append<uint32_t>(bytes, COMBO_LOCKED);
    Append<int16_t>(bytes, 41);
    Append<int16_t>(bytes, 1);
    Append<int16_t>(bytes, 41);
    ArenaStore32 store(layout.get());
    ASSERT_TRUE(store.Allocate());
    BufferReader in(bytes, 6);
    EXPECT_THROW(store.Read(in), std::runtime_error);
    EXPECT_EQ(store.GetLockRecord(0, 0)->mask, nullptr);
  }
  {
    // Values cannot be read into a store that has none.
    ArenaStore32 store(layout.get());
    std::vector<uint8_t> bytes(4 + 160, 0);
    BufferReader in(bytes, 6);
    EXPECT_THROW(store.Read(in), std::runtime_error);
  }
}

TEST(VirtualMemory, BlocksAreZeroedAndRefusedWhenTheyCannotBeBacked) {
  const uint64_t before = ReservedBlockBytes();
  auto* block = static_cast<uint8_t*>(ReserveZeroedBlock(1 << 20));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ReservedBlockBytes(), before + (1 << 20));
  EXPECT_EQ(block[12345], 0);
  std::memset(block, 7, 1 << 20);
  ZeroBlock(block, 1 << 20);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[(1 << 20) - 1], 0);
  ReleaseBlock(block, 1 << 20);
  EXPECT_EQ(ReservedBlockBytes(), before);

  MemoryStatus status;
  ASSERT_TRUE(QueryMemoryStatus(&status));
  EXPECT_EQ(ReserveZeroedBlock(status.available_bytes + (uint64_t{1} << 30)), nullptr);
  EXPECT_EQ(ReservedBlockBytes(), before);

  // Reserved bytes not yet resident count against what is available.
  EXPECT_TRUE(BlockRequestFits(100, 1000, 0, 0));
  EXPECT_FALSE(BlockRequestFits(1001, 1000, 0, 0));
  EXPECT_FALSE(BlockRequestFits(600, 1000, 500, 0));
  EXPECT_TRUE(BlockRequestFits(600, 1000, 500, 400));
  EXPECT_FALSE(BlockRequestFits(1, 1000, 5000, 0));
}

}  // namespace
