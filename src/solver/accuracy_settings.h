#pragma once
#include <atomic>
#include <cstdint>

// The accuracy at which a solver run stops. set_accuracy gives a value, absolute
// or a fraction of the pot; the target is always absolute (chips) and follows
// the pot through set_pot when relative.

extern double g_accuracy_value;      // the number last given to set_accuracy
extern uint8_t g_accuracy_relative;  // 1 when that number is a fraction of the pot
// Read by the solver thread at its exploitability checks, without a lock.
extern std::atomic<double> g_accuracy_target;

void SetAccuracyTarget(double target);
