#pragma once
#include "protocol/tokenizer.h"

void CmdStdoutredi(const WordList& words);
void CmdStdoutrediAppend(const WordList& words);
void CmdStdoutback(const WordList& words);
