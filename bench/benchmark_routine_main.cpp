// The engine's built-in benchmark as a measurement: the fixed flop situation
// solved while the progress table is printed, stopped after a number of
// progress rows or seconds.
//
//   benchmark_routine_main [rows [seconds]]
//
// rows: progress rows to print before stopping (0: no limit, default 4);
// seconds: wall-clock seconds of solving before stopping (0: no limit).
// With both 0 the routine runs as the engine's own does, without end.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"
#include "platform/fp_mode.h"
#include "solver/benchmark_routine.h"

namespace {

bool ParseNumber(const char* text, double* out) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  // Counts past the int range (and infinity) would convert to nonsense.
  if (end == text || *end != '\0' || !(value >= 0.0) || !(value <= 2147483647.0)) return false;
  *out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double rows = 4.0, seconds = 0.0;
  if (argc > 3 || (argc > 1 && !ParseNumber(argv[1], &rows)) ||
      (argc > 2 && !ParseNumber(argv[2], &seconds))) {
    std::fprintf(stderr, "usage: %s [rows [seconds]]\n", argv[0]);
    return 2;
  }
  InitCpuFeatures();
  if (!CpuHasAvx()) {
    std::fputs("Error: AVX-compatible CPU is required.\n", stderr);
    return 1;
  }
  // The same start-up as the engine's: the command thread computes with
  // flush-to-zero, the tables exist before anything is built.
  EnableFlushToZero();
  if (!InitHandEvaluator()) {
    std::fputs("can't allocate hand evaluator tables\n", stderr);
    return 1;
  }
  BuildComboTables();

  if (rows == 0.0 && seconds == 0.0) return RunBenchmark();
  BenchmarkLimits limits;
  limits.max_rows = static_cast<int32_t>(rows);
  limits.max_seconds = seconds;
  return RunBenchmark(limits);
}
