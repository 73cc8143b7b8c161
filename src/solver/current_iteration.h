#pragma once
#include <atomic>
#include <cstdint>

// The solver's iteration count as the end-node evaluators see it: the run
// control copies the tree's count here after each iteration (iterations are
// numbered from 1; 0 before the first). Signed, so that "below zero" is a real
// state: only then do the evaluators switch to their uniform variants, which no
// solving or measuring pass ever reaches. Atomic because analysis commands may
// evaluate showdowns on the command thread while the solver thread writes it.
inline std::atomic<int32_t> g_current_iteration{0};
