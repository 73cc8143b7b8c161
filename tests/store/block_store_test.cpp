#include "store/block_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "compress/packed_block.h"
#include "compress/storage_counters.h"
#include "compress/stream_block.h"
#include "store/arena_store.h"
#include "store/block_store_kernels.h"
#include "store/value_kernels16.h"
#include "support/byte_buffers.h"
#include "support/kernel_builds.h"
#include "support/num_arrays.h"

namespace {

using Kind = BlockStore::Kind;
using Width = BlockStore::Width;

// Two turn slots: boards of 45, 44 and 47 hands (the third larger than the
// second, so coded without a reference), and one board of 43.
std::unique_ptr<BoardLayout> ExampleLayout(int32_t actions) {
  return MakeBoardLayout(actions, {{45, 44, 47}, {43}});
}

struct Case {
  Kind kind;
  Width width;
};
constexpr Case kCases[] = {{Kind::PACKED, Width::BITS16},
                           {Kind::PACKED, Width::BITS32},
                           {Kind::STREAM, Width::BITS16},
                           {Kind::STREAM, Width::BITS32}};

const char* NameOf(const Case& c) {
  if (c.kind == Kind::PACKED) return c.width == Width::BITS16 ? "packed16" : "packed32";
  return c.width == Width::BITS16 ? "stream16" : "stream32";
}

// Values of every magnitude the width holds, many repeated between boards.
double RandomValue(std::mt19937_64& rng, Width width) {
  const int size = static_cast<int>(rng() % 5);
  if (size == 0) return 0.0;
  const uint64_t top = width == Width::BITS16 ? 65536 : 2147483648ull;
  const uint64_t limit = size == 1 ? 256 : size == 2 ? 4096 : size == 3 ? 65536 : top;
  return static_cast<double>(rng() % (limit < top ? limit : top));
}

// One board's rows as the open cache holds them, in either width.
struct OpenBoardRows {
  bool ok = false;
  bool wide = false;
  int32_t hands = 0;
  uint16_t* rows16[8];
  int32_t* rows32[8];
  OpenBoardRows(BlockStore& store, int32_t i, int32_t j)
      : wide(store.width() == Width::BITS32) {
    ok = wide ? store.BoardRows32(i, j, rows32, &hands, nullptr)
              : store.BoardRows16(i, j, rows16, &hands, nullptr);
  }
  int64_t at(int32_t a, int32_t h) const { return wide ? rows32[a][h] : rows16[a][h]; }
};

// The rows of every board of turn slot i, as the store reads them back at
// full precision (a strategy-free view: the values themselves).
std::vector<std::vector<int64_t>> RowsOf(BlockStore& store, int32_t i) {
  std::vector<std::vector<int64_t>> rows;
  const BoardLayout& layout = *store.layout();
  for (int32_t j = 0; j < layout.turn_index[i].board_count; ++j) {
    const OpenBoardRows board(store, i, j);
    EXPECT_TRUE(board.ok);
    for (int32_t a = 0; a < layout.actions; ++a) {
      std::vector<int64_t> row(static_cast<size_t>(board.hands));
      for (int32_t h = 0; h < board.hands; ++h) row[h] = board.at(a, h);
      rows.push_back(row);
    }
  }
  return rows;
}

// Whether the places after every row's hands (up to the next multiple of
// four) hold zeros, as an open turn slot's cache must: the coded rows do not
// cover them.
bool PaddingIsZero(BlockStore& store, int32_t i) {
  const BoardLayout& layout = *store.layout();
  for (int32_t j = 0; j < layout.turn_index[i].board_count; ++j) {
    const OpenBoardRows board(store, i, j);
    if (!board.ok) return false;
    for (int32_t a = 0; a < layout.actions; ++a)
      for (int32_t h = board.hands; h < ((board.hands + 3) & ~3); ++h)
        if (board.at(a, h) != 0) return false;
  }
  return true;
}

void FillRandom(BlockStore& store, int32_t i, std::mt19937_64& rng) {
  const BoardLayout& layout = *store.layout();
  for (int32_t j = 0; j < layout.turn_index[i].board_count; ++j)
    for (int32_t a = 0; a < layout.actions; ++a) {
      std::vector<double> values(static_cast<size_t>(store.GetHandCount(i, j)));
      for (double& v : values) v = RandomValue(rng, store.width());
      store.SetActionValues(i, j, a, MakeArray(values));
    }
}

// A river subtree of four nodes: OOP, IP, OOP, IP, walked in this order.
struct Subtree {
  std::unique_ptr<BoardLayout> layout;
  std::vector<std::unique_ptr<BlockStore>> stores;
  static constexpr int kPlayers[4] = {0, 1, 0, 1};

