#pragma once
#include <cstdint>

// Changes to the game tree after it was built.

// Stores the value into the EV boost of the node of the current tree; nothing
// without a tree or for an index outside its node array.
void SetEvBoost(int32_t node_index, float value);
