#pragma once
#include <string>

#include "cards/combo_tables.h"
#include "protocol/tokenizer.h"

// "OOP" or "hero" give 0, "IP" or "villain" give 1 (exact, case-sensitive); any
// other word is refused as "incorrect player name".
PlayerIndex ParsePlayerName(const std::string& word);

// set_range <player> <1326 weights in HandOrder>
void CmdSetRange(const WordList& words);
// set_board <cards> <cards> <cards> [<turn>] [<river>]
void CmdSetBoard(const WordList& words);
// set_pot <a> <b> <pot>
void CmdSetPot(const WordList& words);
