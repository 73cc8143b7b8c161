#pragma once
#include "protocol/tokenizer.h"

// The tree-file commands, which are not built yet: loading and dumping a game
// tree. Each refuses the line as "not implemented" until src/treefile lands.

void CmdLoadTree(const WordList& words);
void CmdDumpTree(const WordList& words);
