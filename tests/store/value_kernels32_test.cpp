// The eight-hand block form of every float row kernel against the exact scalar
// formulas, in both builds, on random rows that start off alignment and end
// with a remainder.
#include "store/value_kernels32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "platform/cpu_features.h"
#include "support/kernel_builds.h"

namespace {

using Build = BuildUnderTest<ValueKernels32>;
std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kValueKernels32,
                         isa_avx2::kValueKernels32, isa_avx512::kValueKernels32);
}

// 1003 hands: 125 blocks and a remainder of three; rows start one float past
// a 32-byte boundary.
constexpr int kHands = 1003;
constexpr int kOffset = 1;

std::mt19937 g_rng(20240611);

std::vector<float> RandomFloats(float low, float high, double zero_share) {
  std::uniform_real_distribution<float> value(low, high);
  std::bernoulli_distribution zero(zero_share);
  std::vector<float> v(kHands + kOffset);
  for (float& x : v) x = zero(g_rng) ? 0.0f : value(g_rng);
  return v;
}

std::vector<double> RandomDoubles(double low, double high) {
  std::uniform_real_distribution<double> value(low, high);
  std::vector<double> v(kHands + kOffset);
  for (double& x : v) x = value(g_rng);
  return v;
}

std::vector<uint8_t> RandomMask() {
  std::bernoulli_distribution locked(0.3);
  std::vector<uint8_t> mask(kHands + kOffset);
  for (uint8_t& m : mask) m = locked(g_rng) ? 1 : 0;
  // One block with every hand locked and one with none.
  std::fill(mask.begin() + kOffset + 16, mask.begin() + kOffset + 24, 1);
  std::fill(mask.begin() + kOffset + 24, mask.begin() + kOffset + 32, 0);
  return mask;
}

double ExactQuotient(float row, float sum, float fallback) {
  return sum >= FLT_MIN ? static_cast<double>(row / sum) : fallback;
}

// Within `ulps` units in the last place of a float at the given scale in the
// blocks of eight, whose estimates differ between processors; exact in the
// hands walked one by one.
void ExpectClose(double expected, double actual, double scale, int ulps, int hand) {
  if (hand - kOffset >= kHands - kHands % 8) {
    EXPECT_EQ(expected, actual) << "hand " << hand;
    return;
  }
  const double tolerance = ulps * FLT_EPSILON * std::max(std::fabs(scale), 1e-30);
  EXPECT_NEAR(expected, actual, tolerance) << "hand " << hand;
}

TEST(ValueKernels32Test, NormalizersMatchExactDivision) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::vector<float> r0 = RandomFloats(0.0f, 50.0f, 0.3);
    std::vector<float> r1 = RandomFloats(0.0f, 1e-3f, 0.3);
    std::vector<float> r2 = RandomFloats(0.0f, 7.0f, 0.3);
    const float defaults[3] = {0.5f, 0.25f, 0.125f};
    std::vector<double> o0(kHands + kOffset), o1(kHands + kOffset), o2(kHands + kOffset);

    // General form: the sum row, then each row over it.
    std::vector<float> sums(kHands + kOffset, 0.0f);
    for (auto* row : {&r0, &r1, &r2})
      build.SumValues32(sums.data() + kOffset, row->data() + kOffset, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k) ASSERT_EQ(sums[k], (r0[k] + r1[k]) + r2[k]);
    build.NormalizeValues32(o1.data() + kOffset, r1.data() + kOffset, sums.data() + kOffset, kHands,
                            defaults[1]);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const double exact = ExactQuotient(r1[k], sums[k], defaults[1]);
      ExpectClose(exact, o1[k], exact, 4, k);
    }

    build.NormalizeValues32x2(r0.data() + kOffset, r1.data() + kOffset, o0.data() + kOffset,
                              o1.data() + kOffset, kHands, defaults);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const float sum = r0[k] + r1[k];
      const double e0 = ExactQuotient(r0[k], sum, defaults[0]);
      const double e1 = ExactQuotient(r1[k], sum, defaults[1]);
      ExpectClose(e0, o0[k], e0, 4, k);
      ExpectClose(e1, o1[k], e1, 4, k);
    }

    build.NormalizeValues32x3(r0.data() + kOffset, r1.data() + kOffset, r2.data() + kOffset,
                              o0.data() + kOffset, o1.data() + kOffset, o2.data() + kOffset, kHands,
                              defaults);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const float sum = (r0[k] + r1[k]) + r2[k];
      const double exact[3] = {ExactQuotient(r0[k], sum, defaults[0]),
                               ExactQuotient(r1[k], sum, defaults[1]),
                               ExactQuotient(r2[k], sum, defaults[2])};
      const double* out[3] = {o0.data(), o1.data(), o2.data()};
      for (int a = 0; a < 3; ++a) ExpectClose(exact[a], out[a][k], exact[a], 4, k);
    }
  }
}

