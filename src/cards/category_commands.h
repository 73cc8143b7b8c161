#pragma once
// The hand-category commands: the category names, and the categories of every
// combination on a given board.
#include "cards/hand_categories.h"
#include "protocol/tokenizer.h"

// show_category_names: the made-hand names, then the draw names, then "END".
void CmdShowCategoryNames(const WordList& words);
// show_categories <cards...>: the categories of all 1326 combinations on the board.
void CmdShowCategories(const WordList& words);

void PrintCategoryNames();
// Two lines of 1326 numbers in HandOrder (made-hand category, draw category),
// then "END".
void PrintBoardCategories(const ClassifierBoard& board);
