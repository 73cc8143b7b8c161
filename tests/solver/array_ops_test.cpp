#include "solver/array_ops.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "cards/card.h"
#include "platform/cpu_features.h"
#include "platform/fp_mode.h"
#include "support/num_arrays.h"
#include "tree/deal_tree.h"

namespace {

// ---------------------------------------------------------------------------
// Every build's table, so every case runs on each of them.

struct Build {
  const char* name;
  bool fused;
  bool avx512;
  const ArrayOpsKernels& kernels;
};
const Build kAvx512 = {"isa_avx512", true, true, isa_avx512::kArrayOpsKernels};
const Build kAvx2 = {"isa_avx2", true, false, isa_avx2::kArrayOpsKernels};
const Build kAvx = {"isa_avx", false, false, isa_avx::kArrayOpsKernels};

NumArray Absent(int32_t count) {
  NumArray a;
  a.count = count;
  return a;
}

std::vector<double> Values(const NumArray& a) {
  EXPECT_NE(a.data, nullptr);
  if (!a.data) return {};
  return std::vector<double>(a.data, a.data + a.count);
}

void ExpectAbsent(const NumArray& a, int32_t count) {
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.count, count);
}

// Nine hands: two whole vector blocks and one hand in the scalar tail.
const std::vector<double> kA = {1, -2, 3, -4, 5, -6, 7, -8, 9};
const std::vector<double> kB = {0.5, 2, 0.25, 1, 0, 3, -1, 0.5, 2};
const std::vector<uint8_t> kMask = {1, 0, 0, 1, 1, 0, 1, 0, 1};

class ArrayOpsTest : public ::testing::TestWithParam<const Build*> {
 protected:
  void SetUp() override {
    if (GetParam()->fused && !CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2/FMA";
    if (GetParam()->avx512 && !CpuHasAvx512()) GTEST_SKIP() << "no AVX-512";
  }
  const ArrayOpsKernels& B() const { return GetParam()->kernels; }
};

TEST_P(ArrayOpsTest, Scales) {
  NumArray a = MakeArray(kA);
  B().ScaleArray(a, 0.5);
  EXPECT_EQ(Values(a), (std::vector<double>{0.5, -1, 1.5, -2, 2.5, -3, 3.5, -4, 4.5}));
  NumArray absent = Absent(9);
  B().ScaleArray(absent, 2.0);
  ExpectAbsent(absent, 9);

  // The EV-boost forms: positive values by p, negative ones by n; zero is >= 0.
  NumArray s = MakeArray({2, -2, 0, 4, -4, 8, -8, 1, -1});
  B().ScaleSigned(s, 1.5, 0.25);
  EXPECT_EQ(Values(s), (std::vector<double>{3, -0.5, 0, 6, -1, 12, -2, 1.5, -0.25}));
  NumArray p = MakeArray({2, -2, 0, 4, -4, 8, -8, 1, -1});
  B().ScalePositive(p, 1.5);
  EXPECT_EQ(Values(p), (std::vector<double>{3, -2, 0, 6, -4, 12, -8, 1.5, -1}));
  NumArray none = Absent(4);
  B().ScaleSigned(none, 2, 2);
  B().ScalePositive(none, 2);
  ExpectAbsent(none, 4);
}

TEST_P(ArrayOpsTest, MultiplyArraysAndAbsentInputs) {
  NumArray out;
  B().MultiplyArrays(out, MakeArray(kA), MakeArray(kB));
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, -4, 0.75, -4, 0, -18, -7, -4, 18}));

  // Either input absent: out loses its data and takes a's count.
  B().MultiplyArrays(out, Absent(7), MakeArray(kB));
  ExpectAbsent(out, 7);
  out = MakeArray(kA);
  B().MultiplyArrays(out, MakeArray(kA), Absent(3));
  ExpectAbsent(out, 9);

  // In place, and a short b (caller fault): past b's end out is zero.
  NumArray a = MakeArray(kA);
  B().MultiplyArrays(a, a, MakeArray({2, 2, 2, 2, 2}));
  EXPECT_EQ(Values(a), (std::vector<double>{2, -4, 6, -8, 10, 0, 0, 0, 0}));
  // out is b with another count: b must be read before out is resized.
  NumArray b = MakeArray({3, 3});
  B().MultiplyArrays(b, MakeArray({1, 2, 3}), b);
  EXPECT_EQ(Values(b), (std::vector<double>{3, 6, 0}));
}

