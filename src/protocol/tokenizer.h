#pragma once
#include <istream>
#include <string>
#include <vector>

// The words of one command line; word 0 is the command.
using WordList = std::vector<std::string>;

// Reads one line into `line` (emptied first). LF, CR and CR LF end a line; an
// unterminated last line is returned normally and the next call reports the end
// (end-of-file state set, nothing read).
std::istream& ReadLine(std::istream& in, std::string& line);

// Splits a line into words at blanks (0x20 only). A double quote starts quoted
// text that continues the current word and may hold blanks; the next double
// quote ends the word. Empty words are never produced.
WordList TokenizeLine(const std::string& line);

// The non-empty pieces of the text between delimiter characters.
WordList SplitString(const std::string& text, char delimiter);
