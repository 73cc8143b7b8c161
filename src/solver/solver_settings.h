#pragma once
#include <atomic>
#include <cstdint>

// Program-wide solver settings that outlive trees.

// Suit isomorphism per street of the tree's root (index 1 flop, 2 turn, 3
// river); set_isomorphism writes entries 1 and 2.
extern uint8_t g_isomorphism_by_street[4];

// Threads of the solver's OpenMP team, applied before each iteration
// (set_threads; the OpenMP maximum at start-up).
extern std::atomic<uint32_t> g_thread_count;

// Sets g_thread_count to the OpenMP runtime's maximum; the start-up calls it
// once the runtime is up.
void TakeDefaultThreadCount();

// How a pass runs its batch of subgame tasks: 0 OpenMP guided, 1 OpenMP
// dynamic, 2 the engine's own worker pool (set_scheduler). Read at each batch.
extern std::atomic<uint32_t> g_scheduler;

// Largest thread count set_threads accepts.
constexpr uint32_t kMaxThreadCount = 1024;

// Re-solve accuracy targets in chips, indexed by street (1 flop, 2 turn,
// 3 river; entry 0 unused): set_recalc_accuracy's fractions times the pot of
// that moment; a later set_pot leaves them alone.
extern double g_recalc_accuracy[4];

// Rake fraction and cap (set_rake): stored only, they do not affect solving.
extern double g_rake[2];

void SetThreadCount(uint32_t count);
void SetRecalcAccuracy(double flop, double turn, double river);
void SetRake(double fraction, double cap);
