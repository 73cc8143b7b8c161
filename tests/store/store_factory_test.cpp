// The store classes of a decision node by street, root street and file format,
// without a tree: only hand counts and a layout go in.
#include "store/block_store.h"
#include "store/store_factory.h"

#include <gtest/gtest.h>

#include "store/arena_store.h"
#include "store/board_layout.h"
#include "store/composite_store.h"
#include "store/plain_store.h"

namespace {

template <typename T>
bool Is(const std::unique_ptr<NodeStore>& store) {
  return dynamic_cast<T*>(store.get()) != nullptr;
}

TEST(StoreFactory, FlopAndTurnStoresTakeTheirHandCounts) {
  const std::vector<uint32_t> turn_counts = {40, 41, 39};
  DecisionStores flop = MakeDecisionStores(STREET_FLOP, 3, 1081, turn_counts, nullptr, true,
                                           STREET_FLOP, {2, 2}, true);
  ASSERT_TRUE(Is<PlainStore>(flop.regret));
  EXPECT_TRUE(Is<PlainStore>(flop.strategy));
  EXPECT_EQ(flop.regret->GetHandCount(-1, -1), 1081);

  DecisionStores turn = MakeDecisionStores(STREET_TURN, 2, 1081, turn_counts, nullptr, false,
                                           STREET_FLOP, {0, 0}, true);
  ASSERT_TRUE(Is<CompositeStore>(turn.regret));
  EXPECT_EQ(turn.strategy, nullptr);
  EXPECT_EQ(dynamic_cast<CompositeStore*>(turn.regret.get())->turn_slots(), 3);
  EXPECT_EQ(turn.regret->GetHandCount(1, -1), 41);
}

TEST(StoreFactory, RiverRegretWidthFollowsRootStreetAndFormat) {
  const std::unique_ptr<BoardLayout> layout = MakeBoardLayout(2, {{30, 31}, {29, 30}});
  struct Case {
    Street root_street;
    bool format_at_least_5;
    bool full_width;
  };
  for (const Case& c : {Case{STREET_FLOP, true, false}, Case{STREET_TURN, false, false},
                        Case{STREET_TURN, true, true}, Case{STREET_RIVER, false, true}}) {
    DecisionStores river = MakeDecisionStores(STREET_RIVER, 2, 0, {}, layout.get(), true,
                                              c.root_street, {0, 0}, c.format_at_least_5);
    EXPECT_EQ(Is<ArenaStore32>(river.regret), c.full_width) << "root " << c.root_street;
    EXPECT_EQ(Is<ArenaStore16>(river.regret), !c.full_width) << "root " << c.root_street;
    EXPECT_TRUE(Is<ArenaStore32>(river.strategy));
    EXPECT_EQ(river.regret->GetValueCount(-1), 2 * (30 + 31 + 29 + 30));
    // Compressed kinds: 16-bit regret blocks where the regrets are 16-bit,
    // 32-bit strategy-sum blocks.
    DecisionStores coded = MakeDecisionStores(STREET_RIVER, 2, 0, {}, layout.get(), true,
                                              c.root_street, {1, 2}, c.format_at_least_5);
    EXPECT_EQ(Is<ArenaStore32>(coded.regret), c.full_width);
    if (!c.full_width) {
      ASSERT_TRUE(Is<BlockStore>(coded.regret));
      EXPECT_EQ(coded.regret->AsBlockStore()->kind(), BlockStore::Kind::PACKED);
      EXPECT_EQ(coded.regret->AsBlockStore()->width(), BlockStore::Width::BITS16);
    }
    ASSERT_TRUE(Is<BlockStore>(coded.strategy));
    EXPECT_EQ(coded.strategy->AsBlockStore()->kind(), BlockStore::Kind::STREAM);
    EXPECT_EQ(coded.strategy->AsBlockStore()->width(), BlockStore::Width::BITS32);
  }
}

}  // namespace
