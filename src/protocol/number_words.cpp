#include "protocol/number_words.h"

#include <cmath>
#include <stdexcept>

int32_t ParseIntWord(const std::string& word) { return std::stoi(word, nullptr, 10); }

double ParseDoubleWord(const std::string& word) { return std::stod(word); }

double ParseNumberWord(const std::string& word) {
  const double value = std::stod(word);
  if (std::isnan(value)) throw std::invalid_argument("not a number");
  return value;
}

double ParseFiniteDoubleWord(const std::string& word) {
  const double value = std::stod(word);
  if (!std::isfinite(value)) throw std::out_of_range("not a finite number");
  return value;
}

double ParseLineAmountWord(const std::string& word) {
  const double value = ParseFiniteDoubleWord(word);
  if (value > kMaxLineAmount) throw std::out_of_range("amount too large");
  return value;
}
