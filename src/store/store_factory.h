#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "cards/card.h"
#include "compress/compression_level.h"
#include "store/node_store.h"

struct BoardLayout;

// The one place that decides which store class a decision node gets: flop
// nodes keep plain heap stores, turn nodes one plain store per turn slot, river
// nodes arena stores over their layout (16-bit regrets where the tree is
// flop-rooted, or turn-rooted in an old file format), or block-compressed
// stores where the coder kinds ask for them (16-bit regrets by the first kind,
// 32-bit integer strategy sums by the second). The stores have no value memory
// yet: NodeStore::Allocate takes it later.

// The two stores of a decision node; strategy is null without strategy sums.
struct DecisionStores {
  std::unique_ptr<NodeStore> regret;
  std::unique_ptr<NodeStore> strategy;
};

// The stores of a decision node of `street` with
// `actions` actions: flop_hands hands on the flop, turn_hand_counts per turn
// slot on the turn, the river's layout (which must have `actions` actions) on
// the river. make_strategy adds the strategy-sum store. Any other street is an
// internal fault.
DecisionStores MakeDecisionStores(Street street, int32_t actions, int32_t flop_hands,
                                  const std::vector<uint32_t>& turn_hand_counts,
                                  const BoardLayout* layout, bool make_strategy,
                                  Street root_street, const CompressionKinds& kinds,
                                  bool format_at_least_5);
