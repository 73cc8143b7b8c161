#include "solver/accuracy_settings.h"

double g_accuracy_value = 0.0;
uint8_t g_accuracy_relative = 0;
std::atomic<double> g_accuracy_target{0.0};

void SetAccuracyTarget(double target) { g_accuracy_target.store(target, std::memory_order_relaxed); }
