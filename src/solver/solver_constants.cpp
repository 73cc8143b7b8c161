#include "solver/solver_constants.h"

int32_t g_iteration_cap = kIterationCap;
double g_discount_exponent = kDiscountExponent;
double g_discount_cap = kDiscountCap;
uint32_t g_early_river_iterations = 0;
double g_payoff_numerator = kPayoffNumerator;