  Subtree(Case c, int32_t actions, std::unique_ptr<BoardLayout> given = nullptr)
      : layout(given ? std::move(given) : ExampleLayout(actions)) {
    for (int k = 0; k < 4; ++k)
      stores.push_back(std::make_unique<BlockStore>(layout.get(), c.kind, c.width));
  }
  void Open(int32_t i) {
    int64_t counts[2] = {0, 0};
    for (int k = 0; k < 4; ++k) counts[kPlayers[k]] += stores[k]->GetValueCount(i);
    CompressedBlock* handles[2] = {nullptr, nullptr};
    for (int k = 0; k < 4; ++k) {
      CompressedBlock*& h = handles[kPlayers[k]];
      h = stores[k]->OpenValues(h, i, static_cast<int32_t>(counts[kPlayers[k]]));
    }
    for (CompressedBlock* h : handles)
      if (h) h->EndRead();
  }
  void Close(int32_t i, bool write_back_oop, bool write_back_ip) {
    CompressedBlock* handles[2] = {nullptr, nullptr};
    for (int k = 0; k < 4; ++k) {
      const int p = kPlayers[k];
      handles[p] = stores[k]->CloseValues(handles[p], i, p == 0 ? write_back_oop : write_back_ip);
    }
    for (CompressedBlock* h : handles)
      if (h) h->EndWrite();
  }
};

TEST(BlockStore, ValueCountsWithoutPadding) {
  auto layout = ExampleLayout(3);
  BlockStore store(layout.get(), Kind::PACKED, Width::BITS16);
  EXPECT_EQ(store.GetValueCount(-1), 3 * (45 + 44 + 47 + 43));
  EXPECT_EQ(store.GetValueCount(0), 3 * (45 + 44 + 47));
  EXPECT_EQ(store.GetValueCount(1), 3 * 43);
  EXPECT_TRUE(store.Allocate());
  EXPECT_EQ(store.Block(0), nullptr);  // Allocate makes nothing
  EXPECT_EQ(store.GetHandCount(0, 2), 47);
}

TEST(BlockStore, SubtreeRoundTripsThroughOneBlockPerPlayer) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(NameOf(c));
    for (int32_t actions : {2, 5}) {
      Subtree tree(c, actions);
      std::mt19937_64 rng(actions * 77 + static_cast<int>(c.kind));
      for (int32_t i = 0; i < 2; ++i) {
        // Never written: opens as zeros.
        tree.Open(i);
        for (auto& store : tree.stores)
          for (const auto& row : RowsOf(*store, i))
            for (int64_t v : row) ASSERT_EQ(v, 0);
        std::vector<std::vector<std::vector<int64_t>>> written;
        for (auto& store : tree.stores) {
          FillRandom(*store, i, rng);
          written.push_back(RowsOf(*store, i));
        }
        tree.Close(i, true, true);
        // The first node of each player holds the subtree's block.
        EXPECT_NE(tree.stores[0]->Block(i), nullptr);
        EXPECT_NE(tree.stores[1]->Block(i), nullptr);
        EXPECT_EQ(tree.stores[2]->Block(i), nullptr);
        EXPECT_EQ(tree.stores[3]->Block(i), nullptr);
        for (int pass = 0; pass < 2; ++pass) {
          tree.Open(i);
          for (size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(RowsOf(*tree.stores[k], i), written[k]);
            EXPECT_TRUE(PaddingIsZero(*tree.stores[k], i));
          }
          // Without write-back, then with it: the same values come back.
          tree.Close(i, pass == 1, pass == 1);
        }
        // One player changed and written back, the other dropped.
        tree.Open(i);
        FillRandom(*tree.stores[2], i, rng);
        FillRandom(*tree.stores[3], i, rng);
        written[2] = RowsOf(*tree.stores[2], i);
        tree.Close(i, true, false);
        tree.Open(i);
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(RowsOf(*tree.stores[k], i), written[k]);
        tree.Close(i, false, false);
      }
    }
  }
}

