// The four-column showdown kernel against four calls of the single-node
// kernels of the same build: every output must agree to the bit. Random hand
// lists of every length modulo 4, random strength groups (some that do not
// cover the list), columns with zero, sparse, dense, tiny (under the floor) and
// odd (NaN, negative) reach, absent columns, and faulty cards. The fold
// halves of pairs, four at once or riding in a spare column, against the
// fold half and the pair kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu_features.h"
#include "solver/showdown_columns.h"
#include "solver/terminal_kernels.h"

namespace {

// A build's four-column kernels and the single-node kernels they must match.
struct Build {
  const char* name;
  const ShowdownColumnsKernels& columns;
  const TerminalKernels& single;
};
std::vector<Build> Builds() {
  std::vector<Build> builds = {
      {"avx", isa_avx::kShowdownColumnsKernels, isa_avx::kTerminalKernels}};
  if (CpuHasAvx2Fma())
    builds.push_back({"avx2", isa_avx2::kShowdownColumnsKernels, isa_avx2::kTerminalKernels});
  if (CpuHasAvx512())
    builds.push_back(
        {"avx512", isa_avx512::kShowdownColumnsKernels, isa_avx512::kTerminalKernels});
  return builds;
}

struct Board {
  std::vector<uint16_t> cards;
  std::vector<int16_t> groups;
};

// Random distinct-card pairs (repeats of a pair allowed) in random strength
// groups; big groups make many ties. Not covering: a zero and a negative size
// and a total that misses n.
Board RandomBoard(std::mt19937& rng, int32_t n, bool covering, int max_group) {
  Board b;
  std::uniform_int_distribution<int> card(0, 51);
  for (int32_t i = 0; i < n; ++i) {
    int lo = card(rng), hi = card(rng);
    while (hi == lo) hi = card(rng);
    if (lo > hi) std::swap(lo, hi);
    b.cards.push_back(static_cast<uint16_t>(lo | hi << 8));
  }
  std::uniform_int_distribution<int> size(1, max_group);
  for (int32_t left = n; left > 0;) {
    const int s = std::min<int>(left, rng() % 3 == 0 ? 1 : size(rng));
    b.groups.push_back(static_cast<int16_t>(s));
    left -= s;
  }
  if (!covering) {
    b.groups.insert(b.groups.begin() + static_cast<long>(rng() % (b.groups.size() + 1)), 0);
    b.groups.insert(b.groups.begin() + static_cast<long>(rng() % (b.groups.size() + 1)), -2);
    if (rng() % 2)
      b.groups.back() = static_cast<int16_t>(b.groups.back() + 3);
    else if (b.groups.size() > 1)
      b.groups.pop_back();
  }
  return b;
}

// kEdges: only the first and the last hands (the ends of the kernel's lists of
// taken hands, and a last block of fewer than four).
enum class Reach { kZero, kSparse, kDense, kFull, kTiny, kOdd, kOneHand, kEdges };
constexpr unsigned kReachKinds = 8;

std::vector<double> RandomReach(std::mt19937& rng, int32_t n, Reach kind) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> r(static_cast<size_t>(n), 0.0);
  for (int32_t i = 0; i < n; ++i) {
    const double x = u(rng);
    switch (kind) {
      case Reach::kZero: break;
      case Reach::kSparse: r[i] = x < 0.1 ? u(rng) : 0.0; break;
      case Reach::kDense: r[i] = x < 0.6 ? u(rng) : 0.0; break;
      case Reach::kFull: r[i] = u(rng) + 1e-3; break;
      case Reach::kTiny: r[i] = x < 0.5 ? 1e-300 * u(rng) : 0.0; break;
      case Reach::kOdd:
        r[i] = x < 0.1 ? std::nan("") : x < 0.2 ? -u(rng) : x < 0.3 ? -0.0 : x < 0.7 ? u(rng) : 0.0;
        break;
      case Reach::kOneHand: break;
      case Reach::kEdges: r[i] = i == 0 || i + 3 > n ? u(rng) + 1e-3 : 0.0; break;
    }
  }
  if (kind == Reach::kOneHand && n > 0) r[rng() % n] = 0.25;
  return r;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  // memcmp must not see the null data of empty vectors.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

constexpr double kUnwritten = 12345.678;

// Four random columns checked against the single kernels; each column is a
// showdown with payoff v, or a showdown and fold on one reach.
void CheckRandomColumns(const Build& build, std::mt19937& rng, const Board& b, bool allow_absent) {
  const int32_t n = static_cast<int32_t>(b.cards.size());
  const int32_t gc = static_cast<int32_t>(b.groups.size());
  std::vector<double> reach[4], out[4], fold[4], want[4], want_fold[4];
  ShowdownColumn col[4];
  bool with_fold[4];
  const double payoffs[] = {1.0, -1.0, 269.0, -0.75, 0.0, 1e-30, 350.0, -13.7};
  for (int k = 0; k < 4; ++k) {
    reach[k] = RandomReach(rng, n, static_cast<Reach>(rng() % kReachKinds));
    out[k].assign(n, kUnwritten);
    fold[k].assign(n, kUnwritten);
    want[k].assign(n, kUnwritten);
    want_fold[k].assign(n, kUnwritten);
    with_fold[k] = rng() % 2;
    const bool absent = allow_absent && rng() % 4 == 0;
    col[k].in = absent ? nullptr : reach[k].data();
    col[k].out = out[k].data();
    const double p = payoffs[rng() % 8], q = payoffs[rng() % 8];
    if (with_fold[k]) {
      col[k].f = p;
      col[k].fold_out = fold[k].data();
      col[k].fold_v = q;
      if (!absent)
        build.single.ComputeShowdownAndFold(want[k].data(), want_fold[k].data(), reach[k].data(), n,
                                            b.groups.data(), gc, b.cards.data(), p, q);
    } else {
      col[k].v = p;
      if (!absent)
        build.single.ComputeShowdownValues(want[k].data(), reach[k].data(), n, b.groups.data(), gc,
                                           b.cards.data(), p);
    }
  }
  build.columns.ComputeShowdownColumns(col, n, b.groups.data(), gc, b.cards.data());
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE("column " + std::to_string(k));
    EXPECT_TRUE(SameBits(out[k], want[k]));
    EXPECT_TRUE(SameBits(fold[k], want_fold[k]));
  }
}

