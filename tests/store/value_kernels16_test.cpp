#include "store/value_kernels16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu_features.h"
#include "solver/array_ops.h"
#include "store/value_kernels32.h"
#include "support/num_arrays.h"

namespace {

// A build's 16-bit kernels, with the float kernels and array operations of the
// same build that the fused steps must match.
struct Build : ValueKernels16 {
  const char* name;
  const ValueKernels32& floats;
  const ArrayOpsKernels& ops;
};

std::vector<Build> Builds() {
  std::vector<Build> builds = {
      {isa_avx::kValueKernels16, "avx", isa_avx::kValueKernels32, isa_avx::kArrayOpsKernels}};
  if (CpuHasAvx2Fma())
    builds.push_back(
        {isa_avx2::kValueKernels16, "avx2", isa_avx2::kValueKernels32, isa_avx2::kArrayOpsKernels});
  if (CpuHasAvx512())
    builds.push_back({isa_avx512::kValueKernels16, "avx512", isa_avx512::kValueKernels32,
                      isa_avx512::kArrayOpsKernels});
  return builds;
}

// The regret update written from the rules. The hands walked one by one take
// k x sqrt|d| x sqrt(sqrt|d|) in single precision with exact square roots and
// must give exactly its truncation. The blocks of eight take the square roots
// from the processor's reciprocal square root estimate, refined once: within a
// few float ulps of the exact power, in a direction and by an amount that
// differ between processor families, so where the power lies that close to a
// whole number the truncation may land one unit either side.
constexpr uint16_t kMaxValue16 = 65535;
// Allowed relative distance of the block form's power from the exact one, in
// float epsilons. Estimates within the documented 1.5 x 2^-12 put it at most
// about 8 epsilons away; 16 leaves room and is still far below one unit.
constexpr double kBlockPowerEpsilons = 16.0;

double ExactPower(double scale, double d) { return std::pow(scale, 0.75) * std::pow(std::fabs(d), 0.75); }

// The one-by-one form's increment before truncation, capped.
float ScalarPower(double scale, float d) {
  const float k = static_cast<float>(std::pow(scale, 0.75));
  const float root = std::sqrt(std::fabs(d));
  const float p = k * root * std::sqrt(root);
  return p < static_cast<float>(kMaxValue16) ? p : static_cast<float>(kMaxValue16);
}

// A stored value after a step of `step` units in the direction of d, or
// unchanged when d lies inside the threshold 1 / scale.
int32_t Apply(int32_t before, double scale, float d, double step) {
  const float t = static_cast<float>(1.0 / scale);
  const int32_t units = static_cast<int32_t>(std::min(step, static_cast<double>(kMaxValue16)));
  if (d >= t) return std::min(before + units, static_cast<int32_t>(kMaxValue16));
  if (d <= -t) return std::max(before - units, 0);
  return before;
}

// The value one hand walked one by one ends with.
int32_t OneByOneResult(int32_t before, double scale, float d) {
  return Apply(before, scale, d, ScalarPower(scale, d));
}

// The lowest and highest value a hand of a block of eight may end with.
struct ResultRange {
  int32_t low, high;
  bool Holds(int32_t value) const { return low <= value && value <= high; }
};
ResultRange BlockResults(int32_t before, double scale, float d) {
  const double p = ExactPower(scale, d);
  const double slack = kBlockPowerEpsilons * FLT_EPSILON * p;
  // Infinite or NaN powers (an infinite d) count as the cap, as in both forms.
  const double less = std::isfinite(p) ? p - slack : kMaxValue16;
  const double more = std::isfinite(p) ? p + slack : kMaxValue16;
  const int32_t a = Apply(before, scale, d, less), b = Apply(before, scale, d, more);
  return {std::min(a, b), std::max(a, b)};
}

// ---------------------------------------------------------------------------
// Regret update

TEST(ValueKernels16, RegretUpdatePayoffScaleExamples) {
  // Each case at hand 9 (one by one: exactly `after`) and hand 2 (block of
  // eight: `after`, or one unit less far where the power is a whole number,
  // as 16^0.75 = 8 is).
  struct Case {
    double scale, d;
    uint16_t before, after;
  } cases[] = {
      {1.0, 16.0, 0, 8},    {1.0, 0.9, 7, 7},           {1.0, -16.0, 5, 0},
      {16.0, 1.0, 3, 11},   {16.0, 0.05, 3, 3},         {1.0, 1.0, 4, 5},
      {1.0, -1.0, 4, 3},    {1.0, 1e9, 10, 65535},      {1.0, 16.0, 65530, 65535},
      {1.0, -1e30, 65535, 0}, {1.0, std::numeric_limits<double>::infinity(), 1, 65535},
      {1.0, std::nan(""), 9, 9},
      // Powers far from a whole number: both forms give the same value.
      {1.0, 20.0, 0, 9},    {16.0, 3.0, 3, 21},         {0.37, -50.0, 100, 92},
      {0.37, 2.0, 100, 100}, {16.0, -0.3, 2, 0},
  };
  for (const Build& build : Builds())
    for (const Case& c : cases) {
      const float d = static_cast<float>(c.d);
      const ResultRange block = BlockResults(c.before, c.scale, d);
      ASSERT_TRUE(block.Holds(c.after)) << "scale " << c.scale << " d " << c.d;
      ASSERT_EQ(OneByOneResult(c.before, c.scale, d), c.after) << "scale " << c.scale << " d " << c.d;
      for (int32_t hand : {2, 9}) {
        std::vector<uint16_t> row(12, 100);
        row[static_cast<size_t>(hand)] = c.before;
        std::vector<double> node(11, 0.0), action(11, 0.0);
        action[static_cast<size_t>(hand)] = c.d;
        build.UpdateRegrets16(row.data(), 11, MakeArray(node), MakeArray(action), nullptr, c.scale,
                              nullptr);
        const int32_t got = row[static_cast<size_t>(hand)];
        const std::string where = std::string(build.name) + " scale " + std::to_string(c.scale) +
                                  " d " + std::to_string(c.d) + " hand " + std::to_string(hand);
        if (hand == 9) {
          EXPECT_EQ(got, c.after) << where;
        } else {
          EXPECT_TRUE(block.Holds(got)) << where << ": " << got;
          if (block.low == block.high) {
            EXPECT_EQ(got, c.after) << where;
          }
        }
        EXPECT_EQ(row[11], 100) << "beyond the row";
        for (int32_t k = 0; k < 11; ++k)
          if (k != hand) {
            EXPECT_EQ(row[static_cast<size_t>(k)], 100) << build.name;
          }
      }
    }
}

// Differences whose power, 20^0.75 = 9.457..., lies far from a whole number,
// so that blocks and single hands agree on every processor.
TEST(ValueKernels16, RegretUpdateDifferenceAndBounds) {
  for (const Build& build : Builds()) {
    std::vector<uint16_t> row(20, 0);
    // Node values cover 10 hands, action values 13, the row 20.
    build.UpdateRegrets16(row.data(), 20, MakeArray(std::vector<double>(10, 0.0)),
                          MakeArray(std::vector<double>(13, 20.0)), nullptr, 1.0, nullptr);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(row[static_cast<size_t>(k)], k < 10 ? 9 : 0) << build.name;
    // A row narrower than the arrays.
    std::vector<uint16_t> narrow(8, 0);
    build.UpdateRegrets16(narrow.data(), 5, MakeArray(std::vector<double>(30, 0.0)),
                          MakeArray(std::vector<double>(30, 20.0)), nullptr, 1.0, nullptr);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(narrow[static_cast<size_t>(k)], k < 5 ? 9 : 0) << build.name;
    // d = action - node; an absent action row means d = -node.
    std::vector<uint16_t> row9(9, 20);
    build.UpdateRegrets16(row9.data(), 9, MakeArray(std::vector<double>(9, 4.0)),
                          MakeArray(std::vector<double>(9, 24.0)), nullptr, 1.0, nullptr);
    for (uint16_t v : row9) EXPECT_EQ(v, 29) << build.name;
    build.UpdateRegrets16(row9.data(), 9, MakeArray(std::vector<double>(9, 20.0)), NumArray(),
                          nullptr, 1.0, nullptr);
    for (uint16_t v : row9) EXPECT_EQ(v, 20) << build.name;
  }
}

TEST(ValueKernels16, MaskedHandKeepsValueButJoinsGroupAverage) {
  for (const Build& build : Builds())
    for (int32_t n : {5, 13}) {
      std::vector<uint16_t> row(static_cast<size_t>(n), 10);
      std::vector<uint8_t> mask(static_cast<size_t>(n), 0);
      mask[1] = 1;
      const std::vector<int16_t> groups = {2};
      build.UpdateRegrets16(
          row.data(), n, MakeArray(std::vector<double>(static_cast<size_t>(n), 0.0)),
          MakeArray(std::vector<double>(static_cast<size_t>(n), 20.0)), &groups, 1.0, mask.data());
      // Hand 0 became 19, masked hand 1 stayed 10, then the group averages to 14.
      EXPECT_EQ(row[0], 14) << build.name << " n " << n;
      EXPECT_EQ(row[1], 14) << build.name << " n " << n;
      for (int32_t k = 2; k < n; ++k) EXPECT_EQ(row[static_cast<size_t>(k)], 19) << build.name;

      // Without groups the masked hand keeps its value.
      std::vector<uint16_t> plain(static_cast<size_t>(n), 10);
      build.UpdateRegrets16(
          plain.data(), n, MakeArray(std::vector<double>(static_cast<size_t>(n), 0.0)),
          MakeArray(std::vector<double>(static_cast<size_t>(n), -20.0)), nullptr, 1.0, mask.data());
      for (int32_t k = 0; k < n; ++k)
        EXPECT_EQ(plain[static_cast<size_t>(k)], k == 1 ? 10 : 1) << build.name;
    }
}

TEST(ValueKernels16, BlockAndExactFormsAgree) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> start(0, 65535);
  for (const Build& build : Builds())
    for (double scale : {1.0, 0.37, 16.0, 125.0 / 3.0}) {
      const int32_t n = 203;  // 25 blocks of eight, 3 hands one by one
      std::vector<double> node(n), action(n);
      std::vector<uint16_t> row(n);
      for (int32_t k = 0; k < n; ++k) {
        const double magnitude = std::pow(10.0, 4.0 * std::fabs(unit(rng)) - 1.0);
        node[k] = unit(rng) * magnitude;
        action[k] = node[k] + unit(rng) * magnitude;
        row[k] = static_cast<uint16_t>(start(rng));
      }
      std::vector<uint16_t> updated = row;
      build.UpdateRegrets16(updated.data(), n, MakeArray(node), MakeArray(action), nullptr, scale,
                            nullptr);
      int32_t exact_in_blocks = 0;
      for (int32_t k = 0; k < n; ++k) {
        const float d = static_cast<float>(action[k] - node[k]);
        const ResultRange block = BlockResults(row[k], scale, d);
        if (k >= n - n % 8) {
          EXPECT_EQ(updated[k], OneByOneResult(row[k], scale, d)) << build.name << " hand " << k;
          EXPECT_TRUE(block.Holds(OneByOneResult(row[k], scale, d))) << "hand " << k;
        } else {
          // Away from whole numbers the range is one value: the forms agree.
          EXPECT_TRUE(block.Holds(updated[k])) << build.name << " hand " << k << " d " << d << ": "
                                               << updated[k] << " not in " << block.low << " ... "
                                               << block.high;
          exact_in_blocks += block.low == block.high;
        }
      }
      EXPECT_GT(exact_in_blocks, 150) << "most hands have a single answer";
    }
}

