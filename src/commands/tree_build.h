#pragma once

struct SchematicNode;

// The game tree's life as the commands see it: built from the bet lines (the
// tree layer), installed as the solver's state and prepared for solving (the
// solver), rebuilt without a line, freed.

// Builds the game tree from the lines. build 1 (build_tree, cut_line) also
// chooses the compression level and prepares the stores; build 0 (tree files)
// leaves that to the reader. Errors are refusals (CommandRefusal) with the
// reason; then the previous tree, if any, is still in place and complete.
void BuildTreeFromLines(int build);

// Chooses the compression level from g_compression_setting (auto measures the
// tree and the free memory) and makes the tree's stores anew at it. A failure
// frees the tree (no half-made stores are left to solve or query) and is
// passed on.
void PrepareStoresAtSetting();

// Removes the node's line from the bet lines and builds the game tree again
// without it (every solved value is lost). Refuses the root ("can't cut root")
// and the last line of the root ("lines not set"), and passes the build's
// refusals on: a build refused before it replaced the tree puts the line back,
// so the lines still describe the tree in place.
void CutLine(SchematicNode* node);

// Destroys the game tree.
void FreeGameTree();
