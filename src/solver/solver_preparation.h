#pragma once
#include <cstdint>

#include "compress/compression_level.h"

// Turning a built or loaded tree into one the solver can run on.

// A copy of the storage figures of the current tree: per street 0 to 3 the
// values of the river-style stores made and the bytes they are estimated to
// take, and the action statistics.
struct StorageCounterBlock {
  uint64_t counters[4];
  uint64_t totals[4];
  double average_actions;
  int32_t max_actions;
};

// Sets the solver constants by the root street, keeps the kinds (flop-rooted
// trees only), makes every live decision node's stores anew (no values yet),
// counts them, and starts the solving progress from 0. Nothing without a tree.
void PrepareSolver(const CompressionKinds& kinds);

// Re-prepares the current tree uncompressed to measure its need, weighs it
// against the free memory (ChooseCompressionLevel) and returns the level;
// prints the "#auto" diagnostic.
int32_t ComputeAutoCompressionLevel();

// A heap copy of the current tree's storage figures; null without a tree or
// without memory. Free it with FreeStorageCounters.
StorageCounterBlock* CopyStorageCounters();
void FreeStorageCounters(StorageCounterBlock* counters);