// Rows shorter than four places and boards without hands, between rows of
// every padding: each open clears exactly the places after the hands, never
// a row already read, whatever the cache held before (each open's cache is
// memory the previous one freed, full of values).
TEST(BlockStore, TinyRowsAndEmptyBoardsOpenWithZeroPadding) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(NameOf(c));
    for (int32_t actions : {1, 3}) {
      Subtree tree(c, actions, MakeBoardLayout(actions, {{3, 1, 0, 2, 5, 0}, {0, 1, 6, 4, 7}}));
      std::mt19937_64 rng(actions * 31 + static_cast<int>(c.width));
      for (int round = 0; round < 3; ++round) {
        for (int32_t i = 0; i < 2; ++i) {
          tree.Open(i);
          std::vector<std::vector<std::vector<int64_t>>> written;
          for (auto& store : tree.stores) {
            FillRandom(*store, i, rng);
            written.push_back(RowsOf(*store, i));
          }
          tree.Close(i, true, true);
          tree.Open(i);
          for (size_t k = 0; k < 4; ++k) {
            ASSERT_EQ(RowsOf(*tree.stores[k], i), written[k]) << "round " << round;
            ASSERT_TRUE(PaddingIsZero(*tree.stores[k], i)) << "round " << round;
            // Values in the padding, which the next open must clear again.
            for (int32_t j = 0; j < tree.layout->turn_index[i].board_count; ++j) {
              int32_t hands = 0;
              uint16_t* rows16[8];
              int32_t* rows32[8];
              const bool wide = c.width == Width::BITS32;
              ASSERT_TRUE(wide ? tree.stores[k]->BoardRows32(i, j, rows32, &hands, nullptr)
                               : tree.stores[k]->BoardRows16(i, j, rows16, &hands, nullptr));
              for (int32_t a = 0; a < actions; ++a)
                for (int32_t h = hands; h < ((hands + 3) & ~3); ++h) {
                  if (wide)
                    rows32[a][h] = 0x7777;
                  else
                    rows16[a][h] = 0x7777;
                }
            }
          }
          tree.Close(i, false, false);
        }
      }
    }
  }
}

