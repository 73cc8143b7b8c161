#pragma once
#include <cstdint>

// The solver's nanosecond clock: running times, the thinning of exploitability
// checks and the time limit of a run.

// Ticks per second of the high-resolution counter, read once at start-up.
extern int64_t g_clock_frequency;

void InitClockFrequency();

// Counter value x 1e9 / g_clock_frequency, in double precision, truncated to
// whole nanoseconds.
void GetTimeNs(int64_t* out);
