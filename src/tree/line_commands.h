#pragma once
#include "protocol/tokenizer.h"

// Commands that edit the bet lines. They never touch a game tree already built:
// the lines take effect at the next build.

void CmdAddLine(const WordList& words);
void CmdForceLine(const WordList& words);
void CmdRemoveLine(const WordList& words);
void CmdClearLines(const WordList& words);
void CmdFreeSchematicTree(const WordList& words);
