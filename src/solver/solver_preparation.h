#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "compress/compression_level.h"
#include "solver/solver_state.h"
#include "tree/tree_records.h"

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

// Builds a solver state from the entries and the cards (card numbers, -1 where
// absent) and installs it as g_solver_state in place of the old one, which is
// destroyed only once the new one is complete; sets the solver constants by
// its root street. Throws on a board or range that gives no tree; the old
// state then stays.
SolverState* CreateGameTree(int32_t storage_kind, const LineEntry* entries, size_t count,
                            int32_t deal_flag, int flop0, int flop1, int flop2, int turn, int river,
                            const std::vector<double>& oop_range,
                            const std::vector<double>& ip_range, bool isomorphism);

// Sets the solver constants by the root street, keeps the kinds (flop-rooted
// trees only), makes every live decision node's stores anew (no values yet),
// counts them, and starts the solving progress from 0. Nothing without a tree.
void PrepareSolver(const CompressionKinds& kinds);

// Re-prepares the current tree uncompressed to measure its need, weighs it
// against the free memory (ChooseCompressionLevel) and returns the level;
// prints the "#auto" diagnostic.
int32_t ComputeAutoCompressionLevel();

// A heap copy of the current tree's storage figures; null without a tree or
// without memory.
std::unique_ptr<StorageCounterBlock> CopyStorageCounters();
