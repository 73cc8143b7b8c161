#pragma once
#include "protocol/tokenizer.h"

// The compression commands: choosing the level of the river stores of
// flop-rooted trees and reporting the level in force
// (compress/compression_level.h).

// set_compression and its alias zk4_set_compression: a level word ("auto",
// "none", "low", "medium", "high", "max") or a number (held within 0 ... 4).
// With a tree present (and no solver running) the level applies at once: the
// tree's stores are made anew and its solving starts again from 0.
void CmdSetCompression(const WordList& words);
// get_actual_compression and its alias zk4_get_actual_compression.
void CmdGetActualCompression(const WordList& words);
