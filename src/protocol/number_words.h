#pragma once
#include <cstdint>
#include <string>

// Number words of the protocol: leading blanks and a sign allowed, the longest
// numeric prefix taken, the rest of the word ignored. A word without a number
// throws std::invalid_argument and a number outside the type std::out_of_range;
// the dispatcher answers both with "Invalid value\n".

int32_t ParseIntWord(const std::string& word);
double ParseDoubleWord(const std::string& word);

// As ParseDoubleWord, but "nan" and infinities are refused as invalid values
// too: they would poison every value computed from them.
double ParseFiniteDoubleWord(const std::string& word);
