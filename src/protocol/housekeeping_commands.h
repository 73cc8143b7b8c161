#pragma once
#include <cstddef>
#include <string>

#include "protocol/tokenizer.h"

// The words from `first` up to (not including) the smaller of `end` and the
// word count, joined by single blanks.
std::string JoinWords(const WordList& words, size_t first, size_t end);

void CmdIsReady(const WordList& words);  // also set_eff_stack
void CmdSolverTime(const WordList& words);
void CmdSleep(const WordList& words);
void CmdTakeABreak(const WordList& words);
void CmdRepeat(const WordList& words);
void CmdEcho(const WordList& words);
void CmdShowMemory(const WordList& words);
void CmdGetInstructionSet(const WordList& words);
void CmdHelp(const WordList& words);
