#pragma once
#include <cstdint>

// Team size asked for at start-up (0: the OpenMP default).
extern uint32_t g_omp_team_size;

// Brings the OpenMP threads up with one small parallel loop, so the first pass
// does not pay for creating them. The threads run with the platform's default
// floating-point mode, not the command thread's flush-to-zero.
void libsubgame_init(uint32_t thread_count);

// Threads for the calling thread's next parallel region, to be given to it as
// its num_threads: `wanted` (at least 1), or fewer when the address-space
// limit leaves no room for the team threads it would have to start
// (NewThreadsThatFit); the runtime ends the process when it cannot make one.
// The runtime keeps a team per calling thread between regions, so the threads
// that team holds already are not weighed again. Every parallel region of the
// engine takes its size from here.
int TeamSizeThatFits(int wanted);

// The same, for the calling thread's OpenMP thread count (omp_set_num_threads,
// else the runtime's default).
int TeamSizeThatFits();

// Lets the calling thread's idle OpenMP team go; its next parallel region
// brings one up again. The runtime keeps team threads spinning at barriers only
// while it manages no more threads than there are processors: a team left idle
// on the command thread made every batch of the solver's team sleep and wake
// through the kernel, which on small subgames cost more than the work. Called
// outside parallel regions, by threads that run batches only now and then.
void ReleaseIdleThreadTeam();
