#pragma once
#include "protocol/tokenizer.h"

// Scripts may load scripts; deeper nesting than this is refused (a script that
// loads itself would otherwise exhaust the stack).
constexpr int kMaxScriptDepth = 64;

void CmdLoadScript(const WordList& words);
void CmdSkipIfDone(const WordList& words);