TEST(ShowdownColumns, FourColumnsMatchFourSingleCallsBitForBit) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
      const int32_t n = round < 12 ? round : static_cast<int32_t>(rng() % 700);
      const Board b = RandomBoard(rng, n, round % 5 != 0, round % 2 ? 4 : 40);
      SCOPED_TRACE("round " + std::to_string(round) + " n " + std::to_string(n));
      CheckRandomColumns(build, rng, b, round % 3 == 0);
    }
  }
}

TEST(ShowdownColumns, FullBoardsAndOneBigTie) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(11);
    for (const int32_t n : {kMaxBoardHands, 1081, 1}) {
      Board b = RandomBoard(rng, n, true, 16);
      CheckRandomColumns(build, rng, b, false);
      b.groups = {static_cast<int16_t>(n)};  // every hand ties
      CheckRandomColumns(build, rng, b, true);
    }
  }
}

// The pair kernel's showdown walks even under the floor when its fold's total
// is above it; the kernel reports the total either way.
TEST(ShowdownColumns, WalkSmallMatchesThePairKernel) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(3);
    const int32_t n = 301;
    const Board b = RandomBoard(rng, n, true, 8);
    const int32_t gc = static_cast<int32_t>(b.groups.size());
    const std::vector<double> tiny = RandomReach(rng, n, Reach::kTiny);
    const std::vector<double> dense = RandomReach(rng, n, Reach::kDense);
    std::vector<double> want_a(n), want_b(n), got(n, kUnwritten);
    build.single.ComputeShowdownAndFoldPair(want_a.data(), want_b.data(), tiny.data(), dense.data(),
                                            n, b.groups.data(), gc, b.cards.data(), -1.5, 2.0);
    ShowdownColumn col[4];
    col[2] = {tiny.data(), got.data(), -1.5, 1.0, nullptr, 0.0, true};
    build.columns.ComputeShowdownColumns(col, n, b.groups.data(), gc, b.cards.data());
    EXPECT_TRUE(SameBits(got, want_a));
    EXPECT_LE(std::fabs(col[2].total), kShowdownTotalFloor);
    EXPECT_NE(col[2].total, 0.0);
    EXPECT_EQ(col[0].total, 0.0);
    // Without walk_small the same column is zeroed.
    col[2].walk_small = false;
    build.columns.ComputeShowdownColumns(col, n, b.groups.data(), gc, b.cards.data());
    EXPECT_TRUE(SameBits(got, std::vector<double>(n, 0.0)));
  }
}