TEST_P(ArrayOpsTest, MultiplyArraysPrunedThreshold) {
  ScopedDefaultFpMode keep_subnormals;
  // Ten hands, two of them in the vector blocks and the tail carrying the sum.
  std::vector<double> a(10, 0.0);
  const std::vector<double> ones(10, 1.0);
  a[3] = DBL_MIN / 2;
  a[9] = DBL_MIN / 2;
  NumArray out;
  B().MultiplyArraysPruned(out, MakeArray(a), MakeArray(ones));
  ASSERT_NE(out.data, nullptr) << "a sum of exactly DBL_MIN is kept";
  EXPECT_EQ(out[3], DBL_MIN / 2);
  EXPECT_EQ(out[9], DBL_MIN / 2);

  a[9] = std::nextafter(DBL_MIN / 2, 0.0);
  NumArray pruned;
  B().MultiplyArraysPruned(pruned, MakeArray(a), MakeArray(ones));
  ExpectAbsent(pruned, 10);

  // A present out is freed when pruned and keeps a's count.
  NumArray reused = MakeArray({1, 2, 3});
  B().MultiplyArraysPruned(reused, MakeArray(a), MakeArray(ones));
  ExpectAbsent(reused, 10);

  // Absent b prunes; absent a hands on an absent out with a's count.
  NumArray c = MakeArray(kA);
  B().MultiplyArraysPruned(c, MakeArray(kA), Absent(9));
  ExpectAbsent(c, 9);
  NumArray fresh;
  B().MultiplyArraysPruned(fresh, Absent(12), MakeArray(kB));
  ExpectAbsent(fresh, 12);
}