TEST(BlockStore, BlocksStayWithinTheirReservations) {
  // The widest values everywhere: every packed group takes its widest form.
  for (const Case& c : kCases) {
    SCOPED_TRACE(NameOf(c));
    Subtree tree(c, 3);
    std::mt19937_64 rng(5);
    tree.Open(0);
    for (auto& store : tree.stores) {
      const BoardLayout& layout = *store->layout();
      for (int32_t j = 0; j < layout.turn_index[0].board_count; ++j)
        for (int32_t a = 0; a < layout.actions; ++a) {
          std::vector<double> values(static_cast<size_t>(store->GetHandCount(0, j)));
          for (double& v : values)
            v = c.width == Width::BITS16 ? 65535.0 - static_cast<double>(rng() % 7)
                                         : 2147483647.0 - static_cast<double>(rng() % 100000);
          store->SetActionValues(0, j, a, MakeArray(values));
        }
    }
    const int64_t reserved_before =
        tree.stores[0]->Reservation(0, tree.stores[0]->GetValueCount(0) * 2);
    tree.Close(0, true, true);
    CompressedBlock* block = tree.stores[0]->Block(0);
    ASSERT_NE(block, nullptr);
    if (auto* packed = dynamic_cast<PackedBlock*>(block)) {
      EXPECT_EQ(packed->Arena().Reserved(), reserved_before);
      EXPECT_LE(packed->Capacity(), packed->Arena().Reserved());
    } else {
      auto* stream = dynamic_cast<StreamBlock*>(block);
      ASSERT_NE(stream, nullptr);
      EXPECT_EQ(stream->Arena().Reserved(), reserved_before);
      EXPECT_LE(stream->DataBytes(), stream->Arena().Reserved());
    }
  }

  // The bound of a full turn slot's rows, two nodes of three actions, per
  // value: what the block kind and width can really take, not a figure for
  // every width (an array per value and a 32-bit escape each: 9 bytes).
  auto full = MakeBoardLayout(3, {std::vector<uint32_t>(48, 1081)});
  const double most[] = {2.2, 5.1, 6.2, 7.2};  // in the order of kCases
  for (size_t k = 0; k < std::size(kCases); ++k) {
    SCOPED_TRACE(NameOf(kCases[k]));
    BlockStore store(full.get(), kCases[k].kind, kCases[k].width);
    const int64_t count = 2 * store.GetValueCount(0);
    EXPECT_LE(static_cast<double>(store.Reservation(0, count)), most[k] * static_cast<double>(count));
  }
}

// A 16-bit block store gives the strategy of an arena store with the same
// regrets, bit for bit, for every action count.
TEST(BlockStore, RegretStrategyMatchesTheArenaStore) {
  for (int32_t actions = 1; actions <= 6; ++actions) {
    SCOPED_TRACE(actions);
    auto layout = ExampleLayout(actions);
    BlockStore block(layout.get(), Kind::STREAM, Width::BITS16);
    ArenaStore16 arena(layout.get());
    ASSERT_TRUE(arena.Allocate());
    block.OpenValues(nullptr, 0, 1000);
    std::mt19937_64 rng(actions);
    for (int32_t j = 0; j < 3; ++j)
      for (int32_t a = 0; a < actions; ++a) {
        std::vector<double> values(static_cast<size_t>(arena.GetHandCount(0, j)));
        for (size_t h = 0; h < values.size(); ++h)
          values[h] = h % 9 == 0 ? 0.0 : RandomValue(rng, Width::BITS16);
        block.SetActionValues(0, j, a, MakeArray(values));
        arena.SetActionValues(0, j, a, MakeArray(values));
      }
    std::vector<float> defaults(static_cast<size_t>(actions));
    for (int32_t a = 0; a < actions; ++a) defaults[a] = 0.125f * static_cast<float>(a + 1);
    for (int32_t j = 0; j < 3; ++j) {
      const auto x = block.GetStrategy(0, j, defaults.data());
      const auto y = arena.GetStrategy(0, j, defaults.data());
      ASSERT_EQ(x.size(), y.size());
      for (size_t a = 0; a < x.size(); ++a) {
        ASSERT_EQ(x[a].count, y[a].count);
        EXPECT_EQ(std::memcmp(x[a].data, y[a].data, sizeof(double) * x[a].count), 0);
      }
    }
    // The same regret update on both.
    std::vector<double> node(45), up(45), down(45);
    for (int h = 0; h < 45; ++h) {
      node[h] = (h % 7) * 3.0;
      up[h] = node[h] + (h % 5) * 11.0;
      down[h] = node[h] - (h % 3) * 17.0;
    }
    std::vector<NumArray> action_values;
    for (int32_t a = 0; a < actions; ++a) action_values.push_back(MakeArray(a % 2 ? up : down));
    block.UpdateRegrets(0, 0, MakeArray(node), action_values, nullptr, nullptr, 2.5);
    arena.UpdateRegrets(0, 0, MakeArray(node), action_values, nullptr, nullptr, 2.5);
    uint16_t* rows_block[8];
    uint16_t* rows_arena[8];
    int32_t hands_block = 0, hands_arena = 0;
    ASSERT_TRUE(block.BoardRows16(0, 0, rows_block, &hands_block, nullptr));
    ASSERT_TRUE(arena.BoardRows(0, 0, rows_arena, &hands_arena));
    for (int32_t a = 0; a < actions; ++a)
      EXPECT_EQ(std::memcmp(rows_block[a], rows_arena[a], 2 * 45), 0);
    block.CloseValues(nullptr, 0, false);
  }
}