TEST(ShowdownColumns, FaultyCardsAreSkippedAsTheSingleKernelsDo) {
#ifndef NDEBUG
  GTEST_SKIP() << "faulty cards assert in debug builds";
#endif
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
      Board b = RandomBoard(rng, 50 + round * 7, true, 6);
      b.cards[rng() % b.cards.size()] = static_cast<uint16_t>(3 | (52 + round) << 8);
      b.cards[rng() % b.cards.size()] = static_cast<uint16_t>(200 | 7 << 8);
      CheckRandomColumns(build, rng, b, true);
    }
  }
}

// A list longer than any board: the single kernels' long walk per column.
TEST(ShowdownColumns, LongListsFallBackToTheSingleKernels) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(9);
    const Board b = RandomBoard(rng, kMaxBoardHands + 5, true, 10);
    CheckRandomColumns(build, rng, b, true);
  }
}

}  // namespace

namespace {

// The pair kernel (separate showdown and fold reaches) as a walk_small column
// plus its fold half, four pairs at a time, on every kind of reach for either
// side.
TEST(ShowdownColumns, PairsAsColumnsAndFoldHalvesMatchThePairKernel) {
  // Payoffs of a real tree: products with them round.
  const double payoffs[] = {350.0, -13.7, 269.0, -0.3, 1.0, 0.0};
  for (const Build& build : Builds()) {
    std::mt19937 rng(21);
    for (int round = 0; round < 200; ++round) {
      const int32_t n = 1 + static_cast<int32_t>(rng() % 500);
      const Board b = RandomBoard(rng, n, round % 4 != 0, round % 2 ? 5 : 30);
      const int32_t gc = static_cast<int32_t>(b.groups.size());
      std::vector<double> in_a[4], in_b[4], want_a[4], want_b[4], got_a[4], got_b[4];
      ShowdownColumn col[4];
      double fold_v[4] = {};
      for (int k = 0; k < 4; ++k) {
        in_a[k] = RandomReach(rng, n, static_cast<Reach>(rng() % kReachKinds));
        in_b[k] = RandomReach(rng, n, static_cast<Reach>(rng() % kReachKinds));
        want_a[k].assign(n, kUnwritten);
        want_b[k].assign(n, kUnwritten);
        got_a[k].assign(n, kUnwritten);
        got_b[k].assign(n, kUnwritten);
        if (round % 3 == 0 && k == 1) continue;  // an absent pair
        const double a = payoffs[rng() % 6], fold_b = payoffs[rng() % 6];
        build.single.ComputeShowdownAndFoldPair(want_a[k].data(), want_b[k].data(), in_a[k].data(),
                                                in_b[k].data(), n, b.groups.data(), gc,
                                                b.cards.data(), a, fold_b);
        col[k] = {in_a[k].data(), got_a[k].data(), a, 1.0, nullptr, 0.0, true};
        fold_v[k] = fold_b;
      }
      build.columns.ComputeShowdownColumns(col, n, b.groups.data(), gc, b.cards.data());
      for (int k = 0; k < 4; ++k)
        if (col[k].in)
          build.columns.FinishShowdownFoldPair(got_a[k].data(), got_b[k].data(), in_b[k].data(), n,
                                               b.cards.data(), fold_v[k], col[k].total);
      SCOPED_TRACE("round " + std::to_string(round));
      for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(SameBits(got_a[k], want_a[k])) << k;
        EXPECT_TRUE(SameBits(got_b[k], want_b[k])) << k;
      }
    }
  }
}

}  // namespace

