// The two kernels behind the turn showdown tables, in both instruction-set
// builds, against plain loops: the sign column (exact small integers) and the
// weighted sum of byte columns (to rounding, since the AVX2 build fuses).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/cpu_features.h"
#include "solver/showdown_tables.h"
#include "support/kernel_builds.h"

namespace {

// The AVX2 build only where the processor runs it.
using Build = BuildUnderTest<ShowdownTablesKernels>;
std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kShowdownTablesKernels,
                         isa_avx2::kShowdownTablesKernels, isa_avx512::kShowdownTablesKernels);
}

uint64_t TwoCards(std::mt19937& rng) {
  std::uniform_int_distribution<int> card(0, 51);
  const int a = card(rng);
  int b = card(rng);
  while (b == a) b = card(rng);
  return (uint64_t{1} << a) | (uint64_t{1} << b);
}

TEST(ShowdownTableKernels, SignsMatchAPlainLoopOnEveryTail) {
  std::mt19937 rng(7);
  for (const Build& build : Builds()) {
    for (int32_t n : {1, 7, 8, 9, 15, 16, 17, 63, 403}) {
      std::vector<int16_t> groups(static_cast<size_t>(n));
      std::vector<uint64_t> masks(static_cast<size_t>(n));
      for (int32_t a = 0; a < n; ++a) {
        groups[a] = static_cast<int16_t>(static_cast<int>(rng() % 40) - 3);  // some -1, -2, -3
        if (groups[a] < -1) groups[a] = -1;
        masks[a] = TwoCards(rng);
      }
      for (int trial = 0; trial < 20; ++trial) {
        const int16_t group = static_cast<int16_t>(rng() % 37);
        const uint64_t mask = TwoCards(rng);
        std::vector<int16_t> got(static_cast<size_t>(n));
        for (auto& v : got) v = static_cast<int16_t>(static_cast<int>(rng() % 21) - 10);
        std::vector<int16_t> want = got;
        for (int32_t a = 0; a < n; ++a) {
          if (groups[a] == -1 || (masks[a] & mask)) continue;
          want[a] = static_cast<int16_t>(want[a] + (groups[a] > group ? 1 : 0) -
                                         (groups[a] < group ? 1 : 0));
        }
        build.AddShowdownSigns(got.data(), n, groups.data(), masks.data(), group, mask);
        ASSERT_EQ(got, want) << build.name << " n=" << n;
      }
    }
  }
}

TEST(ShowdownTableKernels, ColumnSumsMatchAPlainLoopForEveryColumnCount) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> weight(-3.0, 3.0);
  for (const Build& build : Builds()) {
    for (int32_t n : {1, 3, 4, 5, 16, 61, 404}) {
      const int32_t stride = (n + 15) & ~15;
      std::vector<int8_t> table(static_cast<size_t>(stride) * static_cast<size_t>(n));
      for (auto& cell : table) cell = static_cast<int8_t>(static_cast<int>(rng() % 89) - 44);
      for (int32_t count : {0, 1, 3, 4, 5, 8, 13}) {
        std::vector<int32_t> columns(static_cast<size_t>(count));
        std::vector<double> weights(static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
          columns[k] = static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
          weights[k] = weight(rng);
        }
        std::vector<double> got(static_cast<size_t>(n)), want;
        for (auto& v : got) v = weight(rng);
        want = got;
        for (int32_t k = 0; k < count; ++k)
          for (int32_t a = 0; a < n; ++a)
            want[a] += table[static_cast<size_t>(columns[k]) * stride + a] * weights[k];
        build.AddShowdownColumns(got.data(), n, table.data(), stride, columns.data(),
                                 weights.data(), count);
        for (int32_t a = 0; a < n; ++a)
          ASSERT_NEAR(got[a], want[a], 1e-12 * (1.0 + std::fabs(want[a])))
              << build.name << " n=" << n << " count=" << count << " a=" << a;
      }
    }
  }
}

}  // namespace
