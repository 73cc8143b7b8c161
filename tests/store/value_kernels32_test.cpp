// The eight-hand block form of every float row kernel against the exact scalar
// formulas, in both builds, on random rows that start off alignment and end
// with a remainder.
#include "store/value_kernels32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "platform/cpu_features.h"
#include "solver/array_ops.h"
#include "store/num_array.h"

namespace {

struct Build {
  const char* name;
  decltype(&isa_avx::SumValues32) sum;
  decltype(&isa_avx::NormalizeValues32) normalize;
  decltype(&isa_avx::NormalizeValues32x2) normalize2;
  decltype(&isa_avx::NormalizeValues32x3) normalize3;
  decltype(&isa_avx::SetActionValues32) set_values;
  decltype(&isa_avx::UpdateRegrets32) update;
  decltype(&isa_avx::AccumulateStrategy32) accumulate;
};

std::vector<Build> Builds() {
  std::vector<Build> builds = {{"avx", isa_avx::SumValues32, isa_avx::NormalizeValues32,
                                isa_avx::NormalizeValues32x2, isa_avx::NormalizeValues32x3,
                                isa_avx::SetActionValues32, isa_avx::UpdateRegrets32,
                                isa_avx::AccumulateStrategy32}};
  if (CpuHasAvx2Fma())
    builds.push_back({"avx2", isa_avx2::SumValues32, isa_avx2::NormalizeValues32,
                      isa_avx2::NormalizeValues32x2, isa_avx2::NormalizeValues32x3,
                      isa_avx2::SetActionValues32, isa_avx2::UpdateRegrets32,
                      isa_avx2::AccumulateStrategy32});
  return builds;
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

// Within `ulps` units in the last place of a float at the given scale.
void ExpectClose(double expected, double actual, double scale, int ulps, int hand) {
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
    for (auto* row : {&r0, &r1, &r2}) build.sum(sums.data() + kOffset, row->data() + kOffset, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k) ASSERT_EQ(sums[k], (r0[k] + r1[k]) + r2[k]);
    build.normalize(o1.data() + kOffset, r1.data() + kOffset, sums.data() + kOffset, kHands,
                    defaults[1]);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const double exact = ExactQuotient(r1[k], sums[k], defaults[1]);
      ExpectClose(exact, o1[k], exact, 4, k);
    }

    build.normalize2(r0.data() + kOffset, r1.data() + kOffset, o0.data() + kOffset,
                     o1.data() + kOffset, kHands, defaults);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const float sum = r0[k] + r1[k];
      const double e0 = ExactQuotient(r0[k], sum, defaults[0]);
      const double e1 = ExactQuotient(r1[k], sum, defaults[1]);
      ExpectClose(e0, o0[k], e0, 4, k);
      ExpectClose(e1, o1[k], e1, 4, k);
    }

    build.normalize3(r0.data() + kOffset, r1.data() + kOffset, r2.data() + kOffset,
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
      build.update(row.data() + kOffset, node_in.data() + kOffset,
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
        ExpectClose(exact, row[k], std::max(start[k], t), 6, k);
        EXPECT_GE(row[k], 0.0f);
      }
    }
  }
}

TEST(ValueKernels32Test, ExactKernelsAreExactInBothForms) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    const std::vector<double> values = RandomDoubles(-1e3, 1e3);
    std::vector<float> row(kHands + kOffset, 9.0f);
    build.set_values(row.data() + kOffset, values.data() + kOffset, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k)
      ASSERT_EQ(row[k], static_cast<float>(values[k]));
    EXPECT_EQ(row[0], 9.0f);
    build.set_values(row.data() + kOffset, nullptr, kHands);
    for (int k = kOffset; k < kHands + kOffset; ++k) ASSERT_EQ(row[k], 0.0f);

    const std::vector<float> start = RandomFloats(0.0f, 10.0f, 0.1);
    const std::vector<double> strategy = RandomDoubles(0.0, 1.0);
    const std::vector<double> reach = RandomDoubles(0.0, 1.0);
    const std::vector<uint8_t> mask = RandomMask();
    const double weight = 37.5;
    std::vector<float> sums = start;
    build.accumulate(sums.data() + kOffset, strategy.data() + kOffset, reach.data() + kOffset,
                     weight, kHands, mask.data() + kOffset);
    for (int k = kOffset; k < kHands + kOffset; ++k) {
      const float expected =
          mask[k] ? start[k] : start[k] + static_cast<float>((weight * strategy[k]) * reach[k]);
      ASSERT_EQ(sums[k], expected) << "hand " << k;
    }
    // No weight, or an absent reach or strategy: nothing changes.
    for (double w : {0.0, -1.0, std::nan("")})
      build.accumulate(sums.data() + kOffset, strategy.data() + kOffset, reach.data() + kOffset,
                       w, kHands, nullptr);
    build.accumulate(sums.data() + kOffset, strategy.data() + kOffset, nullptr, 1.0, kHands,
                     nullptr);
    build.accumulate(sums.data() + kOffset, nullptr, reach.data() + kOffset, 1.0, kHands,
                     nullptr);
    for (int k = kOffset; k < kHands + kOffset; ++k)
      ASSERT_EQ(sums[k], mask[k] ? start[k]
                                 : start[k] + static_cast<float>((weight * strategy[k]) * reach[k]));
  }
}