// ---------------------------------------------------------------------------
// Group averaging and value conversion

TEST(ValueKernels16, AverageValueGroups) {
  for (const Build& build : Builds()) {
    std::vector<uint16_t> row = {1, 2, 3, 4, 6};
    build.AverageValueGroups16(row.data(), 5, {2, 0, 3});
    EXPECT_EQ(row, (std::vector<uint16_t>{1, 1, 4, 4, 4})) << build.name;

    // Sizes past the row or negative never touch values beyond it.
    std::vector<uint16_t> guarded = {4, 8, 65535, 65535, 1, 7, 7};
    build.AverageValueGroups16(guarded.data(), 5, {-3, 2, 9});
    EXPECT_EQ(guarded, (std::vector<uint16_t>{6, 6, 43690, 43690, 43690, 7, 7})) << build.name;
  }
}

// Strength groups as a river board has them (runs of one to a few dozen hands),
// groups that stop short of the row or run past it, and empty or negative
// sizes: every group its integer mean, nothing past the groups or the row
// touched.
TEST(ValueKernels16, AverageValueGroupsMatchesGroupByGroupMeans) {
  std::mt19937 rng(26);
  std::uniform_int_distribution<int> pick(0, 99);
  for (const Build& build : Builds()) {
    for (int n : {1, 7, 8, 9, 31, 403, 1081, 1326, 1400}) {
      for (int shape = 0; shape < 4; ++shape) {
        std::vector<int16_t> sizes;
        int covered = 0;
        const int target = shape == 0 ? n : shape == 1 ? n / 2 : n + 11;
        while (covered < target) {
          const int kind = pick(rng);
          const int size = kind < 30 ? 1 : kind < 60 ? 2 + pick(rng) % 7 : kind < 95 ? 9 + pick(rng) % 30
                                                                                 : (kind < 98 ? 0 : -2);
          sizes.push_back(static_cast<int16_t>(size));
          covered += std::max(size, 0);
        }
        if (shape == 3) sizes.assign({static_cast<int16_t>(n)});
        std::vector<uint16_t> row(static_cast<size_t>(n) + 16);
        for (uint16_t& v : row) v = pick(rng) < 10 ? 65535 : static_cast<uint16_t>(pick(rng) * 600);
        std::vector<uint16_t> want = row;
        int p = 0;
        for (int16_t size : sizes) {
          if (size <= 0) continue;
          const int g = std::min<int>(size, n - p);
          if (g <= 0) break;
          uint32_t sum = 0;
          for (int k = 0; k < g; ++k) sum += want[p + k];
          for (int k = 0; k < g; ++k) want[p + k] = static_cast<uint16_t>(sum / g);
          p += g;
        }
        build.AverageValueGroups16(row.data(), n, sizes);
        const size_t first =
            std::mismatch(row.begin(), row.end(), want.begin()).first - row.begin();
        ASSERT_EQ(first, row.size()) << build.name << " hands " << n << " shape " << shape
                                     << ": " << row[first] << " for " << want[first];
      }
    }
  }
}