TEST(ValueKernels32Test, RegretUpdateMatchesExactPowers) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    const std::vector<float> start = RandomFloats(0.0f, 200.0f, 0.2);
    const std::vector<double> node = RandomDoubles(-60.0, 60.0);
    std::vector<double> action = RandomDoubles(-60.0, 60.0);
    std::vector<double> node_tiny = node;
    // Differences of zero, below FLT_MIN and just above it.
    for (int k = kOffset; k < kHands + kOffset; k += 7) action[k] = node[k];
    for (int k = kOffset + 3; k < kHands + kOffset; k += 11) {
      node_tiny[k] = 0.0;
      action[k] = (k & 1) ? 5e-39 : 2e-38;
    }
    const std::vector<uint8_t> mask = RandomMask();

    for (int variant = 0; variant < 4; ++variant) {
      const bool with_mask = variant & 1;
      const bool absent_action = variant & 2;
      std::vector<float> row = start;
      const std::vector<double>& node_in = absent_action ? node : node_tiny;
      build.UpdateRegrets32(row.data() + kOffset, node_in.data() + kOffset,
                            absent_action ? nullptr : action.data() + kOffset, kHands,
                            with_mask ? mask.data() + kOffset : nullptr);
      for (int k = kOffset; k < kHands + kOffset; ++k) {
        if (with_mask && mask[k]) {
          ASSERT_EQ(row[k], start[k]);
          continue;
        }
        const float d = static_cast<float>((absent_action ? 0.0 : action[k]) - node_in[k]);
        const float x = std::fabs(d);
        const float t = x >= FLT_MIN ? std::sqrt(x) * std::sqrt(std::sqrt(x)) : 0.0f;
        const float sum = d >= 0 ? start[k] + t : start[k] - t;
        const float exact = sum < FLT_MIN ? 0.0f : sum;
        // The refined estimates of the two square roots leave the block
        // form's power up to about 8 float epsilons from the exact one, in a
        // direction that differs between processors.
        ExpectClose(exact, row[k], std::max(start[k], t), 10, k);
        EXPECT_GE(row[k], 0.0f);
      }
    }
  }
}

// A NaN difference reaches the regret in a block of eight and in a hand
// walked on its own alike.
TEST(ValueKernels32Test, NanDifferencesGiveNanInBothForms) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::vector<float> row(9, 3.0f);
    std::vector<double> node(9, 1.0), action(9, 1.0);
    node[0] = node[8] = std::nan("");
    build.UpdateRegrets32(row.data(), node.data(), action.data(), 9, nullptr);
    EXPECT_TRUE(std::isnan(row[0]));
    EXPECT_TRUE(std::isnan(row[8]));
    EXPECT_EQ(row[1], 3.0f);
  }
}

TEST(ValueKernels32Test, ExactKernelsAreExactInBothForms) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    const std::vector<double> values = RandomDoubles(-1e3, 1e3);
    std::vector<float> row(kHands + kOffset, 9.0f);
    build.SetActionValues32(row.data() + kOffset, values.data() + kOffset, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k)
      ASSERT_EQ(row[k], static_cast<float>(values[k]));
    EXPECT_EQ(row[0], 9.0f);
    build.SetActionValues32(row.data() + kOffset, nullptr, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k) ASSERT_EQ(row[k], 0.0f);

    const std::vector<float> start = RandomFloats(0.0f, 10.0f, 0.1);
    const std::vector<double> strategy = RandomDoubles(0.0, 1.0);
    const std::vector<double> reach = RandomDoubles(0.0, 1.0);
    const std::vector<uint8_t> mask = RandomMask();
    const double weight = 37.5;
    std::vector<float> sums = start;
    build.AccumulateStrategy32(sums.data() + kOffset, strategy.data() + kOffset,
                               reach.data() + kOffset, weight, kHands, mask.data() + kOffset);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const float expected =
          mask[k] ? start[k] : start[k] + static_cast<float>((weight * strategy[k]) * reach[k]);
      ASSERT_EQ(sums[k], expected) << "hand " << k;
    }
    // No weight, or an absent reach or strategy: nothing changes.
    for (double w : {0.0, -1.0, std::nan("")})
      build.AccumulateStrategy32(sums.data() + kOffset, strategy.data() + kOffset,
                                 reach.data() + kOffset, w, kHands, nullptr);
    build.AccumulateStrategy32(sums.data() + kOffset, strategy.data() + kOffset, nullptr, 1.0,
                               kHands, nullptr);
    build.AccumulateStrategy32(sums.data() + kOffset, nullptr, reach.data() + kOffset, 1.0, kHands,
                               nullptr);
    for (int k = kOffset; k < kHands + kOffset; ++k)
      ASSERT_EQ(sums[k], mask[k] ? start[k]
                                 : start[k] + static_cast<float>((weight * strategy[k]) * reach[k]));
  }
}

}  // namespace
