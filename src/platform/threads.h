#pragma once
#include <cstdint>
#include <thread>
#include <utility>

#include "platform/fp_mode.h"

// Threads that compute for the solver. On Linux a new thread inherits its
// creator's SSE control register, and the command thread runs with
// flush-to-zero; computing threads must run with the platform default so that a
// result never depends on which thread produced it.

// Logical processors this process may run on (its affinity set), at least 1.
uint32_t GetLogicalProcessorCount();

// Binds the calling thread to the index-th processor of the process's affinity
// set (wrapping around). False when the system refuses; callers ignore that.
bool PinCurrentThreadToProcessor(uint32_t index);

// Room for new threads under an address-space limit. Where a thread cannot be
// made, some runtimes end the process (the OpenMP runtime does), so callers
// that start threads weigh them first and start fewer when room is short.

// Stack size of a new thread made without attributes (std::thread).
uint64_t DefaultThreadStackBytes();

// Address space one more thread with a stack of `stack_bytes` can take: the
// stack and its guard page, and the heap of its own that the C library maps
// at the thread's first allocation.
uint64_t NewThreadAddressSpace(uint64_t stack_bytes);

// How many of `wanted` more threads with stacks of `stack_bytes` fit the
// process's address-space limit now, each taking NewThreadAddressSpace and a
// reserve staying free for the threads that run already; `wanted` without a
// limit.
uint32_t NewThreadsThatFit(uint32_t wanted, uint64_t stack_bytes);

// Starts a thread running body() under the platform's default floating-point
// mode, whatever the creating thread's mode is. Throws std::system_error when
// the thread cannot be created.
template <typename Body>
std::thread StartDefaultFpThread(Body&& body) {
  ScopedDefaultFpMode creation_mode;
  return std::thread([body = std::forward<Body>(body)]() mutable {
    SetDefaultFpMode();
    body();
  });
}
