#pragma once
#include <cstdint>
#include <string>

#include "tree/schematic_tree.h"

struct GameTree;

// What the reports on the game tree ask of it: flags and node counts.

// The words of the tree's flags ("INCOMPLETE_TREE ISOMORPHISM_ON NEW_TREE" as
// set); empty without a tree (null).
std::string GetTreeFlagsText(const GameTree* tree);

// The words of the lock record ("LOCKED COMBO_LOCKED" as set) of the node's
// board given by real cards (-1 where not dealt); empty for a node without
// stores, a board the tree does not have, or no tree.
std::string GetNodeFlagsText(const GameTree* tree, int32_t node_index, int32_t turn_card,
                             int32_t river_card);

// Node counts of node_count. A node counts once per board its street has in a
// tree dealt from the flop (1 flop, 49 turn, 49 x 48 river), whatever street the
// tree starts on.
struct NodeCounts {
  int64_t decisions[2] = {0, 0};                    // by player
  int64_t decision_streets[2][4] = {{0}, {0}};      // by player, street 1..3
  int64_t split_total = 0;
  int64_t split_streets[4] = {0, 0, 0, 0};
  int64_t end_total = 0;
  int64_t end_streets[4] = {0, 0, 0, 0};
  int64_t total = 0;
};

// Adds the bet lines below the node (the node included) to the counts.
void CountNodes(const SchematicNode* node, NodeCounts& counts);
