#include "commands/analysis_commands.h"

#include "commands/command_table.h"

void CmdShowStrategy(const WordList& words) { CmdNotImplemented(words); }
void CmdShowStrategyPp(const WordList& words) { CmdNotImplemented(words); }
void CmdShowLockedCombos(const WordList& words) { CmdNotImplemented(words); }
void CmdShowRange(const WordList& words) { CmdNotImplemented(words); }
void CmdShowProbs(const WordList& words) { CmdNotImplemented(words); }

void CmdCalcEv(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEvPp(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEvLine(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcLineFreq(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcGlobalFreq(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEq(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEqPp(const WordList& words) { CmdNotImplemented(words); }
void CmdCalcEqNode(const WordList& words) { CmdNotImplemented(words); }

void CmdLockNode(const WordList& words) { CmdNotImplemented(words); }
void CmdUnlockNode(const WordList& words) { CmdNotImplemented(words); }
void CmdSetStrategy(const WordList& words) { CmdNotImplemented(words); }
void CmdComboLockNode(const WordList& words) { CmdNotImplemented(words); }