TEST(ValueKernels16, SetActionValuesTruncatesAndClamps) {
  const double nan = std::nan("");
  const std::vector<double> values = {2.9, 65535.7, 0.0, -0.5, -3.0, 70000.0, 1e300, nan,
                                      1.0, 255.99, 4096.0, -1e300, 65535.0, 17.2, nan, 1e9,
                                      2.9, 65535.7, -7.0};
  const std::vector<uint16_t> expected = {2, 65535, 0, 0, 0, 65535, 65535, 0, 1, 255,
                                          4096, 0, 65535, 17, 0, 65535, 2, 65535, 0};
  for (const Build& build : Builds()) {
    std::vector<uint16_t> row(values.size() + 1, 99);
    build.SetActionValues16(row.data(), values.data(), static_cast<int32_t>(values.size()));
    EXPECT_EQ(std::vector<uint16_t>(row.begin(), row.end() - 1), expected) << build.name;
    EXPECT_EQ(row.back(), 99);
  }
}

// ---------------------------------------------------------------------------
// Strategies

TEST(ValueKernels16, NormalizeExamples) {
  const float defaults[3] = {0.6f, 0.3f, 0.1f};
  for (const Build& build : Builds()) {
    // Hands 0 and 8 both ways: 0+0 gives the defaults, 3+1 gives 0.75 and 0.25.
    std::vector<uint16_t> r0(10, 0), r1(10, 0);
    r0[1] = r0[9] = 3;
    r1[1] = r1[9] = 1;
    std::vector<double> o0(10), o1(10);
    build.NormalizeValues16x2(r0.data(), r1.data(), o0.data(), o1.data(), 10, defaults);
    for (int k : {0, 8}) {
      EXPECT_EQ(o0[k], static_cast<double>(0.6f)) << build.name;
      EXPECT_EQ(o1[k], static_cast<double>(0.3f)) << build.name;
    }
    EXPECT_EQ(o0[9], 0.75);
    EXPECT_EQ(o1[9], 0.25);
    EXPECT_NEAR(o0[1], 0.75, 1e-6) << build.name;
    EXPECT_NEAR(o1[1], 0.25, 1e-6) << build.name;
  }
}