// The traverser's step on float rows against the separate routines it stands
// for, bit for bit in each build: the strategy of the normalisers (the sum
// array from zero beyond three actions), the node value of MultiplyArrays and
// MultiplyAddArrays, then UpdateRegrets32 per row. Hand counts with and
// without a remainder, rows of all-zero hands (the defaults) and tiny or
// negative entries, values that leave regrets below FLT_MIN, absent actions.
TEST(ValueKernels32Test, OwnDecisionStepEqualsTheSeparateRoutines) {
  struct Fused {
    const char* name;
    decltype(&isa_avx::UpdateOwnDecision32) step;
    decltype(&isa_avx::MultiplyArrays) multiply;
    decltype(&isa_avx::MultiplyAddArrays) multiply_add;
  };
  std::vector<Fused> fused = {{"avx", isa_avx::UpdateOwnDecision32, isa_avx::MultiplyArrays,
                               isa_avx::MultiplyAddArrays}};
  if (CpuHasAvx2Fma())
    fused.push_back({"avx2", isa_avx2::UpdateOwnDecision32, isa_avx2::MultiplyArrays,
                     isa_avx2::MultiplyAddArrays});
  const std::vector<Build> builds = Builds();
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (size_t b = 0; b < builds.size(); ++b) {
    const Build& build = builds[b];
    const Fused& f = fused[b];
    for (int actions : {1, 2, 3, 4, 6, 8}) {
      for (int n : {3, 8, 29, 403}) {
        for (int absent = -1; absent < std::min(actions, 2); ++absent) {
          if (absent >= 0 && actions == 1) continue;  // nothing would be left
          std::vector<std::vector<float>> rows(actions, std::vector<float>(n));
          std::vector<NumArray> values(actions);
          for (int h = 0; h < n; ++h) {
            const bool empty = pick(rng) < 10;
            for (int a = 0; a < actions; ++a) {
              const int kind = pick(rng);
              rows[a][h] = empty       ? 0.0f
                           : kind < 20 ? 0.0f
                           : kind < 25 ? 1e-39f  // below FLT_MIN
                           : kind < 85 ? static_cast<float>(50.0 * (u(rng) + 1.0))
                                       : static_cast<float>(1e5 * (u(rng) + 1.0));
            }
          }
          for (int a = 0; a < actions; ++a) {
            values[a] = NumArray(n);
            if (a == absent) values[a].Free();
            for (int h = 0; values[a].HasData() && h < n; ++h) {
              const int kind = pick(rng);
              values[a][h] = kind < 10 ? 0.0 : kind < 80 ? 300.0 * u(rng) : 1e-3 * u(rng);
            }
          }
          float defaults[8];
          defaults[0] = static_cast<float>(std::max(0.9, 1.0 / actions));
          for (int a = 1; a < actions; ++a)
            defaults[a] = static_cast<float>(0.09999999999999998 / (actions - 1));

          // The separate routines.
          std::vector<std::vector<float>> want = rows;
          std::vector<NumArray> strategy(actions);
          for (NumArray& s : strategy) s = NumArray(n);
          if (actions == 2) {
            build.normalize2(want[0].data(), want[1].data(), strategy[0].data, strategy[1].data,
                             n, defaults);
          } else if (actions == 3) {
            build.normalize3(want[0].data(), want[1].data(), want[2].data(), strategy[0].data,
                             strategy[1].data, strategy[2].data, n, defaults);
          } else {
            std::vector<float> sums(n, 0.0f);
            for (int a = 0; a < actions; ++a) build.sum(sums.data(), want[a].data(), n);
            for (int a = 0; a < actions; ++a)
              build.normalize(strategy[a].data, want[a].data(), sums.data(), n, defaults[a]);
          }
          NumArray node;
          f.multiply(node, values[0], strategy[0]);
          for (int a = 1; a < actions; ++a) f.multiply_add(node, values[a], strategy[a]);
          ASSERT_TRUE(node.HasData());
          for (int a = 0; a < actions; ++a)
            build.update(want[a].data(), node.data, values[a].data, n, nullptr);

          // The one pass.
          std::vector<float*> row_pointers;
          std::vector<const double*> value_pointers;
          for (int a = 0; a < actions; ++a) {
            row_pointers.push_back(rows[a].data());
            value_pointers.push_back(values[a].data);
          }
          std::vector<double> got_node(n);
          f.step(row_pointers.data(), actions, n, value_pointers.data(), got_node.data(), defaults);
          const std::string where = std::string(f.name) + " actions " + std::to_string(actions) +
                                    " hands " + std::to_string(n) + " absent " +
                                    std::to_string(absent);
          ASSERT_EQ(std::memcmp(got_node.data(), node.data, sizeof(double) * n), 0) << where;
          for (int a = 0; a < actions; ++a)
            ASSERT_EQ(std::memcmp(rows[a].data(), want[a].data(), sizeof(float) * n), 0)
                << where << " row " << a;
        }
      }
    }
  }
}

