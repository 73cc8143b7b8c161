#pragma once
#include <cstdint>

// Team size asked for at start-up (0: the OpenMP default).
extern uint32_t g_omp_team_size;

// Brings the OpenMP threads up with one small parallel loop, so the first pass
// does not pay for creating them. The threads run with the platform's default
// floating-point mode, not the command thread's flush-to-zero.
void libsubgame_init(uint32_t thread_count);

// Lets the calling thread's idle OpenMP team go; its next parallel region
// brings one up again. The runtime keeps team threads spinning at barriers only
// while it manages no more threads than there are processors: a team left idle
// on the command thread made every batch of the solver's team sleep and wake
// through the kernel, which on small subgames cost more than the work. Called
// outside parallel regions, by threads that run batches only now and then.
void ReleaseIdleThreadTeam();
