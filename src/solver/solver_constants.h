#pragma once
#include <cstdint>

// Constants of the solver that depend on the street the tree starts on; set
// when a tree is built and again when it is prepared for solving.

// The solver stops after this many iterations whatever else it was asked.
extern int32_t g_iteration_cap;
// Strategy sums are weighted by min(iteration ^ exponent, cap).
extern double g_discount_exponent;
extern double g_discount_cap;
// Iterations at the start of a run during which river regrets are updated per
// hand group (the entropy-coded stores keep such regrets smaller).
extern uint32_t g_early_river_iterations;
// The payoff scale of a tree is this over its largest end-node value.
extern double g_payoff_numerator;

// The values every new tree starts from (a flop or turn root).
constexpr int32_t kIterationCap = 9000;
constexpr double kDiscountExponent = 1.5;
constexpr double kDiscountCap = 262143.0;  // 2^18 - 1
constexpr double kRiverDiscountExponent = 4.0;
constexpr double kPayoffNumerator = 125.0;
constexpr uint32_t kEarlyRiverIterations = 30;
