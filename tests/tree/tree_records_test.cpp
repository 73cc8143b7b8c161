#include "tree/tree_records.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cards/combo_tables.h"
#include "solver/solver_state.h"
#include "support/idle_store.h"

namespace {

// Counts its destructions and reads its layout while dying, as a river store
// that walks its lock records would.
struct ProbeStore : IdleStore {
  static int destroyed;
  static int last_board_count;
  const BoardLayout* layout = nullptr;
  explicit ProbeStore(const BoardLayout* l = nullptr) : layout(l) {}
  ~ProbeStore() override {
    ++destroyed;
    if (layout) last_board_count = layout->board_count;
  }
};
int ProbeStore::destroyed = 0;
int ProbeStore::last_board_count = 0;

TEST(TreeRecords, NewGameTreeStartsEmpty) {
  GameTree tree(1, 0);
  EXPECT_TRUE(tree.nodes.empty());
  EXPECT_EQ(tree.flop_mask, 0u);
  EXPECT_EQ(tree.board_mask, 0u);
  EXPECT_EQ(tree.deal_tree, nullptr);
  EXPECT_EQ(tree.start_turn_slot, -1);
  EXPECT_EQ(tree.start_river_slot, -1);
  EXPECT_EQ(tree.storage_kind, 1);
  EXPECT_EQ(tree.deal_flag, 0);
  EXPECT_EQ(tree.format_version, 6u);
  EXPECT_EQ(tree.flags, static_cast<uint32_t>(NEW_TREE));
  EXPECT_EQ(tree.first_forgotten_street, -1);
  EXPECT_EQ(tree.coder_kinds[0], 0);
  EXPECT_EQ(tree.stores_allocated, 0);
  for (uint64_t counter : tree.storage_counters) EXPECT_EQ(counter, 0u);
  GameTree other(0, 2);
  EXPECT_EQ(other.storage_kind, 0);
  EXPECT_EQ(other.deal_flag, 2);
}

TEST(TreeRecords, EndValuesAddHalfThePot) {
  EXPECT_EQ(LineEndValue(100.0, 0.0), 50.0);   // fold after a bet of 10
  EXPECT_EQ(LineEndValue(100.0, 10.0), 60.0);  // its call
  EXPECT_EQ(LineEndValue(7.5, 1.25), 5.0);
}

TEST(TreeRecords, DestroyingATreeFreesEverythingItOwns) {
  ProbeStore::destroyed = 0;
  ProbeStore::last_board_count = 0;
  auto state = std::make_unique<GameTree>(1, 0);
  state->nodes.reserve(3);
  state->max_actions = 2;
  TreeNode& root = state->nodes.emplace_back();
  root.street = STREET_TURN;
  root.children = {1, 2};
  root.turn_mutexes.reset(new std::mutex[kTurnMutexCount]);
  root.card_records.reset(new CardRecord[1]);
  root.card_records[0].reach_sums[1].Resize(1128);
  root.card_records[0].values[0].Resize(10);

  const std::vector<double> full(kComboCount, 1.0);
  BuildChanceLevels(*state, ParseCardText("Ah7d2c"), __builtin_ctzll(ParseCardText("Ks")), -1,
                    full, full, false);
  ASSERT_EQ(state->board_layouts.size(), 3u);
  const BoardLayout* layout = state->board_layouts[2].get();

  root.regret_store = std::make_unique<ProbeStore>();
  root.strategy_store = std::make_unique<ProbeStore>();
  TreeNode& river = state->nodes.emplace_back();
  river.street = STREET_RIVER;
  river.parent_index = 0;
  river.parent = &root;
  river.regret_store = std::make_unique<ProbeStore>(layout);
  river.card_records.reset(new CardRecord[kRiverCardRecordCount]);
  river.card_records[48].best_response_values[0].Resize(3);

  state.reset();
  EXPECT_EQ(ProbeStore::destroyed, 3);
  // The river store still saw its layout alive.
  EXPECT_EQ(ProbeStore::last_board_count, 48);
}

TEST(TreeRecords, CardRecordsStartEmptyAndEmptyAgainWhenReset) {
  CardRecord record;
  EXPECT_EQ(record.values[1].data, nullptr);
  EXPECT_EQ(record.reach_filled[0], 0);
  EXPECT_EQ(record.frozen, 0);
  EXPECT_EQ(record.solved_mask, 0u);
  record.values[1].Resize(8);
  record.reach_sums[0].Resize(3);
  record.reach_filled[0] = 1;
  record.frozen = 1;
  record.solved_mask = 5;
  record = CardRecord();
  EXPECT_EQ(record.values[1].data, nullptr);
  EXPECT_EQ(record.values[1].count, 0);
  EXPECT_EQ(record.reach_sums[0].data, nullptr);
  EXPECT_EQ(record.reach_filled[0], 0);
  EXPECT_EQ(record.frozen, 0);
  EXPECT_EQ(record.solved_mask, 0u);
}

}  // namespace
