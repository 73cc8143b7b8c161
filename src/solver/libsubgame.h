#pragma once
#include <cstdint>

// Team size asked for at start-up (0: the OpenMP default).
extern uint32_t g_omp_team_size;

// Brings the OpenMP threads up with one small parallel loop, so the first pass
// does not pay for creating them. The threads run with the platform's default
// floating-point mode, not the command thread's flush-to-zero.
void libsubgame_init(uint32_t thread_count);