TEST(BlockStore, IntegerSumsAccumulateSaturateAndNormalise) {
  auto layout = ExampleLayout(2);
  BlockStore store(layout.get(), Kind::PACKED, Width::BITS32);
  store.OpenValues(nullptr, 1, 100);
  const int32_t hands = 43;
  std::vector<NumArray> strategy;
  strategy.push_back(MakeArray(std::vector<double>(hands, 0.25)));
  strategy.push_back(MakeArray(std::vector<double>(hands, 0.75)));
  std::vector<double> reach(hands, 1.0);
  reach[3] = 0.0;
  NodeLockRecord* lock = store.GetLockRecord(1, 0);
  lock->flags = COMBO_LOCKED;
  lock->mask_length = hands;
  lock->mask = static_cast<uint8_t*>(std::calloc(hands, 1));
  lock->mask[5] = 1;

  store.AccumulateStrategy(1, 0, strategy, MakeArray(reach), 0.0);  // weight 0: nothing
  store.AccumulateStrategy(1, 0, strategy, MakeArray(reach), 10.0);
  int32_t* rows[2];
  int32_t n = 0;
  ASSERT_TRUE(store.BoardRows32(1, 0, rows, &n, nullptr));
  ASSERT_EQ(n, hands);
  EXPECT_EQ(rows[0][0], 3);  // 2.5 + 0.5, truncated
  EXPECT_EQ(rows[1][0], 8);  // 7.5 + 0.5
  EXPECT_EQ(rows[0][3], 0);  // no reach: + 0.5 truncates to 0
  EXPECT_EQ(rows[0][5], 0);  // a masked hand keeps its sum
  EXPECT_EQ(rows[1][5], 0);

  // Sums near the top stay there instead of wrapping.
  rows[0][7] = 2147483000;
  rows[1][7] = 2147483647;
  store.AccumulateStrategy(1, 0, strategy, MakeArray(reach), 1e6);
  EXPECT_EQ(rows[0][7], 2147483647);
  EXPECT_EQ(rows[1][7], 2147483647);

  // Strategies: the quotients, and the given defaults where nothing was added
  // (0 without defaults); two full rows sum above 2^31 without harm.
  const float defaults[2] = {0.0f, 0.0f};
  auto s = store.GetStrategy(1, 0, defaults);
  EXPECT_EQ(rows[0][0], 250003);
  EXPECT_EQ(rows[1][0], 750008);
  EXPECT_NEAR(s[0][0], 250003.0 / 1000011.0, 1e-6);
  EXPECT_NEAR(s[1][0], 750008.0 / 1000011.0, 1e-6);
  EXPECT_EQ(s[0][5], 0.0);
  EXPECT_EQ(s[1][5], 0.0);
  EXPECT_NEAR(s[0][7], 0.5, 1e-6);
  const float half[2] = {0.5f, 0.5f};
  EXPECT_EQ(store.GetStrategy(1, 0, half)[1][5], 0.5);
  EXPECT_EQ(store.GetStrategy(1, 0, nullptr)[0][5], 0.0);
  store.CloseValues(nullptr, 1, false);
}

