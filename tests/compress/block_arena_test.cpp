#include "compress/block_arena.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

TEST(BlockArena, CommitsAGrowingPrefixInWholeSteps) {
  BlockArena arena(4095, 100'000);
  EXPECT_EQ(arena.Reserved(), 102'400);  // rounded up to the step
  EXPECT_EQ(arena.Base(), nullptr);      // nothing reserved before the first growth
  arena.Grow(0);
  EXPECT_EQ(arena.Base(), nullptr);

  arena.Grow(1);
  ASSERT_NE(arena.Base(), nullptr);
  EXPECT_EQ(arena.Committed(), 4096);
  EXPECT_EQ(arena.Used(), 1);
  uint8_t* const base = arena.Base();
  EXPECT_EQ(base[4095], 0);  // committed memory reads as zeros
  base[0] = 7;

  arena.Grow(4097);
  EXPECT_EQ(arena.Committed(), 8192);
  arena.Grow(10);  // never decommitted while the block lives
  EXPECT_EQ(arena.Committed(), 8192);
  EXPECT_EQ(arena.Used(), 10);
  arena.Grow(102'400);
  EXPECT_EQ(arena.Committed(), 102'400);
  EXPECT_EQ(arena.Base(), base);  // within the reservation the data never moves
  EXPECT_EQ(base[0], 7);

  // A new write keeps the memory.
  arena.ResetUse();
  EXPECT_EQ(arena.Used(), 0);
  EXPECT_EQ(arena.Committed(), 102'400);

  BlockArena packed(65535, 1);
  packed.Grow(1);
  EXPECT_EQ(packed.Committed(), 65536);
}

TEST(BlockArena, OutgrowingTheReservationMovesTheBytes) {
  // A block loaded with a reservation smaller than its writes need.
  BlockArena arena(4095, 4096);
  arena.Grow(4096);
  for (int k = 0; k < 4096; ++k) arena.Base()[k] = static_cast<uint8_t>(k * 7);
  arena.Grow(5000);
  EXPECT_EQ(arena.Reserved(), 8192);  // doubled
  EXPECT_EQ(arena.Committed(), 8192);
  arena.Grow(1'000'000);
  EXPECT_EQ(arena.Reserved(), 1'003'520);  // the need, above double
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(arena.Base()[k], static_cast<uint8_t>(k * 7));
  arena.Base()[999'999] = 1;

  // Reservations stop at the largest block, which the saved forms can count.
  BlockArena huge(65535, int64_t{1} << 40);
  EXPECT_EQ(huge.Reserved(), int64_t{1} << 31);
  EXPECT_THROW(huge.Grow(kMaxBlockBytes + 1), std::bad_alloc);
  EXPECT_EQ(huge.Base(), nullptr);
}

#if defined(__SANITIZE_ADDRESS__)
#define TDX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TDX_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef TDX_ADDRESS_SANITIZER
// The process's address-space limit held just above what it uses, so that a
// 1 GiB reservation fails. (The address sanitizer needs the address space.)
void LimitAddressSpace() {
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages = 0;
  statm >> pages;
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) +
                                    (256ull << 20);
  setrlimit(RLIMIT_AS, &limit);
}
#endif

// Under an address-space limit a reservation fails however little memory it
// would take: the growth throws, and the arena, its bytes included, stays as
// it was for the owner to go on with.
TEST(BlockArenaDeathTest, AFailedReservationThrowsAndLeavesTheArenaAsItWas) {
#ifdef TDX_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs the address space";
#else
  EXPECT_EXIT(
      {
        LimitAddressSpace();
        BlockArena fresh(65535, int64_t{1} << 30);
        bool threw = false;
        try {
          fresh.Grow(100);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        if (!threw || fresh.Base() != nullptr || fresh.Used() != 0) std::_Exit(3);

        BlockArena small(4095, 4096);
        small.Grow(100);
        small.Base()[99] = 7;
        uint8_t* const base = small.Base();
        for (int k = 0; k < 2; ++k) {
          threw = false;
          try {
            if (k == 0)
              small.Reserve(int64_t{1} << 30);
            else
              small.Grow(int64_t{1} << 30);
          } catch (const std::bad_alloc&) {
            threw = true;
          }
          if (!threw || small.Base() != base || small.Reserved() != 4096 ||
              small.Used() != 100 || base[99] != 7)
            std::_Exit(4 + k);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace

namespace {

int MappingCount() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  int count = 0;
  while (std::getline(maps, line)) ++count;
  return count;
}

// Big trees hold hundreds of thousands of blocks, each filled in part: the
// blocks must not each cost the process mappings of their own, which the
// kernel limits (vm.max_map_count, 65530 by default).
TEST(BlockArena, PartlyFilledBlocksShareMappings) {
  constexpr int kBlocks = 4000;
  const int before = MappingCount();
  std::vector<std::unique_ptr<BlockArena>> arenas;
  for (int k = 0; k < kBlocks; ++k) {
    arenas.push_back(std::make_unique<BlockArena>(4095, 64 * 1024));
    arenas.back()->Grow(4096 + k % 3 * 4096);
    arenas.back()->Base()[0] = 1;
  }
  EXPECT_LT(MappingCount() - before, kBlocks / 4);
}

}  // namespace