TEST_P(ArrayOpsTest, MultiplyArraysPrunedFailsOnPresentOutWithAbsentInput) {
  const ArrayOpsKernels& build = B();
  EXPECT_EXIT(
      {
        NumArray out = MakeArray({1.0});
        build.MultiplyArraysPruned(out, Absent(1), MakeArray({1.0}));
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_P(ArrayOpsTest, MultiplyInPlacePruned) {
  ScopedDefaultFpMode keep_subnormals;
  NumArray sigma = MakeArray(kB);
  B().MultiplyInPlacePruned(sigma, MakeArray({2, 2, 2, 2, 2, 2, 2, 2, 2}));
  EXPECT_EQ(Values(sigma), (std::vector<double>{1, 4, 0.5, 2, 0, 6, -2, 1, 4}));

  NumArray tiny = MakeArray({0.25, 0.25, 0.25, 0.25, 0.25});
  B().MultiplyInPlacePruned(tiny, MakeArray({0, 0, 0, 0, 4 * std::nextafter(DBL_MIN, 0.0)}));
  ExpectAbsent(tiny, 5);
  NumArray kept = MakeArray({0.25, 0.25, 0.25, 0.25, 0.25});
  B().MultiplyInPlacePruned(kept, MakeArray({0, 0, 0, 0, 4 * DBL_MIN}));
  EXPECT_EQ(kept[4], DBL_MIN);

  // Absent reach: the strategy becomes absent with the reach's count.
  NumArray s = MakeArray(kB);
  B().MultiplyInPlacePruned(s, Absent(9));
  ExpectAbsent(s, 9);
  NumArray absent = Absent(0);
  B().MultiplyInPlacePruned(absent, MakeArray(kB));
  ExpectAbsent(absent, 9);
}

TEST_P(ArrayOpsTest, MultiplyAddAndAccumulate) {
  NumArray out = MakeArray(kA);
  B().MultiplyAddArrays(out, MakeArray(kB), MakeArray({2, 2, 2, 2, 2, 2, 2, 2, 2}));
  EXPECT_EQ(Values(out), (std::vector<double>{2, 2, 3.5, -2, 5, 0, 5, -7, 13}));

  // Absent out: zeros of its count first; absent a or b: nothing at all.
  NumArray zeros = Absent(9);
  B().MultiplyAddArrays(zeros, MakeArray(kA), MakeArray(kB));
  EXPECT_EQ(Values(zeros), (std::vector<double>{0.5, -4, 0.75, -4, 0, -18, -7, -4, 18}));
  NumArray untouched = Absent(9);
  B().MultiplyAddArrays(untouched, Absent(9), MakeArray(kB));
  B().MultiplyAddArrays(untouched, MakeArray(kA), Absent(9));
  ExpectAbsent(untouched, 9);

  // Fused in the AVX2 build: (1 + 2^-30)(1 - 2^-30) - 1 = -2^-60 exactly, while
  // a rounded product gives 1 and the sum 0. Five hands: vector and tail.
  const double up = 1 + std::ldexp(1.0, -30), down = 1 - std::ldexp(1.0, -30);
  NumArray f = MakeArray({-1, -1, -1, -1, -1});
  B().MultiplyAddArrays(f, MakeArray({up, up, up, up, up}),
                        MakeArray({down, down, down, down, down}));
  const double expected = GetParam()->fused ? -std::ldexp(1.0, -60) : 0.0;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f[i], expected) << i;

  NumArray sum = Absent(9);
  B().AccumulateArray(sum, MakeArray(kA));
  B().AccumulateArray(sum, MakeArray(kB));
  B().AccumulateArray(sum, Absent(9));
  EXPECT_EQ(Values(sum), (std::vector<double>{1.5, 0, 3.25, -3, 5, -3, 6, -7.5, 11}));
  NumArray none = Absent(9);
  B().AccumulateArray(none, Absent(9));
  ExpectAbsent(none, 9);
  // An output that never got a count takes the input's rather than dropping it.
  NumArray fresh;
  B().AccumulateArray(fresh, MakeArray({1, 2}));
  EXPECT_EQ(Values(fresh), (std::vector<double>{1, 2}));
}

TEST_P(ArrayOpsTest, MaxArrays) {
  NumArray out = MakeArray(kB);
  B().MaxArrays(out, MakeArray(kA));
  EXPECT_EQ(Values(out), (std::vector<double>{1, 2, 3, 1, 5, 3, 7, 0.5, 9}));
  // Absent a: the maximum with zero.
  NumArray neg = MakeArray(kA);
  B().MaxArrays(neg, Absent(9));
  EXPECT_EQ(Values(neg), (std::vector<double>{1, 0, 3, 0, 5, 0, 7, 0, 9}));
  // Absent out: zeros first.
  NumArray fresh = Absent(9);
  B().MaxArrays(fresh, MakeArray(kA));
  EXPECT_EQ(Values(fresh), (std::vector<double>{1, 0, 3, 0, 5, 0, 7, 0, 9}));
  NumArray both = Absent(5);
  B().MaxArrays(both, Absent(5));
  EXPECT_EQ(Values(both), (std::vector<double>(5, 0.0)));
}

TEST_P(ArrayOpsTest, CombineFirstMasked) {
  NumArray out;
  B().CombineFirstMasked(out, MakeArray(kA), MakeArray(kB), kMask.data());
  // Masked hands follow the strategy, the others keep their best response.
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, -2, 3, -4, 0, -6, -7, -8, 18}));
  B().CombineFirstMasked(out, MakeArray(kA), MakeArray(kB), nullptr);
  EXPECT_EQ(Values(out), kA);
  B().CombineFirstMasked(out, Absent(9), MakeArray(kB), kMask.data());
  ExpectAbsent(out, 9);
  // Absent strategy: zeros on the masked hands, not the loss of the others.
  B().CombineFirstMasked(out, MakeArray(kA), Absent(9), kMask.data());
  EXPECT_EQ(Values(out), (std::vector<double>{0, -2, 3, 0, 0, -6, 0, -8, 0}));
}

