#pragma once
#include <cstdint>

// Changes to the game tree after it was built.

struct GameTree;

// Stores the value into the EV boost of the tree's node; nothing without a
// tree (null) or for an index outside its node array.
void SetEvBoost(GameTree* tree, int32_t node_index, float value);
