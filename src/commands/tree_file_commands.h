#pragma once
#include "protocol/tokenizer.h"

// The tree-file commands: load_tree replaces the current tree by a file's,
// dump_tree writes the current tree to a file.

void CmdLoadTree(const WordList& words);
void CmdDumpTree(const WordList& words);