TEST(BlockStoreKernels, BothBuildsAgreeWithTheScalarRules) {
  for (const auto& build :
       BuildsUnderTest(isa_avx::kBlockStoreKernels,
                       isa_avx2::kBlockStoreKernels, isa_avx512::kBlockStoreKernels)) {
    SCOPED_TRACE(build.name);
    std::mt19937_64 rng(3);
    const int32_t n = 37;
    std::vector<int32_t> rows[3];
    for (auto& r : rows) {
      r.resize(n);
      for (int32_t& v : r) v = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 2000000000);
    }
    rows[0][2] = rows[1][2] = rows[2][2] = 0;
    const int32_t* in[3] = {rows[0].data(), rows[1].data(), rows[2].data()};
    std::vector<double> out[3];
    double* outs[3];
    for (int a = 0; a < 3; ++a) {
      out[a].resize(n);
      outs[a] = out[a].data();
    }
    const float defaults[3] = {0.1f, 0.2f, 0.7f};
    build.NormalizeIntValues32(in, 3, n, defaults, outs);
    for (int32_t h = 0; h < n; ++h) {
      const double total = double(rows[0][h]) + rows[1][h] + rows[2][h];
      for (int a = 0; a < 3; ++a) {
        const double expected = total == 0 ? defaults[a] : rows[a][h] / total;
        EXPECT_NEAR(out[a][h], expected, 1e-6) << h;
      }
    }

    std::vector<int32_t> sums(n, 100);
    std::vector<double> strategy(n, 0.5), reach(n, 3.0);
    sums[1] = 2147483600;
    reach[4] = std::nan("");
    build.AccumulateValues32(sums.data(), strategy.data(), reach.data(), 40.0, n, nullptr);
    EXPECT_EQ(sums[0], 160);
    EXPECT_EQ(sums[1], 2147483647);
    EXPECT_EQ(sums[4], 0);  // NaN adds nothing it can wrap
    EXPECT_EQ(sums[n - 1], 160);

    std::vector<uint16_t> r16[4];
    const uint16_t* r16p[4];
    for (int a = 0; a < 4; ++a) {
      r16[a].resize(n);
      for (auto& v : r16[a]) v = static_cast<uint16_t>(rng() % 3 ? rng() % 65536 : 0);
      r16p[a] = r16[a].data();
    }
    r16[0][9] = r16[1][9] = r16[2][9] = r16[3][9] = 0;
    std::vector<double> o16[4];
    double* o16p[4];
    for (int a = 0; a < 4; ++a) {
      o16[a].resize(n);
      o16p[a] = o16[a].data();
    }
    const float d4[4] = {0.25f, 0.5f, 0.125f, 0.125f};
    build.NormalizeValues16x4(r16p, o16p, n, d4);
    for (int32_t h = 0; h < n; ++h) {
      const double total = double(r16[0][h]) + r16[1][h] + r16[2][h] + r16[3][h];
      for (int a = 0; a < 4; ++a)
        EXPECT_NEAR(o16[a][h], total == 0 ? d4[a] : r16[a][h] / total, 1e-6);
    }
  }
}

