#include "solver/street_values.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "solver/node_cursor.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "support/idle_store.h"
#include "tree/build_fixture.h"

namespace {

// A store that records the opens and closes it gets, hands out a handle of its
// own when asked to, and can throw on open.
struct Event {
  int node;
  bool strategy;
  bool open;
  CompressedBlock* handle_in;
  int32_t slot;
  int64_t count_or_write_back;
};
std::vector<Event> g_events;

struct RecordingStore : IdleStore {
  int node;
  bool strategy;
  CompressedBlock* handle_out = nullptr;
  bool throw_on_open = false;
  RecordingStore(int n, bool s) : node(n), strategy(s) {}
  int64_t GetValueCount(int32_t i) override { return 1000 * node + i; }
  CompressedBlock* OpenValues(CompressedBlock* handle, int32_t i, int32_t count) override {
    if (throw_on_open) throw std::runtime_error("ERROR: open failed\n");
    g_events.push_back({node, strategy, true, handle, i, count});
    return handle_out;
  }
  CompressedBlock* CloseValues(CompressedBlock* handle, int32_t i, bool write_back) override {
    g_events.push_back({node, strategy, false, handle, i, write_back});
    return handle_out;
  }
};

class StreetValues : public TreeBuildTest {
 protected:
  // A flop tree whose river subtree below the check-check lines has decisions
  // of both players: OOP bets 10 or checks, IP raises 30 or checks back.
  void SetUp() override {
    TreeBuildTest::SetUp();
    g_events.clear();
    FullRanges();
    Situation("As Kd 7h", {"0 0 0 0 10 30", "0 0 0 0 0 0"});
    ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
    for (size_t i = 0; i < State().nodes.size(); ++i) {
      TreeNode& node = State().nodes[i];
      if (node.kind != DECISION_NODE || node.street != STREET_RIVER) continue;
      node.regret_store = std::make_unique<RecordingStore>(static_cast<int>(i), false);
      node.strategy_store = std::make_unique<RecordingStore>(static_cast<int>(i), true);
      river_nodes.push_back(static_cast<int>(i));
    }
    river_root = river_nodes.front();
    for (TreeNode* n = &State().nodes[river_root]; n; n = n->parent)
      if (n->turn_mutexes) turn_top = n;
    ASSERT_NE(turn_top, nullptr);
  }

  // Whether another thread can take the mutex right now.
  static bool FreeElsewhere(std::mutex& mutex) {
    return std::async(std::launch::async,
                      [&mutex] {
                        if (!mutex.try_lock()) return false;
                        mutex.unlock();
                        return true;
                      })
        .get();
  }

  std::vector<Event> Of(bool open, bool strategy) const {
    std::vector<Event> out;
    for (const Event& e : g_events)
      if (e.open == open && e.strategy == strategy) out.push_back(e);
    return out;
  }

