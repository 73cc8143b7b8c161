#include "solver/benchmark_routine.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "compress/compression_level.h"
#include "platform/system_time.h"
#include "solver/libsubgame.h"
#include "solver/progress_history.h"
#include "solver/solver_preparation.h"
#include "solver/solver_run.h"
#include "solver/solver_status.h"
#include "store/store_constants.h"
#include "tree/tree_builder.h"

namespace {

using RangeChart = double[13][13];

// Range charts: rows and columns A down to 2; above the diagonal suited hands
// (row card high), below it offsuit hands (column card high), pairs on it.
//
// OOP: 136 combinations at 1.0, 692 at 0, and 64 classes in between (5 pairs,
// 30 suited, 29 offsuit).
constexpr RangeChart kOopChart = {
    {1, 1, 1, 1, 1, .5, .5, .5, .5, 1, 1, .5, .5},
    {1, 1, 1, 1, 1, .5, .5, .5, .5, .5, .25, 0, 0},
    {1, 1, 1, 1, 1, .5, .5, .25, 0, 0, 0, 0, 0},
    {1, .75, .75, 1, 1, .5, .5, .25, 0, 0, 0, 0, 0},
    {1, .5, .5, .5, .5, 1, .5, .25, 0, 0, 0, 0, 0},
    {.5, .25, .25, .25, .25, .5, .5, .25, .25, 0, 0, 0, 0},
    {.5, .25, .25, .25, .25, .25, .5, .5, .5, .25, 0, 0, 0},
    {.5, .25, .25, .25, .25, .25, .25, .5, .5, .25, 0, 0, 0},
    {.5, .25, 0, 0, 0, .25, .25, .25, .5, .5, .25, 0, 0},
    {.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

// IP: 994 combinations at 1.0, 296 at 0, and three offsuit classes in between.
constexpr RangeChart kIpChart = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, .5, .5, 1, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 0, 0, .5, 1, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1},
    {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 0},
    {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0},
    {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1},
};

// The chart weight of every combination, in ComboIndex order (hi > lo cards).
constexpr std::array<double, 1326> ExpandChart(const RangeChart& chart) {
  std::array<double, 1326> weights{};
  for (int hi = 1; hi < kCardCount; ++hi)
    for (int lo = 0; lo < hi; ++lo) {
      const int a = CardRank(hi), b = CardRank(lo);
      const int high = a > b ? a : b, low = a > b ? b : a;
      const bool suited = CardSuit(hi) == CardSuit(lo);
      const int row = 12 - (high == low || suited ? high : low);
      const int column = 12 - (high == low || suited ? low : high);
      weights[static_cast<size_t>(ComboIndexOfCards(hi, lo))] = chart[row][column];
    }
  return weights;
}

constexpr std::array<double, 1326> kOopRange = ExpandChart(kOopChart);
constexpr std::array<double, 1326> kIpRange = ExpandChart(kIpChart);

// Adds a child's blank to the scratch label; every return empties it.
struct LabelScope {
  std::string& label;
  explicit LabelScope(std::string& text) : label(text) { label.push_back(' '); }
  ~LabelScope() { label.clear(); }
};

uint64_t PeakMemoryFromStatus() {
  FILE* file = std::fopen("/proc/self/status", "r");
  if (!file) return 0;
  char line[256];
  uint64_t kib = 0;
  while (std::fgets(line, sizeof line, file))
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      unsigned long long value = 0;
      if (std::sscanf(line + 6, "%llu", &value) == 1) kib = value;
      break;
    }
  std::fclose(file);
  return kib * 1024;
}

// Counters are taken and reset in one exchange each, so a row covers exactly
// the span since the previous row.
struct CompressionSpan {
  int64_t raw;
  int64_t compressed;
  int64_t max_symbol;
};
CompressionSpan TakeCompressionSpan() {
  return {g_stat_raw_bytes.exchange(0), g_stat_compressed_bytes.exchange(0),
          g_stat_max_symbol.exchange(0)};
}

}  // namespace

const std::array<double, 1326>& BenchmarkRange(Player player) {
  return player == PLAYER_OOP ? kOopRange : kIpRange;
}

void GenerateBenchmarkLines(int32_t s, int32_t p, double c, double d, double S, int32_t parent,
                            std::vector<LineEntry>& records, std::string& label) {
  LabelScope scope(label);
  // Every chip is in: the streets left are skipped up to the showdown.
  while (c == S && s >= 0 && s <= 3) ++s;

  const int32_t index = static_cast<int32_t>(records.size());
  LineEntry entry;
  entry.parent = parent;
  if (s < 0 || s >= 4) {
    entry.kind = s < 0 ? FOLD_NODE : SHOWDOWN_NODE;
    entry.value = c;
    records.push_back(entry);
    return;
  }
  entry.kind = DECISION_NODE;
  entry.player = static_cast<Player>(p);
  entry.street = static_cast<Street>(s);
  records.push_back(entry);

  if (S > c + d) {
    // A pot-sized bet or raise (twice c + d), to one decimal, at least 1.0 and
    // the bet faced, at most what remains.
    std::set<double> sizes;
    sizes.insert(std::min(S - c - d, std::max({1.0, d, std::floor(20.0 * (c + d) + 0.5) / 10.0})));
    for (auto z = sizes.rbegin(); z != sizes.rend(); ++z)
      GenerateBenchmarkLines(s, p ^ 1, c + d, *z, S, index, records, label);
  }
  if (d != 0.0) {
    GenerateBenchmarkLines(s + 1, 0, c + d, 0.0, S, index, records, label);
    GenerateBenchmarkLines(-1, 0, c, d, S, index, records, label);
  } else if (p == 0) {
    GenerateBenchmarkLines(s, 1, c, 0.0, S, index, records, label);
  } else {
    GenerateBenchmarkLines(s + 1, 0, c, 0.0, S, index, records, label);
  }
}