// The quotient v x r of the blocks, r the reciprocal estimate refined once,
// against the exact v / s: about 3 float epsilons apart at worst.
constexpr double kQuotientEpsilons = 4.0;

TEST(ValueKernels16, StrategyFormsAgreeWithExactQuotient) {
  std::mt19937_64 rng(11);
  const float defaults[3] = {0.5f, 0.25f, 0.25f};
  const int32_t n = 77;
  for (const Build& build : Builds()) {
    std::vector<uint16_t> rows[3];
    for (auto& row : rows) {
      row.resize(n);
      for (auto& v : row) {
        const int kind = static_cast<int>(rng() % 4);
        v = kind == 0 ? 0 : static_cast<uint16_t>(rng() % (kind == 1 ? 3 : kind == 2 ? 300 : 65536));
      }
    }
    std::vector<uint32_t> sums(n, 0);
    for (auto& row : rows) build.SumValues16(sums.data(), row.data(), n);
    std::vector<double> out(n), x3[3], x2[2];
    for (auto& o : x3) o.resize(n);
    for (auto& o : x2) o.resize(n);
    build.NormalizeValues16x3(rows[0].data(), rows[1].data(), rows[2].data(), x3[0].data(),
                              x3[1].data(), x3[2].data(), n, defaults);
    build.NormalizeValues16x2(rows[0].data(), rows[1].data(), x2[0].data(), x2[1].data(), n,
                              defaults);
    for (int a = 0; a < 3; ++a) {
      build.NormalizeValues16(rows[a].data(), sums.data(), out.data(), n, defaults[a]);
      for (int32_t k = 0; k < n; ++k) {
        const uint32_t s = uint32_t{rows[0][k]} + rows[1][k] + rows[2][k];
        ASSERT_EQ(sums[k], s);
        const double exact = s ? static_cast<double>(static_cast<float>(rows[a][k]) / static_cast<float>(s))
                               : static_cast<double>(defaults[a]);
        // The refined reciprocal estimate of the blocks: within a few float
        // ulps on every processor.
        EXPECT_NEAR(out[k], exact, kQuotientEpsilons * FLT_EPSILON * exact + 1e-12)
            << build.name << " hand " << k;
        EXPECT_NEAR(x3[a][k], exact, kQuotientEpsilons * FLT_EPSILON * exact + 1e-12)
            << build.name << " hand " << k;
        if (k >= n - n % 8) {
          EXPECT_EQ(out[k], exact) << "one-by-one hands are exact";
        }
        if (a < 2) {
          const uint32_t s2 = uint32_t{rows[0][k]} + rows[1][k];
          const double exact2 = s2 ? static_cast<double>(static_cast<float>(rows[a][k]) / static_cast<float>(s2))
                                   : static_cast<double>(defaults[a]);
          EXPECT_NEAR(x2[a][k], exact2, kQuotientEpsilons * FLT_EPSILON * exact2 + 1e-12)
              << build.name;
        }
      }
    }
  }
}

