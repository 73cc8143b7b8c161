#pragma once
#include <cstdint>

struct SchematicNode;

// Changes to the game tree after it was built.

// Stores the value into the EV boost of the node of the current tree; nothing
// without a tree or for an index outside its node array.
void SetEvBoost(int32_t node_index, float value);

// Removes the node's line from the bet lines and builds the game tree again
// without it (every solved value is lost). Refuses the root ("can't cut root")
// and the last line of the root ("lines not set"), and passes the build's
// refusals on: a build refused before it replaced the tree puts the line back,
// so the lines still describe the tree in place.
void CutLine(SchematicNode* node);

// Destroys the game tree.
void FreeGameTree();
