#include "solver/street_values.h"

#include "compress/compressed_block.h"
#include "protocol/fail.h"
#include "solver/node_cursor.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "tree/tree_records.h"

namespace {

NodeStore* SelectedStore(TreeNode& node, bool strategy_sums) {
  return strategy_sums ? node.strategy_store.get() : node.regret_store.get();
}

void CountBelow(SolverState& state, TreeNode& node, int32_t turn_slot, bool strategy_sums,
                uint64_t counts[2]) {
  if (node.kind != DECISION_NODE) return;
  if (node.street == STREET_RIVER)
    if (NodeStore* store = SelectedStore(node, strategy_sums))
      counts[node.player] += static_cast<uint64_t>(store->GetValueCount(turn_slot));
  for (int32_t child : node.children)
    CountBelow(state, state.nodes[child], turn_slot, strategy_sums, counts);
}

// The rule that follows the pass needs the cursor's pass.
const PassContext& PassOf(const PassContext* pass) {
  if (!pass) Fail("river values follow a pass without one");
  return *pass;
}

bool OpensStore(const SolverState& state, const PassContext* pass, const TreeNode& node,
                bool strategy_sums, RiverWalkRule rule) {
  if (!strategy_sums || rule != RiverWalkRule::kFollowPass) return true;
  const PassContext& p = PassOf(pass);
  return StrategySumsInUse(state) &&
         (p.mode == PASS_EVALUATE || p.mode == PASS_NODE_VALUE || node.player != p.player);
}

bool WritesBack(const SolverState& state, const PassContext* pass, const TreeNode& node,
                bool strategy_sums, RiverWalkRule rule) {
  if (rule == RiverWalkRule::kForced) return true;
  if (rule == RiverWalkRule::kForcedReadOnly) return false;
  const PassContext& p = PassOf(pass);
  if (p.mode != PASS_SOLVE) return false;
  if (!strategy_sums) return node.player == p.player;
  return StrategySumsInUse(state) && node.player != p.player;
}

// Recursion is bounded: the builder refuses lines of more than kMaxLineActions
// actions.
void WalkBelow(bool open, SolverState& state, const PassContext* pass, TreeNode& node,
               int32_t turn_slot, CompressedBlock* handles[2], bool strategy_sums,
               const uint64_t counts[2], RiverWalkRule rule) {
  if (node.kind != DECISION_NODE) return;
  if (node.street == STREET_RIVER) {
    NodeStore* store = SelectedStore(node, strategy_sums);
    const int p = node.player;
    if (store && open && OpensStore(state, pass, node, strategy_sums, rule))
      handles[p] = store->OpenValues(handles[p], turn_slot, static_cast<int32_t>(counts[p]));
    else if (store && !open)
      handles[p] = store->CloseValues(handles[p], turn_slot,
                                      WritesBack(state, pass, node, strategy_sums, rule));
  }
  for (int32_t child : node.children)
    WalkBelow(open, state, pass, state.nodes[child], turn_slot, handles, strategy_sums, counts,
              rule);
}

TreeNode& RiverRoot(TreeNode& node) {
  TreeNode* top = &node;
  while (top->parent && top->parent->street == STREET_RIVER) top = top->parent;
  return *top;
}

// The first node of the turn street of the node's line holds one mutex per turn
// slot; lines without one (river-rooted trees) share the pass mutex.
std::mutex& StreetMutex(TreeNode& node, int32_t turn_slot) {
  TreeNode* top = &node;
  while (top->parent && top->parent->street >= STREET_TURN) top = top->parent;
  if (top->turn_mutexes) {
    if (turn_slot < 0 || turn_slot >= kTurnMutexCount) Fail("turn slot out of range");
    return top->turn_mutexes[turn_slot];
  }
  return g_tree_pass_mutex;
}

RiverWalkRule RuleOf(StreetAccess access) {
  return access == StreetAccess::kWrite ? RiverWalkRule::kForced : RiverWalkRule::kForcedReadOnly;
}

void OpenOneKind(SolverState& state, TreeNode& root, int32_t turn_slot, bool strategy_sums,
                 RiverWalkRule rule) {
  const NodeCursor cursor(&state, nullptr, &root, turn_slot, -1);
  OpenRiverSubtree(cursor, strategy_sums, rule);
}

void CloseOneKind(SolverState& state, TreeNode& root, int32_t turn_slot, bool strategy_sums,
                  RiverWalkRule rule) {
  const NodeCursor cursor(&state, nullptr, &root, turn_slot, -1);
  WriteBackRiverSubtree(cursor, strategy_sums, rule);
}

// Locks and opens for the guard; see StreetValuesGuard.
void OpenStreetValues(SolverState& state, TreeNode& node, int32_t turn_slot,
                      StreetAccess access) {
  if (node.street != STREET_RIVER) return;
  std::mutex& mutex = StreetMutex(node, turn_slot);
  mutex.lock();
  TreeNode& root = RiverRoot(node);
  const RiverWalkRule rule = RuleOf(access);
  try {
    OpenOneKind(state, root, turn_slot, false, rule);
    OpenOneKind(state, root, turn_slot, true, rule);
  } catch (...) {
    // Drop whatever was opened, then let go of the lock.
    try {
      CloseOneKind(state, root, turn_slot, false, RiverWalkRule::kForcedReadOnly);
      CloseOneKind(state, root, turn_slot, true, RiverWalkRule::kForcedReadOnly);
    } catch (...) {
    }
    mutex.unlock();
    throw;
  }
}

// Closes what OpenStreetValues opened and unlocks, also when closing throws.
void CloseStreetValues(SolverState& state, TreeNode& node, int32_t turn_slot,
                       StreetAccess access) {
  if (node.street != STREET_RIVER) return;
  std::unique_lock<std::mutex> lock(StreetMutex(node, turn_slot), std::adopt_lock);
  TreeNode& root = RiverRoot(node);
  const RiverWalkRule rule = RuleOf(access);
  try {
    CloseOneKind(state, root, turn_slot, false, rule);
  } catch (...) {
    // The regrets' write given up: the sums close unwritten, none stays open.
    CloseOneKind(state, root, turn_slot, true, RiverWalkRule::kForcedReadOnly);
    throw;
  }
  CloseOneKind(state, root, turn_slot, true, rule);
}

}  // namespace

