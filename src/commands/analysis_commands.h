#pragma once
#include "protocol/tokenizer.h"

// The commands of the analysis layer: node queries
// (strategies, ranges, probabilities), EVs, equities and frequencies, and node
// locking.

void CmdShowStrategy(const WordList& words);
void CmdShowStrategyPp(const WordList& words);
void CmdShowLockedCombos(const WordList& words);
void CmdShowRange(const WordList& words);
void CmdShowProbs(const WordList& words);

void CmdCalcEv(const WordList& words);
void CmdCalcEvPp(const WordList& words);
void CmdCalcEvLine(const WordList& words);
void CmdCalcLineFreq(const WordList& words);
void CmdCalcGlobalFreq(const WordList& words);
void CmdCalcEq(const WordList& words);
void CmdCalcEqPp(const WordList& words);
void CmdCalcEqNode(const WordList& words);

void CmdLockNode(const WordList& words);
void CmdUnlockNode(const WordList& words);
void CmdSetStrategy(const WordList& words);
void CmdComboLockNode(const WordList& words);
