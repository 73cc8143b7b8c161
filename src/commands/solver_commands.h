#pragma once
#include "protocol/tokenizer.h"

// The solver's commands: running it and reading its results, its settings
// (every setting outlives trees), and the work it does on request outside a
// run: forgetting and rebuilding streets, split solving.

void CmdGo(const WordList& words);
void CmdStop(const WordList& words);
void CmdWaitForSolver(const WordList& words);
void CmdCalcResults(const WordList& words);

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
// forget rivers | forget turns.
void CmdForget(const WordList& words);
// rebuild_forgotten_streets and its alias rebuild_all.
void CmdRebuildForgottenStreets(const WordList& words);