// The same refinement of the reciprocal as the float rows: a strategy read
// from 16-bit regrets has the bits the float kernel gives for the same values
// (before, a different but equivalent refinement left one hand in four or so
// a float unit apart once sums passed a few thousand).
TEST(ValueKernels16, StrategiesHaveTheBitsOfTheFloatRows) {
  std::mt19937_64 rng(29);
  const float defaults[2] = {0.5f, 0.5f};
  const int32_t n = 4096;
  std::vector<uint16_t> a(n), b(n);
  std::vector<float> fa(n), fb(n);
  for (int32_t k = 0; k < n; ++k) {
    a[k] = static_cast<uint16_t>(rng() % 65536);
    b[k] = static_cast<uint16_t>(rng() % 65536);
    fa[k] = a[k];
    fb[k] = b[k];
  }
  for (const Build& build : Builds()) {
    std::vector<double> x0(n), x1(n), y0(n), y1(n);
    build.NormalizeValues16x2(a.data(), b.data(), x0.data(), x1.data(), n, defaults);
    build.floats.NormalizeValues32x2(fa.data(), fb.data(), y0.data(), y1.data(), n, defaults);
    int32_t differing = 0;
    for (int32_t k = 0; k < n; ++k) differing += x0[k] != y0[k] || x1[k] != y1[k];
    EXPECT_EQ(differing, 0) << build.name;
  }
}

}  // namespace

