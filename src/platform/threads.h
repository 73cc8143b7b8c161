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
