// River values of block-compressed stores outside a pass: what a writer sets
// through StreetValuesGuard reaches the blocks, what a reader changes does not.
#include <gtest/gtest.h>

#include <vector>

#include "solver/street_values.h"
#include "solver/solver_state.h"
#include "store/block_store.h"
#include "support/num_arrays.h"
#include "tree/build_fixture.h"
#include "tree/tree_records.h"

namespace {

class BlockStreetValues : public TreeBuildTest {
 protected:
  // A flop tree whose river subtrees hold decisions of both players, at
  // level 3: packed 16-bit regrets, entropy-coded 32-bit sums.
  void SetUp() override {
    TreeBuildTest::SetUp();
    g_compression_setting = 3;
    FullRanges();
    Situation("As Kd 7h", {"0 0 0 0 10 30", "0 0 0 0 0 0"});
    ASSERT_EQ(Run("build_tree"), "build_tree ok!\n");
    for (size_t i = 0; i < State().nodes.size(); ++i) {
      TreeNode& node = State().nodes[i];
      if (node.kind == DECISION_NODE && node.street == STREET_RIVER) river.push_back(&node);
    }
    ASSERT_GE(river.size(), 2u);
    ASSERT_NE(river.back()->regret_store->AsBlockStore(), nullptr);
    ASSERT_NE(river.back()->strategy_store->AsBlockStore(), nullptr);
  }

  // Row 0 of board (slot, 0) of both stores of a node, as values.
  static std::vector<double> Rows(TreeNode& node, int32_t slot) {
    std::vector<double> out;
    BlockStore* regrets = node.regret_store->AsBlockStore();
    BlockStore* sums = node.strategy_store->AsBlockStore();
    uint16_t* r16[8];
    int32_t* r32[8];
    int32_t hands = 0;
    EXPECT_TRUE(regrets->BoardRows16(slot, 0, r16, &hands, nullptr));
    for (int32_t h = 0; h < hands; ++h) out.push_back(r16[0][h]);
    EXPECT_TRUE(sums->BoardRows32(slot, 0, r32, &hands, nullptr));
    for (int32_t h = 0; h < hands; ++h) out.push_back(r32[0][h]);
    return out;
  }

  static void Set(TreeNode& node, int32_t slot, double value) {
    const int32_t hands = node.regret_store->GetHandCount(slot, 0);
    const NumArray values = MakeArray(std::vector<double>(static_cast<size_t>(hands), value));
    node.regret_store->SetActionValues(slot, 0, 0, values);
    node.strategy_store->SetActionValues(slot, 0, 0, values);
  }

  std::vector<TreeNode*> river;
};

TEST_F(BlockStreetValues, WritesReachTheBlocksAndReadsChangeNothing) {
  TreeNode& deep = *river.back();  // not the root of its river subtree
  const int32_t slot = 3;
  {
    StreetValuesGuard guard(State(), deep, slot, StreetAccess::kRead);
    for (double v : Rows(deep, slot)) EXPECT_EQ(v, 0.0);  // never written: zeros
    Set(deep, slot, 77.0);                                 // dropped on close
  }
  {
    StreetValuesGuard guard(State(), deep, slot, StreetAccess::kWrite);
    for (double v : Rows(deep, slot)) EXPECT_EQ(v, 0.0);
    Set(deep, slot, 1234.0);
  }
  {
    StreetValuesGuard guard(State(), deep, slot, StreetAccess::kRead);
    for (double v : Rows(deep, slot)) EXPECT_EQ(v, 1234.0);
    Set(deep, slot, 5.0);
  }
  // Opened from another node of the same subtree: the same blocks, in the
  // same order.
  StreetValuesGuard guard(State(), *river.front(), slot, StreetAccess::kRead);
  for (double v : Rows(deep, slot)) EXPECT_EQ(v, 1234.0);
  // Other turn slots are untouched.
  EXPECT_FALSE(deep.regret_store->AsBlockStore()->IsOpen(slot + 1));
}

}  // namespace