// The opponent's step on float rows against the separate routines, bit for
// bit in each build: the normalisers' strategy, AccumulateStrategy32 into the
// strategy sums, MultiplyInPlacePruned with the reach (an action pruned there
// has a sum below DBL_MIN here). Reaches with zero blocks and zero remainders,
// all-zero regret hands, with and without the sums.
TEST(ValueKernels32Test, OpponentStepEqualsTheSeparateRoutines) {
  struct Fused {
    const char* name;
    decltype(&isa_avx::OpponentDecision32) step;
    decltype(&isa_avx::MultiplyInPlacePruned) prune;
  };
  std::vector<Fused> fused = {{"avx", isa_avx::OpponentDecision32, isa_avx::MultiplyInPlacePruned}};
  if (CpuHasAvx2Fma())
    fused.push_back({"avx2", isa_avx2::OpponentDecision32, isa_avx2::MultiplyInPlacePruned});
  const std::vector<Build> builds = Builds();
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (size_t b = 0; b < builds.size(); ++b) {
    const Build& build = builds[b];
    const Fused& f = fused[b];
    for (int actions : {1, 2, 3, 4, 7, 8}) {
      for (int n : {3, 8, 13, 29, 403}) {
        for (int with_sums = 0; with_sums < 2; ++with_sums) {
          std::vector<std::vector<float>> rows(actions, std::vector<float>(n));
          for (int h = 0; h < n; ++h) {
            const bool empty = pick(rng) < 10;
            for (int a = 0; a < actions; ++a) {
              const int kind = pick(rng);
              rows[a][h] = empty || kind < 25 ? 0.0f
                           : kind < 30        ? 1e-39f
                                              : static_cast<float>(1e3 * u(rng));
            }
          }
          // Blocks of eight without reach, a few hands of it elsewhere.
          NumArray reach(n);
          for (int h = 0; h < n; ++h) {
            const bool quiet = (h / 8) % 3 == 1;
            reach[h] = quiet || pick(rng) < 20 ? 0.0 : pick(rng) < 5 ? 1e-310 : u(rng);
          }
          std::vector<std::vector<float>> sum_rows(actions, std::vector<float>(n));
          for (auto& row : sum_rows)
            for (float& x : row) x = pick(rng) < 30 ? 0.0f : static_cast<float>(50.0 * u(rng));
          const double weight = with_sums ? 0.7 : 0.0;
          float defaults[8];
          for (int a = 0; a < actions; ++a) defaults[a] = 1.0f / static_cast<float>(actions);

          // The separate routines.
          std::vector<std::vector<float>> want_sums = sum_rows;
          std::vector<NumArray> strategy(actions);
          for (NumArray& s : strategy) s = NumArray(n);
          if (actions == 2) {
            build.normalize2(rows[0].data(), rows[1].data(), strategy[0].data, strategy[1].data,
                             n, defaults);
          } else if (actions == 3) {
            build.normalize3(rows[0].data(), rows[1].data(), rows[2].data(), strategy[0].data,
                             strategy[1].data, strategy[2].data, n, defaults);
          } else {
            std::vector<float> sums(n, 0.0f);
            for (int a = 0; a < actions; ++a) build.sum(sums.data(), rows[a].data(), n);
            for (int a = 0; a < actions; ++a)
              build.normalize(strategy[a].data, rows[a].data(), sums.data(), n, defaults[a]);
          }
          for (int a = 0; a < actions; ++a) {
            if (with_sums)
              build.accumulate(want_sums[a].data(), strategy[a].data, reach.data, weight, n,
                               nullptr);
            f.prune(strategy[a], reach);
          }

          // The one pass.
          std::vector<const float*> row_pointers;
          std::vector<float*> sum_pointers;
          std::vector<std::vector<double>> got(actions, std::vector<double>(n));
          std::vector<double*> out_pointers;
          for (int a = 0; a < actions; ++a) {
            row_pointers.push_back(rows[a].data());
            sum_pointers.push_back(sum_rows[a].data());
            out_pointers.push_back(got[a].data());
          }
          double sums[8];
          f.step(row_pointers.data(), actions, n, reach.data, defaults, out_pointers.data(), sums,
                 with_sums ? sum_pointers.data() : nullptr, weight);
          const std::string where = std::string(f.name) + " actions " + std::to_string(actions) +
                                    " hands " + std::to_string(n) + " sums " +
                                    std::to_string(with_sums);
          for (int a = 0; a < actions; ++a) {
            ASSERT_EQ(sums[a] < DBL_MIN, !strategy[a].HasData()) << where << " action " << a;
            if (strategy[a].HasData())
              ASSERT_EQ(std::memcmp(got[a].data(), strategy[a].data, sizeof(double) * n), 0)
                  << where << " action " << a;
            ASSERT_EQ(std::memcmp(sum_rows[a].data(), want_sums[a].data(), sizeof(float) * n), 0)
                << where << " sums of action " << a;
          }
        }
      }
    }
  }
}

}  // namespace
