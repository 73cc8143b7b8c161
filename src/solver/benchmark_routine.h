#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tree/tree_records.h"

// The built-in benchmark: a fixed flop situation solved without end while a
// progress table is printed on standard output. No command of the engine calls
// it; small drivers outside the engine do.

// The fixed situation: flop 2c 3c 4c, 25.0 each in the pot, 125.0 in all.
constexpr int kBenchmarkFlop[3] = {0, 1, 2};
constexpr int kBenchmarkTurnCard = 47;   // Ts
constexpr int kBenchmarkRiverCard = 25;  // Ad
constexpr double kBenchmarkPotShare = 25.0;
constexpr double kBenchmarkStack = 125.0;
// Refused above this river data size (19 GiB).
constexpr uint64_t kBenchmarkRiverBytesLimit = 20401094656ull;

// The two fixed ranges, 1326 weights in ComboIndex order; every combination of
// a hand class has its class's weight.
const std::array<double, 1326>& BenchmarkRange(Player player);

// Appends the bet-line records of the subtree at street s (0 to 3 decisions,
// below 0 a fold, 4 or more a showdown) with player p to act, matched
// commitment c, outstanding bet d and stack S, under record `parent`. One
// pot-sized bet or raise (capped at the stack), then call and fold facing a
// bet, or the check. `label` is scratch text that nothing reads.
void GenerateBenchmarkLines(int32_t s, int32_t p, double c, double d, double S, int32_t parent,
                            std::vector<LineEntry>& records, std::string& label);

// floor(x * p + 0.5) / p with p = 10^n truncated to an integer.
double RoundToDecimals(double x, int32_t n);

// Where the benchmark's progress loop stops; 0 = no limit. The routine itself
// never stops; drivers that use it as a measurement give limits.
struct BenchmarkLimits {
  int32_t max_rows = 0;
  double max_seconds = 0.0;
};

// Builds the situation, starts the solver and prints the progress table. Returns
// 1 after the memory refusal; otherwise it does not return.
int RunBenchmark();
// The same with limits: when a limit is reached (or the solver has ended and a
// limit is set) the solver is stopped, waited for, and 0 is returned.
int RunBenchmark(const BenchmarkLimits& limits);

// The process's CPU time (user plus system) in seconds, and its peak resident
// memory in bytes (0 when the system does not say).
double ProcessCpuSeconds();
uint64_t ProcessPeakMemoryBytes();
