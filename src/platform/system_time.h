#pragma once
#include <cstdint>

// Wall-clock time as a count of 100-nanosecond ticks since 1 January 1601, the
// epoch the engine's start time and solver_time are counted in.
uint64_t GetSystemTimeTicks();

// A monotonic high-resolution clock for measuring running times, and its
// frequency in ticks per second.
int64_t ReadClockTicks();
int64_t ClockFrequency();

// Blocks the calling thread for the given number of milliseconds.
void SleepMilliseconds(uint32_t ms);
