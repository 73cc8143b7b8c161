#include "tree/node_stores.h"

#include <gtest/gtest.h>

#include <tuple>

#include "solver/solver_preparation.h"
#include "solver/solver_state.h"
#include "store/block_store.h"
#include "store/arena_store.h"
#include "store/composite_store.h"
#include "store/plain_store.h"
#include "tree/build_fixture.h"

namespace {

using NodeStores = TreeBuildTest;

template <typename T>
bool Is(const std::unique_ptr<NodeStore>& store) {
  return dynamic_cast<T*>(store.get()) != nullptr;
}

// Lines that reach every street: check-check on flop and turn, a bet on the
// river, and a bet on the flop that is called to the turn.
void FlopSituation() {
  TreeBuildTest::FullRanges();
  TreeBuildTest::Situation("As Kd 7h", {"0 0 0 0 10", "5 5 20"});
}

TEST_F(NodeStores, ClassesByStreetOnAFlopTree) {
  FlopSituation();
  for (int level = 0; level <= 4; ++level) {
    g_compression_setting = level;
    ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
    const CompressionKinds kinds = LevelToCompressionKinds(level);
    EXPECT_EQ(State().coder_kinds[0], kinds.regret_kind);
    EXPECT_EQ(State().coder_kinds[1], kinds.strategy_kind);
    int river_nodes = 0;
    for (const TreeNode& node : State().nodes) {
      if (node.kind != DECISION_NODE) {
        EXPECT_EQ(node.regret_store, nullptr);
        EXPECT_EQ(node.strategy_store, nullptr);
        continue;
      }
      EXPECT_EQ(node.materialised, 0);
      switch (node.street) {
        case STREET_FLOP:
          EXPECT_TRUE(Is<PlainStore>(node.regret_store));
          EXPECT_TRUE(Is<PlainStore>(node.strategy_store));
          EXPECT_EQ(node.regret_store->GetHandCount(-1, -1),
                    static_cast<int32_t>(State().deal_tree->hands.size()));
          break;
        case STREET_TURN: {
          ASSERT_TRUE(Is<CompositeStore>(node.regret_store));
          EXPECT_TRUE(Is<CompositeStore>(node.strategy_store));
          auto* composite = dynamic_cast<CompositeStore*>(node.regret_store.get());
          EXPECT_EQ(composite->turn_slots(),
                    static_cast<int32_t>(State().deal_tree->turn_records.size()));
          break;
        }
        case STREET_RIVER:
          ++river_nodes;
          // Kind 0 keeps arena stores; 1 packed and 2 entropy-coded blocks.
          for (const auto& [store, kind, width] :
               {std::tuple{node.regret_store.get(), kinds.regret_kind, BlockStore::Width::BITS16},
                std::tuple{node.strategy_store.get(), kinds.strategy_kind,
                           BlockStore::Width::BITS32}}) {
            BlockStore* block = store->AsBlockStore();
            if (kind == 0) {
              EXPECT_EQ(block, nullptr);
              EXPECT_TRUE(width == BlockStore::Width::BITS16 ? store->AsArenaStore16() != nullptr
                                                               : store->AsArenaStore32() != nullptr);
              continue;
            }
            ASSERT_NE(block, nullptr) << "level " << level;
            EXPECT_EQ(static_cast<int32_t>(block->kind()), kind);
            EXPECT_EQ(block->width(), width);
          }
          EXPECT_EQ(dynamic_cast<ArenaStore*>(node.regret_store.get())->layout(),
                    State().board_layouts[node.children.size()].get());
          break;
        case STREET_NONE:
          ADD_FAILURE() << "a decision node off the streets";
          break;
      }
    }
    EXPECT_EQ(river_nodes, 2);
  }
}

TEST_F(NodeStores, TurnRootedTreesKeepFullWidthRegretsFromFormatFive) {
  FullRanges();
  Situation("As Kd 7h 4c", {"0 0 10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  auto river_regret_is_32 = [] {
    for (const TreeNode& node : TreeBuildTest::State().nodes)
      if (node.kind == DECISION_NODE && node.street == STREET_RIVER)
        return Is<ArenaStore32>(node.regret_store);
    ADD_FAILURE() << "no river node";
    return false;
  };
  EXPECT_TRUE(river_regret_is_32());
  State().format_version = 5;
  PrepareSolver({2, 2});
  EXPECT_TRUE(river_regret_is_32());
  EXPECT_EQ(State().coder_kinds[0], 0);
  State().format_version = 4;
  PrepareSolver({0, 0});
  EXPECT_FALSE(river_regret_is_32());

  // A river root: full width whatever the format.
  Run("clear_lines");
  Situation("As Kd 7h 4c 2d", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  State().format_version = 4;
  PrepareSolver({1, 1});
  EXPECT_TRUE(Is<ArenaStore32>(State().nodes[0].regret_store));
  EXPECT_TRUE(Is<ArenaStore32>(State().nodes[0].strategy_store));
}

TEST_F(NodeStores, TerminalNodesAreLeftAlone) {
  FullRanges();
  Situation("As Kd 7h 4c 2d", {"10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  TreeNode& call = State().nodes[2];
  ASSERT_EQ(call.kind, SHOWDOWN_NODE);
  call.materialised = 1;
  uint64_t counters[4] = {0, 0, 0, 0};
  CreateNodeStores(call, *State().deal_tree, State().board_layouts[1].get(), counters, true,
                   STREET_RIVER, {0, 0}, true);
  EXPECT_EQ(call.regret_store, nullptr);
  EXPECT_EQ(call.materialised, 1);
  EXPECT_EQ(counters[3], 0u);
}

TEST_F(NodeStores, CountersCountRiverValuesOnceAndTotalsFollowTheStorageKind) {
  FullRanges();
  g_isomorphism_by_street[1] = 0;  // every river board dealt: a count by hand
  Situation("As Kd 7h", {"0 0 0 0 10", "5 5 20"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  // 49 turns x 48 rivers, each with the C(47, 2) hands off the board.
  const uint64_t per_action = 49ull * 48ull * (47ull * 46ull / 2ull);
  uint64_t expected = 0;
  for (const TreeNode& node : State().nodes)
    if (node.kind == DECISION_NODE && node.street == STREET_RIVER)
      expected += per_action * node.children.size();
  EXPECT_EQ(State().storage_counters[3], expected);
  EXPECT_EQ(State().storage_counters[1], 0u);  // heap stores have no values yet
  EXPECT_EQ(State().storage_counters[2], 0u);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(State().storage_totals[s], 6 * State().storage_counters[s]);

  PrepareSolver({0, 0});
  EXPECT_EQ(State().storage_counters[3], expected);  // zeroed first, not added up
  const std::unique_ptr<StorageCounterBlock> copy = CopyStorageCounters();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->counters[3], expected);
  EXPECT_EQ(copy->totals[3], 6 * expected);
  EXPECT_EQ(copy->max_actions, State().max_actions);
  EXPECT_EQ(copy->average_actions, State().average_actions);

  State().storage_kind = 0;
  PrepareSolver({0, 0});
  EXPECT_EQ(State().storage_totals[3], 2 * expected);
  for (const TreeNode& node : State().nodes) EXPECT_EQ(node.strategy_store, nullptr);

  FreeSolverState();
  EXPECT_EQ(CopyStorageCounters(), nullptr);
  PrepareSolver({0, 0});  // nothing to prepare
}

TEST_F(NodeStores, ForgottenStreetsGetNoStoresAndMaterializeBringsThemBack) {
  FullRanges();
  Situation("As Kd 7h", {"0 0 0 0 10"});
  ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
  SolverState& state = State();

  // No street forgotten: nothing is made, even for unmaterialised nodes.
  const NodeStore* root_store = state.nodes[0].regret_store.get();
  MaterializeNode(state, state.nodes[0], true);
  EXPECT_EQ(state.nodes[0].regret_store.get(), root_store);
  EXPECT_EQ(state.nodes[0].materialised, 0);

  // Forgetting the turn deletes the stores of the turn and river nodes.
  state.first_forgotten_street = STREET_TURN;
  for (TreeNode& node : state.nodes) {
    if (node.street < STREET_TURN) continue;
    node.regret_store.reset();
    node.strategy_store.reset();
  }
  PrepareSolver({0, 0});
  for (const TreeNode& node : state.nodes) {
    if (node.kind != DECISION_NODE) continue;
    EXPECT_EQ(node.regret_store != nullptr, node.street < STREET_TURN);
  }
  EXPECT_EQ(state.storage_counters[3], 0u);

  MaterializeNode(state, state.nodes[0], false);
  for (const TreeNode& node : state.nodes) {
    if (node.kind != DECISION_NODE) continue;
    EXPECT_NE(node.regret_store, nullptr);
    EXPECT_NE(node.strategy_store, nullptr);
    EXPECT_EQ(node.materialised, 1);
    EXPECT_GT(node.regret_store->GetValueCount(-1), 0);  // allocated
  }
  // Materialised nodes are kept unless forced.
  const NodeStore* kept = state.nodes[0].regret_store.get();
  MaterializeNode(state, state.nodes[0], false);
  EXPECT_EQ(state.nodes[0].regret_store.get(), kept);
  MaterializeNode(state, state.nodes[0], true);
  EXPECT_EQ(state.nodes[0].materialised, 1);
  EXPECT_GT(state.nodes[0].regret_store->GetValueCount(-1), 0);
}

}  // namespace
