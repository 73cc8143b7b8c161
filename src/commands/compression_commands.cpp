#include "commands/compression_commands.h"

#include "commands/command_table.h"

void CmdSetCompression(const WordList& words) { CmdNotImplemented(words); }
void CmdGetActualCompression(const WordList& words) { CmdNotImplemented(words); }
