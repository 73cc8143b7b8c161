#pragma once
// What the per-kernel Google Benchmark programs share: the check that a build
// can run here, and their main.
#include <benchmark/benchmark.h>

// False, with the run marked skipped, for the AVX2 build on a CPU without
// AVX2/FMA.
bool IsaRunnable(benchmark::State& state, bool avx2);

// Detects the CPU's features, builds the hand tables when the kernels need
// them, then runs the benchmarks named on the command line.
int RunKernelBenchmarks(int argc, char** argv, bool hand_tables);
