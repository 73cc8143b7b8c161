#pragma once
#include <cstdint>

#include "cards/card.h"
#include "compress/compression_level.h"

struct BoardLayout;
struct DealTree;
struct GameTree;
struct TreeNode;

// The stores of the tree's decision nodes: made by street (store/store_factory.h)
// from what the tree knows of each node, given values on demand, counted.

// Replaces the node's stores (their values are lost), clears its materialised
// flag and adds the regret store's value count to counters[node street]. No
// value memory is taken: NodeStore::Allocate does that later. Non-decision
// nodes are left alone.
void CreateNodeStores(TreeNode& node, const DealTree& deal, const BoardLayout* layout,
                      uint64_t counters[4], bool make_second, Street root_street,
                      const CompressionKinds& kinds, bool format_at_least_5);

// The same with the arguments the tree gives for this node.
void CreateNodeStoresOfState(GameTree& tree, TreeNode& node);

// Bytes that allocating the node's stores would still take (0 without stores).
uint64_t NodeAllocationBytes(TreeNode& node);

// While a street is forgotten: makes and allocates the stores of every decision
// node of the subtree that is not materialised (every one when forced) and
// marks those whose allocation succeeded. Nothing when no street is forgotten.
// A heap allocation that fails throws std::bad_alloc; the nodes marked before
// stay marked, the node under way is left unmarked.
void MaterializeNode(GameTree& tree, TreeNode& node, bool force);

// The store part of preparing a tree: counters zeroed, stores made for every
// node before the first forgotten street (all nodes when none is), allocated
// flag reset, totals from counters.
void CreateAllNodeStores(GameTree& tree);
