#include "store/store_factory.h"

#include "protocol/fail.h"
#include "store/arena_store.h"
#include "store/block_store.h"
#include "store/board_layout.h"
#include "store/composite_store.h"
#include "store/plain_store.h"

namespace {

// Kind 1 packs, any other nonzero kind entropy-codes.
BlockStore::Kind BlockKindOf(int32_t coder_kind) {
  return coder_kind == 1 ? BlockStore::Kind::PACKED : BlockStore::Kind::STREAM;
}

std::unique_ptr<NodeStore> MakeRiverRegretStore(const BoardLayout* layout, bool full_width,
                                                int32_t coder_kind) {
  if (full_width) return std::make_unique<ArenaStore32>(layout);
  if (coder_kind != 0)
    return std::make_unique<BlockStore>(layout, BlockKindOf(coder_kind), BlockStore::Width::BITS16);
  return std::make_unique<ArenaStore16>(layout);
}

std::unique_ptr<NodeStore> MakeRiverStrategyStore(const BoardLayout* layout, int32_t coder_kind) {
  if (coder_kind != 0)
    return std::make_unique<BlockStore>(layout, BlockKindOf(coder_kind), BlockStore::Width::BITS32);
  return std::make_unique<ArenaStore32>(layout);
}

}  // namespace

DecisionStores MakeDecisionStores(Street street, int32_t actions, int32_t flop_hands,
                                  const std::vector<uint32_t>& turn_hand_counts,
                                  const BoardLayout* layout, bool make_strategy,
                                  Street root_street, const CompressionKinds& kinds,
                                  bool format_at_least_5) {
  DecisionStores stores;
  switch (street) {
    case STREET_FLOP:
      stores.regret = std::make_unique<PlainStore>(actions, flop_hands);
      if (make_strategy) stores.strategy = std::make_unique<PlainStore>(actions, flop_hands);
      break;
    case STREET_TURN:
      stores.regret = std::make_unique<CompositeStore>(actions, turn_hand_counts);
      if (make_strategy)
        stores.strategy = std::make_unique<CompositeStore>(actions, turn_hand_counts);
      break;
    case STREET_RIVER: {
      if (!layout || layout->actions != actions) Fail("no board layout for a river node");
      const bool full_width =
          root_street == STREET_RIVER || (root_street == STREET_TURN && format_at_least_5);
      stores.regret = MakeRiverRegretStore(layout, full_width, kinds.regret_kind);
      if (make_strategy) stores.strategy = MakeRiverStrategyStore(layout, kinds.strategy_kind);
      break;
    }
    default:
      Fail("decision node off the streets");
  }
  return stores;
}
