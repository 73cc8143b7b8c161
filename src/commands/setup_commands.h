#pragma once
#include <string>

#include "cards/combo_tables.h"
#include "protocol/tokenizer.h"

// The commands that set up the situation to solve, and those that list the
// hand order and the hand categories.

// "OOP" or "hero" give 0, "IP" or "villain" give 1 (exact, case-sensitive); any
// other word is refused as "incorrect player name".
Player ParsePlayerName(const std::string& word);

// show_hand_order: the hand-order text on one line.
void CmdShowHandOrder(const WordList& words);
// set_range <player> <1326 weights in HandOrder>
void CmdSetRange(const WordList& words);
// set_board <cards> <cards> <cards> [<turn>] [<river>]
void CmdSetBoard(const WordList& words);
// set_pot <a> <b> <pot>
void CmdSetPot(const WordList& words);
// show_category_names: the made-hand names, then the draw names, then "END".
void CmdShowCategoryNames(const WordList& words);
// show_categories <cards...>: two lines of 1326 numbers in HandOrder (made-hand
// category, draw category) for the board, then "END".
void CmdShowCategories(const WordList& words);
