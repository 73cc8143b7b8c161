#include "support/kernel_bench.h"

#include "cards/combo_tables.h"
#include "cards/hand_evaluator.h"
#include "platform/cpu_features.h"

bool IsaRunnable(benchmark::State& state, bool avx2) {
  if (avx2 && !CpuHasAvx2Fma()) {
    state.SkipWithError("no AVX2/FMA");
    return false;
  }
  return true;
}

int RunKernelBenchmarks(int argc, char** argv, bool hand_tables) {
  InitCpuFeatures();
  if (hand_tables) {
    if (!InitHandEvaluator()) return 1;
    BuildComboTables();
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