  std::vector<int> river_nodes;
  int river_root = -1;
  TreeNode* turn_top = nullptr;
};

TEST_F(StreetValues, NodesOffTheRiverNeitherLockNorOpen) {
  for (TreeNode& node : State().nodes) {
    if (node.street == STREET_RIVER) continue;
    StreetValuesGuard guard(State(), node, 5, StreetAccess::kWrite);
    EXPECT_TRUE(FreeElsewhere(turn_top->turn_mutexes[5]));
    EXPECT_TRUE(FreeElsewhere(g_tree_pass_mutex));
  }
  EXPECT_TRUE(g_events.empty());
}

TEST_F(StreetValues, ReadingOpensEveryStoreOfTheSubtreeAndWritesNothingBack) {
  State().iterations = 0;  // strategy sums not in use: a reader still sees them
  {
    StreetValuesGuard guard(State(), State().nodes[river_nodes.back()], 7, StreetAccess::kRead);
    EXPECT_FALSE(FreeElsewhere(turn_top->turn_mutexes[7]));
    EXPECT_TRUE(FreeElsewhere(turn_top->turn_mutexes[6]));
    // The whole river subtree from its first node, in pre-order.
    std::vector<Event> opened = Of(true, false);
    ASSERT_EQ(opened.size(), river_nodes.size());
    uint64_t counts[2] = {0, 0};
    for (int n : river_nodes) counts[State().nodes[n].player] += 1000 * n + 7;
    for (size_t k = 0; k < opened.size(); ++k) {
      EXPECT_EQ(opened[k].node, river_nodes[k]);
      EXPECT_EQ(opened[k].slot, 7);
      EXPECT_EQ(opened[k].count_or_write_back,
                static_cast<int32_t>(counts[State().nodes[river_nodes[k]].player]));
    }
    EXPECT_EQ(Of(true, true).size(), river_nodes.size());
    EXPECT_TRUE(Of(false, false).empty());
  }
  EXPECT_TRUE(FreeElsewhere(turn_top->turn_mutexes[7]));
  for (bool strategy : {false, true}) {
    std::vector<Event> closed = Of(false, strategy);
    ASSERT_EQ(closed.size(), river_nodes.size());
    for (const Event& e : closed) EXPECT_EQ(e.count_or_write_back, 0);
  }
}

TEST_F(StreetValues, WritingWritesEverythingBack) {
  { StreetValuesGuard guard(State(), State().nodes[river_root], 3, StreetAccess::kWrite); }
  for (bool strategy : {false, true}) {
    std::vector<Event> closed = Of(false, strategy);
    ASSERT_EQ(closed.size(), river_nodes.size());
    for (const Event& e : closed) EXPECT_EQ(e.count_or_write_back, 1);
  }
}

TEST_F(StreetValues, TheLockIsReleasedWhenTheUserOrTheOpenThrows) {
  try {
    StreetValuesGuard guard(State(), State().nodes[river_root], 11, StreetAccess::kWrite);
    throw std::runtime_error("ERROR: something\n");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(FreeElsewhere(turn_top->turn_mutexes[11]));
  EXPECT_EQ(Of(false, false).size(), river_nodes.size());

  g_events.clear();
  dynamic_cast<RecordingStore*>(State().nodes[river_nodes.back()].regret_store.get())
      ->throw_on_open = true;
  EXPECT_THROW(StreetValuesGuard(State(), State().nodes[river_root], 11, StreetAccess::kRead),
               std::runtime_error);
  EXPECT_TRUE(FreeElsewhere(turn_top->turn_mutexes[11]));
  // What was opened is dropped again, nothing written back.
  for (const Event& e : Of(false, false)) EXPECT_EQ(e.count_or_write_back, 0);
  EXPECT_EQ(Of(false, false).size(), river_nodes.size());
}

TEST_F(StreetValues, RiverRootedTreesTakeThePassMutex) {
  Run("clear_lines");
  Situation("As Kd 7h 4c 2d", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  {
    StreetValuesGuard guard(State(), State().nodes[1], 0, StreetAccess::kRead);
    EXPECT_FALSE(FreeElsewhere(g_tree_pass_mutex));
  }
  EXPECT_TRUE(FreeElsewhere(g_tree_pass_mutex));
}

TEST_F(StreetValues, PassRulesFollowTheStorageKindAndThePass) {
  SolverState& state = State();
  PassContext pass;
  NodeCursor cursor(&state, &pass, &state.nodes[river_root], 2, -1);
  uint64_t counts[2] = {0, 0};
  CountSubtreeValues(cursor, true, counts);
  CompressedBlock* handles[2] = {nullptr, nullptr};

  // Storage kind 1 at iteration 60: the sums are not in use yet.
  state.storage_kind = 1;
  state.iterations = 60;
  pass.mode = PASS_EVALUATE;
  WalkRiverValues(true, cursor, handles, true, counts, false);
  EXPECT_TRUE(g_events.empty());
  state.iterations = 61;
  WalkRiverValues(true, cursor, handles, true, counts, false);
  EXPECT_EQ(Of(true, true).size(), river_nodes.size());

  // Solving pass of OOP: only IP's strategy sums are needed and written back,
  // only OOP's regrets are written back.
  g_events.clear();
  pass.mode = PASS_SOLVE;
  pass.player = PLAYER_OOP;
  OpenSubtreeValues(cursor, handles, true, counts, false);
  for (const Event& e : Of(true, true)) EXPECT_EQ(state.nodes[e.node].player, 1);
  CloseRiverValues(cursor, handles, true, false);
  CloseRiverValues(cursor, handles, false, false);
  for (bool strategy : {false, true}) {
    std::vector<Event> closed = Of(false, strategy);
    ASSERT_EQ(closed.size(), river_nodes.size());
    for (const Event& e : closed)
      EXPECT_EQ(e.count_or_write_back, state.nodes[e.node].player == (strategy ? 1 : 0)) << e.node;
  }
  // Forced: everything is opened and written back.
  g_events.clear();
  state.iterations = 0;
  OpenSubtreeValues(cursor, handles, true, counts, true);
  CloseRiverValues(cursor, handles, true, true);
  EXPECT_EQ(Of(true, true).size(), river_nodes.size());
  for (const Event& e : Of(false, true)) EXPECT_EQ(e.count_or_write_back, 1);
}

TEST_F(StreetValues, HandlesPassFromNodeToNodeOfTheSamePlayer) {
  SolverState& state = State();
  alignas(8) static char tokens[2];
  for (int n : river_nodes)
    dynamic_cast<RecordingStore*>(state.nodes[n].regret_store.get())->handle_out =
        reinterpret_cast<CompressedBlock*>(&tokens[state.nodes[n].player]);
  PassContext pass;
  NodeCursor cursor(&state, &pass, &state.nodes[river_root], 0, -1);
  uint64_t counts[2] = {0, 0};
  CompressedBlock* handles[2] = {nullptr, nullptr};
  OpenSubtreeValues(cursor, handles, false, counts, false);
  bool seen[2] = {false, false};
  for (const Event& e : Of(true, false)) {
    const int p = state.nodes[e.node].player;
    EXPECT_EQ(e.handle_in, seen[p] ? reinterpret_cast<CompressedBlock*>(&tokens[p]) : nullptr);
    seen[p] = true;
  }
  EXPECT_TRUE(seen[0] && seen[1]);
  EXPECT_EQ(handles[0], reinterpret_cast<CompressedBlock*>(&tokens[0]));
  EXPECT_EQ(handles[1], reinterpret_cast<CompressedBlock*>(&tokens[1]));
}

}  // namespace