// The average strategy of integer sums in one pass against the way the
// evaluation passes took it before, bit for bit in each build: the integer
// normaliser on the sums (defaults 0), the 16-bit normalisers on the regrets
// as BlockStore::GetStrategy picks them (uniform defaults), and per hand the
// current strategy where the sums' quotients add up to 0.
TEST(BlockStoreKernels, AverageIntStrategyEqualsTheSeparateRoutines) {
  const auto builds = BuildsUnderTest(isa_avx::kBlockStoreKernels, isa_avx2::kBlockStoreKernels,
                                      isa_avx512::kBlockStoreKernels);
  const auto regret_builds = BuildsUnderTest(isa_avx::kValueKernels16, isa_avx2::kValueKernels16,
                                             isa_avx512::kValueKernels16);
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> pick(0, 99);
  for (size_t b = 0; b < builds.size(); ++b) {
    const auto& build = builds[b];
    const auto& regret_build = regret_builds[b];
    for (int actions = 1; actions <= kMaxFusedActions; ++actions) {
      for (int n : {3, 8, 13, 403, 530}) {
        std::vector<std::vector<int32_t>> sums(actions, std::vector<int32_t>(n));
        std::vector<std::vector<uint16_t>> regrets(actions, std::vector<uint16_t>(n));
        for (int h = 0; h < n; ++h) {
          const int hand_kind = pick(rng);  // no sums, huge sums, or ordinary ones
          for (int a = 0; a < actions; ++a) {
            regrets[a][h] = pick(rng) < 30 ? 0 : static_cast<uint16_t>(rng() % 65536);
            sums[a][h] = hand_kind < 25   ? 0
                         : hand_kind < 35 ? INT32_MAX - static_cast<int32_t>(rng() % 1000)
                         : pick(rng) < 20 ? 0
                                          : static_cast<int32_t>(rng() % 50000000);
          }
        }
        std::vector<float> uniform(actions, 1.0f / static_cast<float>(actions));
        const std::vector<float> zeros(actions, 0.0f);
        std::vector<const int32_t*> sum_rows;
        std::vector<const uint16_t*> regret_rows;
        std::vector<std::vector<double>> average(actions, std::vector<double>(n));
        std::vector<std::vector<double>> current(actions, std::vector<double>(n));
        std::vector<std::vector<double>> got(actions, std::vector<double>(n));
        std::vector<double*> average_out, current_out, got_out;
        for (int a = 0; a < actions; ++a) {
          sum_rows.push_back(sums[a].data());
          regret_rows.push_back(regrets[a].data());
          average_out.push_back(average[a].data());
          current_out.push_back(current[a].data());
          got_out.push_back(got[a].data());
        }

        // The separate routines.
        build.NormalizeIntValues32(sum_rows.data(), actions, n, zeros.data(), average_out.data());
        if (actions == 2) {
          regret_build.NormalizeValues16x2(regret_rows[0], regret_rows[1], current_out[0],
                                           current_out[1], n, uniform.data());
        } else if (actions == 3) {
          regret_build.NormalizeValues16x3(regret_rows[0], regret_rows[1], regret_rows[2],
                                           current_out[0], current_out[1], current_out[2], n,
                                           uniform.data());
        } else if (actions == 4) {
          build.NormalizeValues16x4(regret_rows.data(), current_out.data(), n, uniform.data());
        } else {
          std::vector<uint32_t> counts(n, 0);
          for (int a = 0; a < actions; ++a)
            regret_build.SumValues16(counts.data(), regret_rows[a], n);
          for (int a = 0; a < actions; ++a)
            regret_build.NormalizeValues16(regret_rows[a], counts.data(), current_out[a], n,
                                           uniform[a]);
        }
        for (int h = 0; h < n; ++h) {
          double total = average[0][h];
          for (int a = 1; a < actions; ++a) total += average[a][h];
          if (total == 0.0)
            for (int a = 0; a < actions; ++a) average[a][h] = current[a][h];
        }

        build.AverageIntStrategy32(sum_rows.data(), regret_rows.data(), actions, n,
                                   uniform.data(), got_out.data());
        for (int a = 0; a < actions; ++a)
          ASSERT_EQ(std::memcmp(got[a].data(), average[a].data(), sizeof(double) * n), 0)
              << build.name << " actions " << actions << " hands " << n << " action " << a;
      }
    }
  }
}