namespace {

// The traverser's step on 16-bit rows against the separate routines it stands
// for, bit for bit in each build: the strategy of the normalisers, the node
// value of MultiplyArrays and MultiplyAddArrays, then UpdateRegrets16 per row.
// Action counts with their own normalisers (2, 3) and the general one (4, which
// has a fixed-count step of its own, and 5), hand counts with and without a
// tail, rows with all-zero hands (the defaults), values near the threshold and
// large ones (the cap), absent action values.
TEST(ValueKernels16, OwnDecisionStepEqualsTheSeparateRoutines) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const Build& build : Builds()) {
    for (int actions : {1, 2, 3, 4, 5}) {
      for (int n : {5, 8, 29, 403}) {
        for (int absent = -1; absent < std::min(actions, 2); ++absent) {
          if (absent >= 0 && actions == 1) continue;  // nothing would be left
          // 1e39: a threshold below FLT_MIN, which takes the tested square roots.
          for (double scale : {0.4, 3.0, 1e39}) {
            std::vector<std::vector<uint16_t>> rows(actions, std::vector<uint16_t>(n));
            std::vector<NumArray> values(actions);
            for (int h = 0; h < n; ++h) {
              const bool empty = pick(rng) < 10;
              for (int a = 0; a < actions; ++a) {
                const int kind = pick(rng);
                rows[a][h] = empty ? 0
                             : kind < 20 ? 0
                             : kind < 80 ? static_cast<uint16_t>(pick(rng) * 37)
                                         : static_cast<uint16_t>(65535 - pick(rng));
              }
            }
            // Some blocks of eight hands stay below the threshold throughout,
            // so that the step passes over them.
            std::vector<bool> quiet(n / 8 + 1);
            for (size_t k = 0; k < quiet.size(); ++k) quiet[k] = pick(rng) < 30;
            for (int a = 0; a < actions; ++a) {
              values[a] = NumArray(n);
              if (a == absent) values[a].Free();
              for (int h = 0; values[a].HasData() && h < n; ++h) {
                const int kind = pick(rng);
                values[a][h] = quiet[h / 8]   ? u(rng) / (3.0 * scale)
                               : kind < 20 ? u(rng) / scale
                               : kind < 90 ? 500.0 * u(rng)
                                           : 1e6 * u(rng);
              }
            }
            float defaults[8];
            defaults[0] = static_cast<float>(std::max(0.9, 1.0 / actions));
            for (int a = 1; a < actions; ++a) defaults[a] = static_cast<float>(0.09999999999999998 / (actions - 1));

            // The separate routines.
            std::vector<std::vector<uint16_t>> want = rows;
            std::vector<NumArray> strategy(actions);
            for (NumArray& s : strategy) s = NumArray(n);
            if (actions == 2) {
              build.NormalizeValues16x2(want[0].data(), want[1].data(), strategy[0].data,
                                        strategy[1].data, n, defaults);
            } else if (actions == 3) {
              build.NormalizeValues16x3(want[0].data(), want[1].data(), want[2].data(),
                                        strategy[0].data, strategy[1].data, strategy[2].data, n,
                                        defaults);
            } else {
              std::vector<uint32_t> sums(n, 0);
              for (int a = 0; a < actions; ++a) build.SumValues16(sums.data(), want[a].data(), n);
              for (int a = 0; a < actions; ++a)
                build.NormalizeValues16(want[a].data(), sums.data(), strategy[a].data, n,
                                        defaults[a]);
            }
            NumArray node;
            build.ops.MultiplyArrays(node, values[0], strategy[0]);
            for (int a = 1; a < actions; ++a)
              build.ops.MultiplyAddArrays(node, values[a], strategy[a]);
            ASSERT_TRUE(node.HasData());
            for (int a = 0; a < actions; ++a)
              build.UpdateRegrets16(want[a].data(), n, node, values[a], nullptr, scale, nullptr);

            // The one pass.
            std::vector<uint16_t*> row_pointers;
            std::vector<const double*> value_pointers;
            for (int a = 0; a < actions; ++a) {
              row_pointers.push_back(rows[a].data());
              value_pointers.push_back(values[a].data);
            }
            std::vector<double> got_node(n);
            build.UpdateOwnDecision16(row_pointers.data(), actions, n, value_pointers.data(),
                                      got_node.data(), defaults, scale);
            const std::string where = std::string(build.name) + " actions " +
                                      std::to_string(actions) + " hands " + std::to_string(n) +
                                      " absent " + std::to_string(absent) + " scale " +
                                      std::to_string(scale);
            ASSERT_EQ(std::memcmp(got_node.data(), node.data, sizeof(double) * n), 0) << where;
            for (int a = 0; a < actions; ++a) ASSERT_EQ(rows[a], want[a]) << where << " row " << a;
          }
        }
      }
    }
  }
}

}  // namespace