namespace {


// Reaches beyond RandomReach's: every entry -0.0, and one hand whose reach
// puts the fold's total exactly at the floor or one step above it.
std::vector<double> FoldReach(std::mt19937& rng, int32_t n, int kind) {
  if (kind < 7) return RandomReach(rng, n, static_cast<Reach>(kind));
  std::vector<double> r(static_cast<size_t>(n), kind == 7 ? -0.0 : 0.0);
  if (kind > 7 && n > 0)
    r[rng() % n] = kind == 8 ? kShowdownTotalFloor : std::nextafter(kShowdownTotalFloor, 1.0);
  return r;
}

// Up to four pair folds at once against one FinishShowdownFoldPair each: the
// showdown outputs hold earlier values (zeroed with the fold or kept), absent
// columns are never written.
void CheckFoldColumns(const Build& build, std::mt19937& rng, const Board& b, int present) {
  const int32_t n = static_cast<int32_t>(b.cards.size());
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  const double payoffs[] = {350.0, -13.7, 269.0, -0.3, 1.0, 0.0, 1e-30};
  const double showdown_totals[] = {0.0, -0.0, kShowdownTotalFloor, -kShowdownTotalFloor,
                                    std::nextafter(kShowdownTotalFloor, 1.0), 1.0, -42.5};
  std::vector<double> in[4], got_a[4], got_b[4], want_a[4], want_b[4];
  FoldPairColumn col[4];
  for (int k = 0; k < 4; ++k) {
    const int kind = static_cast<int>(rng() % 10);
    in[k] = FoldReach(rng, n, kind);
    got_a[k].assign(n, kUnwritten);
    got_b[k].assign(n, kUnwritten);
    if (!(present >> k & 1)) continue;
    for (double& x : got_a[k]) x = u(rng);
    want_a[k] = got_a[k];
    want_b[k].assign(n, kUnwritten);
    // Payoff 1 on the floor reaches, so that the total lands where meant.
    const double v = kind >= 8 ? 1.0 : payoffs[rng() % 7];
    const double total = showdown_totals[rng() % 7];
    col[k] = {in[k].data(), got_b[k].data(), got_a[k].data(), v, total};
    build.columns.FinishShowdownFoldPair(want_a[k].data(), want_b[k].data(), in[k].data(), n,
                                         b.cards.data(), v, total);
  }
  build.columns.FinishShowdownFoldColumns(col, n, b.cards.data());
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE("column " + std::to_string(k));
    if (present >> k & 1) {
      EXPECT_TRUE(SameBits(got_a[k], want_a[k]));
      EXPECT_TRUE(SameBits(got_b[k], want_b[k]));
    } else {
      EXPECT_TRUE(SameBits(got_a[k], std::vector<double>(n, kUnwritten)));
      EXPECT_TRUE(SameBits(got_b[k], std::vector<double>(n, kUnwritten)));
    }
  }
}

TEST(ShowdownColumns, FoldColumnsMatchOneFoldHalfEach) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(31);
    for (int round = 0; round < 400; ++round) {
      const int32_t n = round < 24 ? round % 12 : 1 + static_cast<int32_t>(rng() % 600);
      const Board b = RandomBoard(rng, n, true, 8);
      // Every set of present columns, 0 to 4 of them, in turn.
      const int present = round % 16;
      SCOPED_TRACE("round " + std::to_string(round) + " n " + std::to_string(n));
      CheckFoldColumns(build, rng, b, present);
    }
    const Board full = RandomBoard(rng, kMaxBoardHands, true, 8);
    CheckFoldColumns(build, rng, full, 15);
  }
}

TEST(ShowdownColumns, FoldColumnsOnFaultyCardsOrLongListsZeroAsTheFoldHalf) {
#ifndef NDEBUG
  GTEST_SKIP() << "faulty cards assert in debug builds";
#endif
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::mt19937 rng(37);
    for (int round = 0; round < 10; ++round) {
      Board b = RandomBoard(rng, 40 + round * 9, true, 6);
      b.cards[rng() % b.cards.size()] = static_cast<uint16_t>(5 | (52 + round) << 8);
      CheckFoldColumns(build, rng, b, 1 + round % 15);
    }
    CheckFoldColumns(build, rng, RandomBoard(rng, kMaxBoardHands + 3, true, 6), 0b1011);
  }
}

