#pragma once
#include <cstdint>

#include "store/node_store.h"

struct NodeCursor;
struct SolverState;
struct TreeNode;

// River values may sit in block-compressed stores, where a whole river subtree
// shares one sequential block per player: they are opened (decoded) for a turn
// slot before anything reads them and closed (written back or dropped) after.
// For every other store class opening and closing do nothing, and only the lock
// matters.

// Whether the strategy-sum stores hold anything yet: a nonzero storage kind,
// and for kind 1 only after iteration 60.
bool StrategySumsInUse(const SolverState& state);

// The walks over the river decision nodes at and below a cursor (its turn slot
// kept), in pre-order and child order. Not forced, they follow the cursor's
// pass: the regret store is always opened and written back in solving passes
// by the pass player; the strategy-sum store is opened when the sums are in use
// and the pass needs them, and written back in solving passes by the opponent.
// Forced, every store that exists is opened and written back.
enum class RiverWalkRule : uint8_t {
  kFollowPass,
  kForced,
  kForcedReadOnly,  // every store opened, nothing written back
};

// The end of a whole walk's reading or writing of a block handle it left
// (null: nothing): the block's EndRead after an opening walk, its EndWrite
// after a closing walk.
void EndBlockRead(CompressedBlock* handle);
void EndBlockWrite(CompressedBlock* handle);
// The end of a walk's write that is not to be kept (null: nothing): the
// block holds what it held before the write (AbandonWrite).
void AbandonBlockWrite(CompressedBlock* handle);

// Adds the selected store's value count of the cursor's turn slot for every
// river decision node at and below the cursor to counts[its player].
void CountSubtreeValues(const NodeCursor& cursor, bool strategy_sums, uint64_t counts[2]);

// open: handles[player] = store.OpenValues(handles[player], turn slot, low 32
// bits of counts[player]); close: handles[player] = store.CloseValues(handles
// [player], turn slot, write back). counts is not read when closing.
void WalkRiverValues(bool open, const NodeCursor& cursor, CompressedBlock* handles[2],
                     bool strategy_sums, const uint64_t counts[2], bool force);
void WalkRiverValues(bool open, const NodeCursor& cursor, CompressedBlock* handles[2],
                     bool strategy_sums, const uint64_t counts[2], RiverWalkRule rule);
void OpenSubtreeValues(const NodeCursor& cursor, CompressedBlock* handles[2], bool strategy_sums,
                       const uint64_t counts[2], bool forced);
void CloseRiverValues(const NodeCursor& cursor, CompressedBlock* handles[2], bool strategy_sums,
                      bool force);

// Closes every open store of the selected kind at and below the cursor
// without writing anything back (a walk given up): afterwards none is open.
void DropSubtreeValues(const NodeCursor& cursor, bool strategy_sums);

// Opens the selected stores at and below the cursor under the rule, their
// counts taken first, and ends both blocks' reads, also when the walk throws
// (the stores opened stay open for the caller to close or drop).
void OpenRiverSubtree(const NodeCursor& cursor, bool strategy_sums, RiverWalkRule rule);

// Closes the selected stores at and below the cursor under the rule and ends
// both blocks' writes. A write that cannot be finished (no memory, no address
// space) is given up whole: each block holds what it held before or all of
// its new arrays, never a part of them, every store is closed, and the error
// propagates.
void WriteBackRiverSubtree(const NodeCursor& cursor, bool strategy_sums, RiverWalkRule rule);

// What code outside a pass does with the river values it opens. Reading opens
// every store whatever the last pass was and writes nothing back; writing opens
// every store and writes everything back, so no change is ever dropped.
enum class StreetAccess : uint8_t { kRead, kWrite };

// The one way for code outside a pass to use river values. For a river node the
// constructor locks the turn slot's mutex of the first turn node of the line
// (g_tree_pass_mutex when that node has none), then opens the river values of
// the node's whole river subtree; on an error the opened values are dropped and
// the lock released before it propagates. The destructor (or Close) closes
// them and unlocks, also when closing throws. Nothing for other nodes.
class StreetValuesGuard {
 public:
  StreetValuesGuard(SolverState& state, TreeNode& node, int32_t turn_slot,
                    StreetAccess access = StreetAccess::kRead);
  ~StreetValuesGuard();
  StreetValuesGuard(const StreetValuesGuard&) = delete;
  StreetValuesGuard& operator=(const StreetValuesGuard&) = delete;

  // Closes now, so that an error of the close reaches the caller; the lock is
  // released whatever happens.
  void Close();

 private:
  SolverState* state_;
  TreeNode* node_;
  int32_t turn_slot_;
  StreetAccess access_;
  bool open_;
};