namespace {

// The opponent's step on 16-bit rows against the separate routines it stands
// for, bit for bit in each build: the normalisers' strategy, the strategy sums
// of AccumulateStrategy32 and the reach products of MultiplyInPlacePruned,
// whose pruning follows the returned sums. Tails of every length below eight
// (with and without a block of four), rows of zeros (the defaults), an action
// that is never taken (pruned), blocks the opponent never reaches over sums
// that adding zeros changes.
TEST(ValueKernels16, OpponentStepEqualsTheSeparateRoutines) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const Build& build : Builds()) {
    for (int actions : {1, 2, 3, 5}) {
      for (int n : {3, 8, 12, 15, 29, 403}) {
        for (int silent = -1; silent < std::min(actions, 2); ++silent) {
          for (double weight : {0.0, 1.0, 37.5}) {
            std::vector<std::vector<uint16_t>> rows(actions, std::vector<uint16_t>(n));
            for (int h = 0; h < n; ++h) {
              const bool empty = silent < 0 && pick(rng) < 10;
              for (int a = 0; a < actions; ++a) {
                const int kind = pick(rng);
                rows[a][h] = empty || a == silent ? 0
                             : kind < 20          ? (a == 0 || silent >= 0 ? 1 : 0)
                             : kind < 80          ? static_cast<uint16_t>(1 + pick(rng) * 37)
                                                  : static_cast<uint16_t>(65535 - pick(rng));
              }
            }
            NumArray reach(n);
            for (int h = 0; h < n; ++h) {
              const int kind = pick(rng);
              reach[h] = kind < 15 ? 0.0 : kind < 20 ? 1e-300 * u(rng) : u(rng);
            }
            // Whole blocks never reached (one of them with -0).
            for (int h = 0; h + 8 <= n; h += 8)
              if (pick(rng) < 30)
                for (int k = h; k < h + 8; ++k) reach[k] = pick(rng) < 10 ? -0.0 : 0.0;
            // Sums that adding zeros changes: -0 becomes +0, a signalling NaN is quietened.
            std::vector<std::vector<float>> sums(actions, std::vector<float>(n));
            for (auto& row : sums) {
              for (float& x : row) {
                const int kind = pick(rng);
                x = kind < 5   ? -0.0f
                    : kind < 7 ? std::numeric_limits<float>::signaling_NaN()
                    : kind < 20 ? 0.0f
                               : static_cast<float>(100.0 * u(rng));
              }
            }
            // Evaluation passes (no sums) take uniform defaults, solving passes
            // the exploring ones.
            float defaults[8];
            defaults[0] = static_cast<float>(std::max(0.9, 1.0 / actions));
            for (int a = 1; a < actions; ++a)
              defaults[a] = static_cast<float>(0.09999999999999998 / (actions - 1));
            if (weight == 0.0)
              for (int a = 0; a < actions; ++a) defaults[a] = 1.0f / static_cast<float>(actions);

            // The separate routines.
            std::vector<NumArray> want(actions);
            for (NumArray& s : want) s = NumArray(n);
            if (actions == 2) {
              build.NormalizeValues16x2(rows[0].data(), rows[1].data(), want[0].data, want[1].data,
                                        n, defaults);
            } else if (actions == 3) {
              build.NormalizeValues16x3(rows[0].data(), rows[1].data(), rows[2].data(),
                                        want[0].data, want[1].data, want[2].data, n, defaults);
            } else {
              std::vector<uint32_t> total(n, 0);
              for (int a = 0; a < actions; ++a) build.SumValues16(total.data(), rows[a].data(), n);
              for (int a = 0; a < actions; ++a)
                build.NormalizeValues16(rows[a].data(), total.data(), want[a].data, n, defaults[a]);
            }
            std::vector<std::vector<float>> want_sums = sums;
            for (int a = 0; a < actions; ++a) {
              build.floats.AccumulateStrategy32(want_sums[a].data(), want[a].data, reach.data,
                                                weight, n, nullptr);
              build.ops.MultiplyInPlacePruned(want[a], reach);
            }

            // The one pass.
            std::vector<std::vector<double>> out(actions, std::vector<double>(n));
            std::vector<const uint16_t*> row_pointers;
            std::vector<double*> out_pointers;
            std::vector<float*> sum_pointers;
            for (int a = 0; a < actions; ++a) {
              row_pointers.push_back(rows[a].data());
              out_pointers.push_back(out[a].data());
              sum_pointers.push_back(sums[a].data());
            }
            double product_sums[8];
            build.OpponentDecision16(row_pointers.data(), actions, n, reach.data, defaults,
                                     out_pointers.data(), product_sums,
                                     weight > 0.0 ? sum_pointers.data() : nullptr, weight);
            const std::string where = std::string(build.name) + " actions " +
                                      std::to_string(actions) + " hands " + std::to_string(n) +
                                      " silent " + std::to_string(silent) + " weight " +
                                      std::to_string(weight);
            for (int a = 0; a < actions; ++a) {
              const bool pruned = product_sums[a] < DBL_MIN;
              ASSERT_EQ(pruned, !want[a].HasData()) << where << " action " << a;
              if (a == silent && actions > 1) {
                EXPECT_TRUE(pruned) << where;
              }
              if (!pruned) {
                ASSERT_EQ(std::memcmp(out[a].data(), want[a].data, sizeof(double) * n), 0)
                    << where << " action " << a;
              }
              ASSERT_EQ(std::memcmp(sums[a].data(), want_sums[a].data(), sizeof(float) * n), 0)
                  << where << " action " << a;
            }
          }
        }
      }
    }
  }
}

}  // namespace

