#pragma once
#include "protocol/tokenizer.h"

// The compression commands, which are not built yet: choosing the level of the
// river stores and reporting the level in force (compress/compression_level.h).
// Each refuses the line as "not implemented" until the block-compressed stores
// land.

// set_compression and its alias zk4_set_compression.
void CmdSetCompression(const WordList& words);
// get_actual_compression and its alias zk4_get_actual_compression.
void CmdGetActualCompression(const WordList& words);
