#pragma once
#include <cstdint>
#include <string>

// Number words of the protocol: leading blanks and a sign allowed, the longest
// numeric prefix taken, the rest of the word ignored. A word without a number
// throws std::invalid_argument and a number outside the type std::out_of_range;
// the dispatcher answers both with "Invalid value\n".

int32_t ParseIntWord(const std::string& word);
double ParseDoubleWord(const std::string& word);

// As ParseDoubleWord, but "nan" is refused as an invalid value: it passes
// every range test. Infinities are numbers here.
double ParseNumberWord(const std::string& word);

// As ParseDoubleWord, but "nan" and infinities are refused as invalid values
// too: they would poison every value computed from them.
double ParseFiniteDoubleWord(const std::string& word);

// Bet amounts above this are refused as out of range. A trillion chips lies far
// beyond any stack over a pot that fits an int, and far below the amounts whose
// values overflow the float rows of the stores and turn every result into NaN.
constexpr double kMaxLineAmount = 1e12;

// As ParseFiniteDoubleWord, but an amount above kMaxLineAmount is out of range.
double ParseLineAmountWord(const std::string& word);