TEST_P(ArrayOpsTest, CombineMaxMasked) {
  const std::vector<double> start = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  NumArray out = MakeArray(start);
  B().CombineMaxMasked(out, MakeArray(kA), MakeArray(kB), kMask.data());
  EXPECT_EQ(Values(out), (std::vector<double>{1.5, 1, 3, -3, 1, 1, -6, 1, 19}));

  // Absent a: unmasked hands take max(out, 0), masked hands add nothing.
  NumArray neg = MakeArray(kA);
  B().CombineMaxMasked(neg, Absent(9), MakeArray(kB), kMask.data());
  EXPECT_EQ(Values(neg), (std::vector<double>{1, 0, 3, -4, 5, 0, 7, 0, 9}));
  // Absent strategy: masked add nothing, the others still take a.
  NumArray s = MakeArray(start);
  B().CombineMaxMasked(s, MakeArray(kA), Absent(9), kMask.data());
  EXPECT_EQ(Values(s), (std::vector<double>{1, 1, 3, 1, 1, 1, 1, 1, 1}));
  // Absent out: zeros first; null mask: the plain maximum.
  NumArray fresh = Absent(9);
  B().CombineMaxMasked(fresh, MakeArray(kA), MakeArray(kB), kMask.data());
  EXPECT_EQ(Values(fresh), (std::vector<double>{0.5, 0, 3, -4, 0, 0, -7, 0, 18}));
  NumArray plain = MakeArray(start);
  B().CombineMaxMasked(plain, MakeArray(kA), MakeArray(kB), nullptr);
  EXPECT_EQ(Values(plain), (std::vector<double>{1, 1, 3, 1, 5, 1, 7, 1, 9}));
}