double RoundToDecimals(double x, int32_t n) {
  const double p = static_cast<double>(static_cast<int64_t>(std::pow(10.0, n)));
  return std::floor(x * p + 0.5) / p;
}

double ProcessCpuSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

uint64_t ProcessPeakMemoryBytes() { return PeakMemoryFromStatus(); }

int RunBenchmark() { return RunBenchmark(BenchmarkLimits{}); }

int RunBenchmark(const BenchmarkLimits& limits) {
  libsubgame_init(0);

  std::vector<LineEntry> records;
  std::string label;
  GenerateBenchmarkLines(1, 0, kBenchmarkPotShare, 0.0, kBenchmarkStack, -1, records, label);

  const std::vector<double> oop(kOopRange.begin(), kOopRange.end());
  const std::vector<double> ip(kIpRange.begin(), kIpRange.end());
  CreateGameTree(1, records.data(), records.size(), 0, kBenchmarkFlop[0], kBenchmarkFlop[1],
                 kBenchmarkFlop[2], kBenchmarkTurnCard, kBenchmarkRiverCard, oop, ip, false);
  PrepareSolver(CompressionKinds{0, 0});

  const std::unique_ptr<StorageCounterBlock> counters = CopyStorageCounters();
  if (!counters) {
    // No room even for the copy of the counters.
    std::printf("not enough memory\n");
    std::fflush(stdout);
    return 1;
  }
  std::fprintf(stderr, "infoset-actions: flop %dk turn %dM river %dM\n",
               static_cast<int>(counters->counters[1] / 1000),
               static_cast<int>(counters->counters[2] / 1000000),
               static_cast<int>(counters->counters[3] / 1000000));
  std::fprintf(stderr, "dataSizes: flop %dk turn %dM river %dM\n",
               static_cast<int>(counters->totals[1] / 1000),
               static_cast<int>(counters->totals[2] / 1000000),
               static_cast<int>(counters->totals[3] / 1000000));
  if (counters->totals[3] > kBenchmarkRiverBytesLimit) {
    std::printf("not enough memory\n");
    std::fflush(stdout);
    return 1;
  }
  const double cpu_start = ProcessCpuSeconds();

  const int64_t start_ticks = ReadClockTicks();
  if (!StartSolver(0, 0)) {
    // Only a value area that cannot be allocated stops the start here.
    std::printf("not enough memory\n");
    std::fflush(stdout);
    return 1;
  }
  std::printf("Iterations Time Exploitability BR0 BR1 PeakMem Comp BPA MaxSymbol\n");
  std::fflush(stdout);

  const bool limited = limits.max_rows > 0 || limits.max_seconds > 0.0;
  uint32_t printed = 0;
  int32_t rows = 0;
  uint32_t last_iteration = 0;
  for (;;) {
    SleepMilliseconds(100);
    uint32_t count = 0;
    const std::unique_ptr<ProgressRecord[]> history = CopyProgressHistory(&count);
    if (history && count > printed) {
      printed = count;
      const ProgressRecord& r = history[count - 1];
      const CompressionSpan span = TakeCompressionSpan();
      const uint32_t iterations = r.iteration - last_iteration;
      last_iteration = r.iteration;
      const int64_t compressed_mib = span.compressed >> 20;
      const int bytes_per_iteration =
          iterations ? static_cast<int>(compressed_mib / static_cast<int64_t>(iterations)) : 0;
      std::printf("%d %.3fs %.3fs %f %f %f %d %d %.1f%% %d %.1f\n", static_cast<int>(r.iteration),
                  r.running_time, ProcessCpuSeconds() - cpu_start, 1000.0 * r.exploitability,
                  1000.0 * r.mes_oop, 1000.0 * r.mes_ip,
                  static_cast<int>(ProcessPeakMemoryBytes() >> 20), bytes_per_iteration,
                  100.0 * static_cast<double>(span.compressed) / static_cast<double>(span.raw),
                  static_cast<int>(span.max_symbol), g_last_accumulation_weight.load());
      std::fflush(stdout);
      ++rows;
    }
    if (!limited) continue;
    const double seconds =
        static_cast<double>(ReadClockTicks() - start_ticks) / static_cast<double>(ClockFrequency());
    if ((limits.max_rows > 0 && rows >= limits.max_rows) ||
        (limits.max_seconds > 0.0 && seconds >= limits.max_seconds) || !IsSolverRunning()) {
      RequestSolverStop();
      WaitForSolver();
      return 0;
    }
  }
}
