#pragma once
// What every store form does alike with the rows of one board: the hands a
// row operation covers, the chunk of the general strategy loop, the lock mask
// the kernels read and a default strategy share.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "store/node_store.h"

// Hands per pass of the general strategy loop: the sums of one chunk live on
// the stack, so GetStrategy allocates nothing but its result. A multiple of
// eight, so the hands that take the exact form are the same whatever the chunk.
constexpr int32_t kStrategyChunk = 512;

// The part of a row of b hands that an array of a values covers.
inline int32_t Covered(int32_t a, int32_t b) { return std::max(0, std::min(a, b)); }

// The record's mask as n bytes, null without one. Both writers of masks make
// them as long as the board; a shorter one (not made by this engine) locks as
// far as it goes, through a zero-padded copy, so no kernel reads past it.
inline const uint8_t* MaskOf(const NodeLockRecord& lock, int32_t n,
                             std::vector<uint8_t>& padded) {
  if (!lock.mask) return nullptr;
  if (lock.mask_length >= n) return lock.mask;
  padded.assign(static_cast<size_t>(n), 0);
  std::memcpy(padded.data(), lock.mask, static_cast<size_t>(std::max(lock.mask_length, 0)));
  return padded.data();
}

// Action a's share where a board has no values: its default, or 0 without any.
inline float DefaultOf(const float* defaults, int32_t a) { return defaults ? defaults[a] : 0.0f; }
