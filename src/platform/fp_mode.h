#pragma once
#include <cstdint>

// The SSE control register (MXCSR). The command thread runs with flush-to-zero
// and denormals-are-zero; every other thread runs with the platform default.
// On Linux a new thread inherits its creator's register, so threads created from
// the command thread are created under a ScopedDefaultFpMode.

constexpr uint32_t kMxcsrDefault = 0x1F80;         // all exceptions masked, round to nearest
constexpr uint32_t kMxcsrFlushToZeroBits = 0x8040;  // FTZ | DAZ

uint32_t ReadFpControl();
void WriteFpControl(uint32_t mxcsr);

// Sets FTZ and DAZ on the calling thread only.
void EnableFlushToZero();
// Puts the calling thread back to the platform default.
void SetDefaultFpMode();

// Default mode for the guard's lifetime, the previous mode afterwards.
class ScopedDefaultFpMode {
 public:
  ScopedDefaultFpMode() : saved_(ReadFpControl()) { SetDefaultFpMode(); }
  ~ScopedDefaultFpMode() { WriteFpControl(saved_); }
  ScopedDefaultFpMode(const ScopedDefaultFpMode&) = delete;
  ScopedDefaultFpMode& operator=(const ScopedDefaultFpMode&) = delete;

 private:
  uint32_t saved_;
};
