#pragma once
#include "protocol/tokenizer.h"

// The solver's settings commands and the commands that run solver work on
// request outside a run. Every setting outlives trees.

void CmdSetThreads(const WordList& words);  // set_threads, zk4_set_threads
void CmdSetScheduler(const WordList& words);
void CmdSetAccuracy(const WordList& words);
void CmdSetRecalcAccuracy(const WordList& words);
void CmdSetIsomorphism(const WordList& words);
void CmdSetRake(const WordList& words);
void CmdIgnoreMemCheck(const WordList& words);
void CmdSolvePartial(const WordList& words);
void CmdExploPartial(const WordList& words);
void CmdSolveAllSplits(const WordList& words);