void EndBlockRead(CompressedBlock* handle) {
  if (handle) handle->EndRead();
}

void EndBlockWrite(CompressedBlock* handle) {
  if (handle) handle->EndWrite();
}

void AbandonBlockWrite(CompressedBlock* handle) {
  if (handle) handle->AbandonWrite();
}

bool StrategySumsInUse(const SolverState& state) {
  return state.storage_kind != 0 && !(state.storage_kind == 1 && state.iterations <= 60);
}

void CountSubtreeValues(const NodeCursor& cursor, bool strategy_sums, uint64_t counts[2]) {
  CountBelow(*cursor.state, *cursor.node, cursor.turn_slot, strategy_sums, counts);
}

void WalkRiverValues(bool open, const NodeCursor& cursor, CompressedBlock* handles[2],
                     bool strategy_sums, const uint64_t counts[2], RiverWalkRule rule) {
  WalkBelow(open, *cursor.state, cursor.pass, *cursor.node, cursor.turn_slot, handles,
            strategy_sums, counts, rule);
}

void WalkRiverValues(bool open, const NodeCursor& cursor, CompressedBlock* handles[2],
                     bool strategy_sums, const uint64_t counts[2], bool force) {
  WalkRiverValues(open, cursor, handles, strategy_sums, counts,
                  force ? RiverWalkRule::kForced : RiverWalkRule::kFollowPass);
}

void OpenSubtreeValues(const NodeCursor& cursor, CompressedBlock* handles[2], bool strategy_sums,
                       const uint64_t counts[2], bool forced) {
  WalkRiverValues(true, cursor, handles, strategy_sums, counts, forced);
}

void CloseRiverValues(const NodeCursor& cursor, CompressedBlock* handles[2], bool strategy_sums,
                      bool force) {
  WalkRiverValues(false, cursor, handles, strategy_sums, nullptr, force);
}

void OpenRiverSubtree(const NodeCursor& cursor, bool strategy_sums, RiverWalkRule rule) {
  uint64_t counts[2] = {0, 0};
  CountSubtreeValues(cursor, strategy_sums, counts);
  CompressedBlock* handles[2] = {nullptr, nullptr};
  try {
    WalkRiverValues(true, cursor, handles, strategy_sums, counts, rule);
  } catch (...) {
    // The other player's block may be half read: end it, so that it can be
    // read or written again.
    EndBlockRead(handles[0]);
    EndBlockRead(handles[1]);
    throw;
  }
  EndBlockRead(handles[0]);
  EndBlockRead(handles[1]);
}

void WriteBackRiverSubtree(const NodeCursor& cursor, bool strategy_sums, RiverWalkRule rule) {
  CompressedBlock* handles[2] = {nullptr, nullptr};
  try {
    WalkRiverValues(false, cursor, handles, strategy_sums, nullptr, rule);
    EndBlockWrite(handles[0]);
    handles[0] = nullptr;  // kept
    EndBlockWrite(handles[1]);
  } catch (...) {
    // A write that failed has given itself up already; one still running is
    // given up here, and the stores the walk did not reach close unwritten.
    AbandonBlockWrite(handles[0]);
    AbandonBlockWrite(handles[1]);
    DropSubtreeValues(cursor, strategy_sums);
    throw;
  }
}

void DropSubtreeValues(const NodeCursor& cursor, bool strategy_sums) {
  CompressedBlock* handles[2] = {nullptr, nullptr};
  // Without write-back no handle comes back; stores not open return null.
  WalkRiverValues(false, cursor, handles, strategy_sums, nullptr, RiverWalkRule::kForcedReadOnly);
}

StreetValuesGuard::StreetValuesGuard(SolverState& state, TreeNode& node, int32_t turn_slot,
                                     StreetAccess access)
    : state_(&state), node_(&node), turn_slot_(turn_slot), access_(access), open_(false) {
  OpenStreetValues(state, node, turn_slot, access);
  open_ = true;
}

StreetValuesGuard::~StreetValuesGuard() {
  if (!open_) return;
  try {
    Close();
  } catch (...) {
    // Already unwinding or at scope end: the lock is released either way.
  }
}

void StreetValuesGuard::Close() {
  if (!open_) return;
  open_ = false;
  CloseStreetValues(*state_, *node_, turn_slot_, access_);
}