namespace {

// The average strategy of a river board against the separate routines it
// stands for, bit for bit in each build: the float normalisers on the sums
// (defaults 0), the 16-bit normalisers on the regrets (uniform defaults), and
// per hand the current strategy where the sums' quotients add up to 0.
TEST(ValueKernels16, AverageStrategyEqualsTheSeparateRoutines) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> pick(0, 99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const Build& build : Builds()) {
    for (int actions : {1, 2, 3, 5}) {
      for (int n : {3, 8, 13, 403}) {
        std::vector<std::vector<uint16_t>> regrets(actions, std::vector<uint16_t>(n));
        std::vector<std::vector<float>> sums(actions, std::vector<float>(n));
        for (int h = 0; h < n; ++h) {
          const int hand_kind = pick(rng);  // no sums, tiny sums, or ordinary ones
          for (int a = 0; a < actions; ++a) {
            regrets[a][h] = pick(rng) < 30 ? 0 : static_cast<uint16_t>(pick(rng) * 600);
            sums[a][h] = hand_kind < 20   ? 0.0f
                         : hand_kind < 25 ? 1e-39f
                         : pick(rng) < 20 ? 0.0f
                                          : static_cast<float>(1e4 * u(rng));
          }
        }
        float uniform[8];
        for (int a = 0; a < actions; ++a) uniform[a] = 1.0f / static_cast<float>(actions);
        const float zeros[8] = {};

        // The separate routines.
        std::vector<std::vector<double>> average(actions, std::vector<double>(n));
        std::vector<std::vector<double>> current(actions, std::vector<double>(n));
        if (actions == 2) {
          build.floats.NormalizeValues32x2(sums[0].data(), sums[1].data(), average[0].data(),
                                           average[1].data(), n, zeros);
          build.NormalizeValues16x2(regrets[0].data(), regrets[1].data(), current[0].data(),
                                    current[1].data(), n, uniform);
        } else if (actions == 3) {
          build.floats.NormalizeValues32x3(sums[0].data(), sums[1].data(), sums[2].data(),
                                           average[0].data(), average[1].data(), average[2].data(),
                                           n, zeros);
          build.NormalizeValues16x3(regrets[0].data(), regrets[1].data(), regrets[2].data(),
                                    current[0].data(), current[1].data(), current[2].data(), n,
                                    uniform);
        } else {
          std::vector<float> total(n, 0.0f);
          std::vector<uint32_t> counts(n, 0);
          for (int a = 0; a < actions; ++a) {
            build.floats.SumValues32(total.data(), sums[a].data(), n);
            build.SumValues16(counts.data(), regrets[a].data(), n);
          }
          for (int a = 0; a < actions; ++a) {
            build.floats.NormalizeValues32(average[a].data(), sums[a].data(), total.data(), n,
                                           0.0f);
            build.NormalizeValues16(regrets[a].data(), counts.data(), current[a].data(), n,
                                    uniform[a]);
          }
        }
        for (int h = 0; h < n; ++h) {
          double total = average[0][h];
          for (int a = 1; a < actions; ++a) total += average[a][h];
          if (total == 0.0)
            for (int a = 0; a < actions; ++a) average[a][h] = current[a][h];
        }

        // The one pass.
        std::vector<std::vector<double>> got(actions, std::vector<double>(n));
        std::vector<const float*> sum_pointers;
        std::vector<const uint16_t*> regret_pointers;
        std::vector<double*> out_pointers;
        for (int a = 0; a < actions; ++a) {
          sum_pointers.push_back(sums[a].data());
          regret_pointers.push_back(regrets[a].data());
          out_pointers.push_back(got[a].data());
        }
        build.AverageStrategy16(sum_pointers.data(), regret_pointers.data(), actions, n, uniform,
                                out_pointers.data());
        for (int a = 0; a < actions; ++a)
          ASSERT_EQ(std::memcmp(got[a].data(), average[a].data(), sizeof(double) * n), 0)
              << build.name << " actions " << actions << " hands " << n << " action " << a;
      }
    }
  }
}

}  // namespace