// Lock records, then the block flag and every turn slot's block.
TEST(BlockStore, WriteAndReadRoundTripExactly) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(NameOf(c));
    Subtree tree(c, 3);
    BlockStore& store = *tree.stores[0];
    // Without blocks: the records and the flag 0.
    BufferWriter empty;
    store.Write(empty);
    ASSERT_EQ(empty.bytes.size(), 4u * 4 + 1);
    EXPECT_EQ(empty.bytes.back(), 0);
    {
      BlockStore copy(tree.layout.get(), c.kind, c.width);
      BufferReader in(empty.bytes, 6);
      copy.Read(in);
      EXPECT_EQ(in.position(), empty.bytes.size());
      EXPECT_EQ(copy.Block(0), nullptr);
    }

    std::mt19937_64 rng(11);
    std::vector<std::vector<int64_t>> written[2];
    for (int32_t i = 0; i < 2; ++i) {
      tree.Open(i);
      for (auto& s : tree.stores) FillRandom(*s, i, rng);
      written[i] = RowsOf(store, i);
      tree.Close(i, true, true);
    }
    store.GetLockRecord(0, 1)->flags = LOCKED;
    NodeLockRecord* combo = store.GetLockRecord(1, 0);
    combo->flags = COMBO_LOCKED;
    combo->mask_length = 43;
    combo->mask = static_cast<uint8_t*>(std::calloc(43, 1));
    combo->mask[0] = combo->mask[1] = combo->mask[40] = 1;

    BufferWriter out;
    store.Write(out);
    // Records: flags of boards 0-2, then the combo record with its runs
    // 0, 2, 38, 1, 2.
    std::vector<uint8_t> head;
    Append<uint32_t>(head, 0);
    Append<uint32_t>(head, LOCKED);
    Append<uint32_t>(head, 0);
    Append<uint32_t>(head, COMBO_LOCKED);
    Append<int16_t>(head, 43);
    Append<int16_t>(head, 5);
    for (int16_t run : {0, 2, 38, 1, 2}) Append<int16_t>(head, run);
    head.push_back(1);
    ASSERT_GT(out.bytes.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), out.bytes.begin()));

    Subtree loaded(c, 3);
    BlockStore& copy = *loaded.stores[0];
    BufferReader in(out.bytes, 6);
    copy.Read(in);
    EXPECT_EQ(in.position(), out.bytes.size());
    EXPECT_EQ(copy.GetLockRecord(0, 1)->flags, LOCKED);
    ASSERT_NE(copy.GetLockRecord(1, 0)->mask, nullptr);
    EXPECT_EQ(std::memcmp(copy.GetLockRecord(1, 0)->mask, combo->mask, 43), 0);
    BufferWriter again;
    copy.Write(again);
    EXPECT_EQ(again.bytes, out.bytes);
    // The loaded block decodes to the values written, for the whole subtree.
    for (int32_t i = 0; i < 2; ++i) {
      BufferWriter other;
      tree.stores[1]->Write(other);
      BufferReader other_in(other.bytes, 6);
      loaded.stores[1]->Read(other_in);
      loaded.Open(i);
      EXPECT_EQ(RowsOf(copy, i), written[i]);
      loaded.Close(i, false, false);
    }
  }
}

TEST(BlockStore, DamagedRecordsFailWithAnErrorNeverACrash) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(NameOf(c));
    Subtree tree(c, 2);
    std::mt19937_64 rng(17);
    for (int32_t i = 0; i < 2; ++i) {
      tree.Open(i);
      for (auto& s : tree.stores) FillRandom(*s, i, rng);
      tree.Close(i, true, true);
    }
    BufferWriter out;
    tree.stores[0]->Write(out);
    // Every truncation is refused.
    for (size_t cut = 0; cut < out.bytes.size(); cut += 1 + cut / 16) {
      std::vector<uint8_t> part(out.bytes.begin(), out.bytes.begin() + cut);
      BlockStore copy(tree.layout.get(), c.kind, c.width);
      BufferReader in(part, 6);
      EXPECT_ANY_THROW(copy.Read(in)) << cut;
      EXPECT_EQ(copy.Block(0), nullptr);
    }
    // Flipped bytes: refused at Read, or read and then refused or decoded to
    // something when opened; never outside the block's memory (the sanitizer
    // build checks that).
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<uint8_t> bad = out.bytes;
      const size_t at = static_cast<size_t>(rng() % bad.size());
      bad[at] ^= static_cast<uint8_t>(1 + rng() % 255);
      Subtree copy(c, 2);
      BufferReader in(bad, 6);
      try {
        copy.stores[0]->Read(in);
      } catch (const std::exception&) {
        continue;
      }
      for (int32_t i = 0; i < 2; ++i) {
        try {
          copy.Open(i);
        } catch (const std::exception&) {
          // Refused while decoding: the turn slot is closed again and the
          // block can be read once more.
          EXPECT_FALSE(copy.stores[0]->IsOpen(i));
          copy.Close(i, false, false);
          continue;
        }
        copy.Close(i, false, false);
      }
    }
  }
}

}  // namespace
