#pragma once
#include <string>

#include "protocol/tokenizer.h"
#include "tree/node_path.h"

// The commands of the bet lines and the game tree: editing the lines, building,
// changing and freeing the tree, and the reports on it.

// Bet lines; they take effect at the next build.
void CmdAddLine(const WordList& words);
void CmdForceLine(const WordList& words);
void CmdRemoveLine(const WordList& words);
void CmdClearLines(const WordList& words);
void CmdFreeSchematicTree(const WordList& words);

// The game tree.
void CmdBuildTree(const WordList& words);
// set_ev_boost <path> <value>: a decision node's EV boost, -0.99 to 1.0.
void CmdSetEvBoost(const WordList& words);
// cut_line <path>: the tree built again without the node's line.
void CmdCutLine(const WordList& words);
void CmdFreeTree(const WordList& words);

// Reports.
void CmdShowNode(const WordList& words);
void CmdShowChildren(const WordList& words);
void CmdNodeCount(const WordList& words);
void CmdShowEffectiveStack(const WordList& words);
void CmdIsTreePresent(const WordList& words);
void CmdShowSettings(const WordList& words);
void CmdShowTreeParams(const WordList& words);

// The node report of show_node and show_children: path text, type name, board,
// commitments and pot, child count, flags.
void PrintNodeInfo(const std::string& path_text, const ResolvedPath& path);

// The set flop, then the path's turn and river cards, then a line end.
void PrintBoard(const ResolvedPath& path);