// A pair's fold riding in a spare column (fold_only, walk_small) beside its
// showdown column and others, with the caller's zero test on both totals:
// the pair kernel's values, and the other columns' as before.
TEST(ShowdownColumns, RidingFoldColumnsMatchThePairKernel) {
  const double payoffs[] = {350.0, -13.7, 269.0, -0.3, 1.0, 0.0};
  for (const Build& build : Builds()) {
    std::mt19937 rng(41);
    for (int round = 0; round < 300; ++round) {
      const int32_t n = round < 12 ? round : 1 + static_cast<int32_t>(rng() % 500);
      Board b = RandomBoard(rng, n, round % 4 != 0, round % 2 ? 5 : 30);
      const bool faulty = round % 10 == 9 && n > 0;
#ifndef NDEBUG
      if (faulty) continue;
#endif
      if (faulty) b.cards[rng() % b.cards.size()] = static_cast<uint16_t>(60 | 2 << 8);
      const int32_t gc = static_cast<int32_t>(b.groups.size());
      // Lanes: the pair's showdown, its fold, a showdown-and-fold column and
      // an absent or plain showdown column, in a random order.
      int lane[4] = {0, 1, 2, 3};
      std::shuffle(lane, lane + 4, rng);
      const std::vector<double> in_a = FoldReach(rng, n, static_cast<int>(rng() % 10));
      const std::vector<double> in_b = FoldReach(rng, n, static_cast<int>(rng() % 10));
      const std::vector<double> in_c = RandomReach(rng, n, static_cast<Reach>(rng() % kReachKinds));
      const double a = payoffs[rng() % 6], fold_b = payoffs[rng() % 6];
      const double f = payoffs[rng() % 6], fold_c = payoffs[rng() % 6];
      std::vector<double> want_a(n), want_b(n), want_c(n), want_cf(n);
      build.single.ComputeShowdownAndFoldPair(want_a.data(), want_b.data(), in_a.data(),
                                              in_b.data(), n, b.groups.data(), gc, b.cards.data(),
                                              a, fold_b);
      build.single.ComputeShowdownAndFold(want_c.data(), want_cf.data(), in_c.data(), n,
                                          b.groups.data(), gc, b.cards.data(), f, fold_c);
      std::vector<double> got_a(n, kUnwritten), got_b(n, kUnwritten), got_c(n, kUnwritten),
          got_cf(n, kUnwritten), got_d(n, kUnwritten);
      ShowdownColumn col[4];
      col[lane[0]] = {in_a.data(), got_a.data(), a, 1.0, nullptr, 0.0, true};
      ShowdownColumn& ride = col[lane[1]];
      ride.in = in_b.data();
      ride.out = nullptr;
      ride.v = fold_b;
      ride.fold_out = got_b.data();
      ride.fold_v = 99.0;  // not used by a fold-only column
      ride.fold_only = true;
      ride.walk_small = true;
      col[lane[2]] = {in_c.data(), got_c.data(), 1.0, f, got_cf.data(), fold_c, false};
      const bool fourth = round % 3 != 0;
      if (fourth) col[lane[3]] = {in_c.data(), got_d.data(), -0.75};
      build.columns.ComputeShowdownColumns(col, n, b.groups.data(), gc, b.cards.data());
      if (std::fabs(col[lane[0]].total) <= kShowdownTotalFloor &&
          std::fabs(ride.total) <= kShowdownTotalFloor) {
        std::fill(got_a.begin(), got_a.end(), 0.0);
        std::fill(got_b.begin(), got_b.end(), 0.0);
      }
      SCOPED_TRACE("round " + std::to_string(round) + " n " + std::to_string(n));
      EXPECT_TRUE(SameBits(got_a, want_a));
      EXPECT_TRUE(SameBits(got_b, want_b));
      EXPECT_TRUE(SameBits(got_c, want_c));
      EXPECT_TRUE(SameBits(got_cf, want_cf));
      if (!fourth) {
        EXPECT_TRUE(SameBits(got_d, std::vector<double>(n, kUnwritten)));
      }
    }
  }
}

}  // namespace
