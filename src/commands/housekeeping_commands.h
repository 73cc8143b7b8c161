#pragma once
#include "protocol/tokenizer.h"

// The engine's own commands: readiness, time, waiting, echoing, scripts,
// output redirection, memory, instruction set and the command list.

void CmdIsReady(const WordList& words);  // also set_eff_stack
void CmdSolverTime(const WordList& words);
void CmdSleep(const WordList& words);
void CmdTakeABreak(const WordList& words);
void CmdRepeat(const WordList& words);
void CmdEcho(const WordList& words);
void CmdShowMemory(const WordList& words);
void CmdGetInstructionSet(const WordList& words);
void CmdHelp(const WordList& words);

// load_script <file>: runs the file's lines as commands.
void CmdLoadScript(const WordList& words);
// skip_if_done <file> <label>: when the file exists, drops lines until the label.
void CmdSkipIfDone(const WordList& words);

// stdoutredi <file>, stdoutredi_append <file>, stdoutback.
void CmdStdoutredi(const WordList& words);
void CmdStdoutrediAppend(const WordList& words);
void CmdStdoutback(const WordList& words);