TEST_P(ArrayOpsTest, MismatchedCountsStayInBounds) {
  // Short inputs count as zeros past their end; nothing is read or written out
  // of bounds (the sanitizer build checks the latter).
  NumArray out = MakeArray({1, 1, 1, 1, 1, 1});
  B().MultiplyAddArrays(out, MakeArray({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}), MakeArray({2, 2, 2}));
  EXPECT_EQ(Values(out), (std::vector<double>{3, 3, 3, 1, 1, 1}));
  B().AccumulateArray(out, MakeArray({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(Values(out), (std::vector<double>{4, 4, 4, 2, 2, 2}));
  NumArray m = MakeArray({-1, -1, -1, -1, -1, -1});
  B().MaxArrays(m, MakeArray({-2, 5}));
  EXPECT_EQ(Values(m), (std::vector<double>{-1, 5, 0, 0, 0, 0}));
  const std::vector<uint8_t> mask(6, 1);
  NumArray c = MakeArray({1, 1, 1, 1, 1, 1});
  B().CombineMaxMasked(c, MakeArray({1, 1, 1, 1, 1}), MakeArray({1, 1}), mask.data());
  EXPECT_EQ(Values(c), (std::vector<double>{2, 2, 1, 1, 1, 1}));
  NumArray first;
  B().CombineFirstMasked(first, MakeArray({1, 2, 3, 4, 5}), MakeArray({2, 2}), mask.data());
  EXPECT_EQ(Values(first), (std::vector<double>{2, 4, 0, 0, 0}));
  NumArray pruned;
  B().MultiplyArraysPruned(pruned, MakeArray({1, 1, 1, 1, 1}), MakeArray({1}));
  EXPECT_EQ(Values(pruned), (std::vector<double>{1, 0, 0, 0, 0}));
  NumArray in_place = MakeArray({1, 1, 1, 1, 1});
  B().MultiplyInPlacePruned(in_place, MakeArray({3, 3}));
  EXPECT_EQ(Values(in_place), (std::vector<double>{3, 3, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// The node-value formula against the definition, pair by pair.

struct TargetCase {
  std::vector<CardMask> hands;
  NumArray node_values, reach, own;
};

TargetCase RandomTarget(std::mt19937& rng) {
  TargetCase t;
  const CardMask board = CardBit(0) | CardBit(17) | CardBit(34);
  std::bernoulli_distribution keep(0.6), zero(0.15);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int hi = 1; hi < kCardCount; ++hi)
    for (int lo = 0; lo < hi; ++lo) {
      const CardMask h = CardBit(hi) | CardBit(lo);
      if (!(h & board) && keep(rng)) t.hands.push_back(h);
    }
  const int32_t n = static_cast<int32_t>(t.hands.size());
  t.node_values.Resize(n);
  t.reach.Resize(n);
  t.own.Resize(n);
  for (int32_t i = 0; i < n; ++i) {
    t.node_values[i] = u(rng) - 0.4;
    t.reach[i] = zero(rng) ? 0.0 : u(rng);
    t.own[i] = u(rng);
  }
  return t;
}

double BruteForceSum(const std::vector<CardMask>& hands, const NumArray& reach, size_t h) {
  double s = 0.0;
  for (size_t j = 0; j < hands.size(); ++j)
    if (!(hands[j] & hands[h])) s += reach[static_cast<int32_t>(j)];
  return s;
}

TEST_P(ArrayOpsTest, CollectTargetValuesMatchesBruteForce) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3; ++round) {
    TargetCase t = RandomTarget(rng);
    NumArray values, weights;
    B().CollectTargetValues(values, weights, t.node_values, t.reach, t.own, t.hands.data(), 1980.0);
    ASSERT_EQ(values.count, t.node_values.count);
    ASSERT_EQ(weights.count, t.own.count);
    for (size_t h = 0; h < t.hands.size(); ++h) {
      const int32_t i = static_cast<int32_t>(h);
      const double s = BruteForceSum(t.hands, t.reach, h);
      ASSERT_GT(s, 0.0);
      EXPECT_NEAR(values[i], t.node_values[i] / s, 1e-12 * std::fabs(t.node_values[i] / s)) << h;
      EXPECT_NEAR(weights[i], s * 1980.0 * t.own[i], 1e-12 * s * 1980.0) << h;
    }
  }
}

TEST_P(ArrayOpsTest, CollectTargetValuesZeroAndAbsentCases) {
  // All opponent reach on hands that hold the ace or king of spades: AsKs sees
  // none, however the sums round, and gets value 0 and weight 0.
  const int as = CardNumber(12, 3), ks = CardNumber(11, 3);
  std::vector<CardMask> hands = {CardBit(as) | CardBit(ks)};
  std::vector<double> reach = {0.7};
  for (int c = 0; c < 40; ++c) {
    hands.push_back(CardBit(c) | CardBit(c % 2 ? as : ks));
    reach.push_back(0.1 + c / 3.0);
  }
  hands.push_back(CardBit(0) | CardBit(1));  // no spade: no reach either
  reach.push_back(0.0);
  const int32_t n = static_cast<int32_t>(hands.size());
  NumArray node_values = MakeArray(std::vector<double>(n, 1e-17));
  NumArray own = MakeArray(std::vector<double>(n, 1.0));
  NumArray values, weights;
  B().CollectTargetValues(values, weights, node_values, MakeArray(reach), own, hands.data(), 44.0);
  EXPECT_EQ(values[0], 0.0);
  EXPECT_EQ(weights[0], 0.0);
  // A hand that collides with only half of them still sees the other half.
  const double s_last = BruteForceSum(hands, MakeArray(reach), n - 1);
  EXPECT_NEAR(weights[n - 1] / 44.0, s_last, 1e-12 * s_last);

  // Absent opponent reach: s = 0 everywhere. Absent node values: values are
  // zeros of their count. Absent own reach: weights are zeros of its count.
  B().CollectTargetValues(values, weights, node_values, Absent(n), own, hands.data(), 1.0);
  EXPECT_EQ(Values(values), std::vector<double>(n, 0.0));
  EXPECT_EQ(Values(weights), std::vector<double>(n, 0.0));
  B().CollectTargetValues(values, weights, Absent(n), MakeArray(reach), Absent(n), hands.data(),
                          1.0);
  EXPECT_EQ(Values(values), std::vector<double>(n, 0.0));
  EXPECT_EQ(Values(weights), std::vector<double>(n, 0.0));
}

TEST_P(ArrayOpsTest, AccumulateCardReach) {
  CardRecord record;
  B().AccumulateCardReach(record, 1, MakeArray(kB), 2.0);
  EXPECT_EQ(Values(record.reach_sums[1]), (std::vector<double>{1, 4, 0.5, 2, 0, 6, -2, 1, 4}));
  EXPECT_EQ(record.reach_sums[0].data, nullptr);
  B().AccumulateCardReach(record, 1, MakeArray(kA), 0.5);
  EXPECT_EQ(Values(record.reach_sums[1]),
            (std::vector<double>{1.5, 3, 2, 0, 2.5, 3, 1.5, -3, 8.5}));
  // Absent reach: the sums are sized and zeroed, nothing is added.
  B().AccumulateCardReach(record, 0, Absent(9), 3.0);
  EXPECT_EQ(Values(record.reach_sums[0]), std::vector<double>(9, 0.0));
  // Frozen: nothing at all.
  CardRecord frozen;
  frozen.frozen = 1;
  B().AccumulateCardReach(frozen, 0, MakeArray(kA), 1.0);
  ExpectAbsent(frozen.reach_sums[0], 0);
  record.frozen = 1;
  B().AccumulateCardReach(record, 1, MakeArray(kA), 1.0);
  EXPECT_EQ(record.reach_sums[1][8], 8.5);
}

INSTANTIATE_TEST_SUITE_P(Builds, ArrayOpsTest, ::testing::Values(&kAvx512, &kAvx2, &kAvx),
                         [](const auto& info) { return std::string(info.param->name); });

// ---------------------------------------------------------------------------
// The builds on the same random 1003-hand arrays: exact where nothing is
// fused, within a rounding of the fused products otherwise; the AVX-512 build
// fuses as the AVX2 build does and matches it exactly.

TEST(ArrayOpsBuildsTest, BuildsAgree) {
  if (!CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2/FMA";
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int32_t n = 1003;
  auto random_array = [&] {
    NumArray a(n);
    for (int32_t i = 0; i < n; ++i) a[i] = u(rng);
    return a;
  };
  std::vector<uint8_t> mask(n);
  for (auto& m : mask) m = rng() % 3 == 0;
  const NumArray a = random_array(), b = random_array(), base = random_array();
  auto start = [&] {
    NumArray o(n);
    for (int32_t i = 0; i < n; ++i) o[i] = base[i];
    return o;
  };
  auto expect_same = [&](const NumArray& x, const NumArray& y, double tolerance, const char* op) {
    ASSERT_EQ(x.count, y.count) << op;
    ASSERT_EQ(x.data != nullptr, y.data != nullptr) << op;
    for (int32_t i = 0; x.data && i < x.count; ++i) {
      if (tolerance == 0.0)
        ASSERT_EQ(x[i], y[i]) << op << " hand " << i;
      else
        ASSERT_NEAR(x[i], y[i], tolerance) << op << " hand " << i;
    }
  };
  auto run = [&](auto&& op, double tolerance, const char* name) {
    NumArray x = start(), y = start();
    op(isa_avx2::kArrayOpsKernels, x);
    op(isa_avx::kArrayOpsKernels, y);
    expect_same(x, y, tolerance, name);
    if (CpuHasAvx512()) {
      NumArray z = start();
      op(isa_avx512::kArrayOpsKernels, z);
      expect_same(x, z, 0.0, name);
    }
  };
  const uint8_t* m = mask.data();
  run([&](const auto& k, NumArray& o) { k.ScaleArray(o, 0.3); }, 0.0, "scale");
  run([&](const auto& k, NumArray& o) { k.ScaleSigned(o, 1.1, 1 / 1.1); }, 0.0, "signed");
  run([&](const auto& k, NumArray& o) { k.ScalePositive(o, 1.1); }, 0.0, "positive");
  run([&](const auto& k, NumArray& o) { k.MultiplyArrays(o, a, b); }, 0.0, "multiply");
  run([&](const auto& k, NumArray& o) { k.MultiplyArraysPruned(o, a, b); }, 0.0, "pruned");
  run([&](const auto& k, NumArray& o) { k.MultiplyInPlacePruned(o, b); }, 0.0, "in place");
  run([&](const auto& k, NumArray& o) { k.AccumulateArray(o, a); }, 0.0, "accumulate");
  run([&](const auto& k, NumArray& o) { k.MaxArrays(o, a); }, 0.0, "max");
  run([&](const auto& k, NumArray& o) { k.CombineFirstMasked(o, a, b, m); }, 0.0, "first");
  run([&](const auto& k, NumArray& o) { k.MultiplyAddArrays(o, a, b); }, 1e-15, "multiply add");
  run([&](const auto& k, NumArray& o) { k.CombineMaxMasked(o, a, b, m); }, 1e-15, "combine max");
  run(
      [&](const auto& k, NumArray& o) {
        CardRecord record;
        record.reach_sums[0] = std::move(o);
        k.AccumulateCardReach(record, 0, a, 0.7);
        o = std::move(record.reach_sums[0]);
      },
      1e-15, "card reach");
}

}  // namespace
