#pragma once
#include <cstdint>

#include "protocol/tokenizer.h"

// Commands that change the game tree after it was built.

// set_ev_boost <path> <value>: a decision node's EV boost, -0.99 to 1.0.
void CmdSetEvBoost(const WordList& words);
// cut_line <path>: removes the node's line from the bet lines and builds the
// game tree again without it (every solved value is lost).
void CmdCutLine(const WordList& words);
// free_tree: destroys the game tree.
void CmdFreeTree(const WordList& words);

// Stores the value into the EV boost of the node of the current tree; nothing
// without a tree or for an index outside its node array.
void SetEvBoost(int32_t node_index, float value);
