#include "commands/tree_file_commands.h"

#include "commands/command_table.h"

void CmdLoadTree(const WordList& words) { CmdNotImplemented(words); }
void CmdDumpTree(const WordList& words) { CmdNotImplemented(words); }
