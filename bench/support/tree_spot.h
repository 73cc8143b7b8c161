#pragma once
// The spots of the tree benchmarks: both players on every combination, and bet
// lines street by street: bets of given fractions of the pot by OOP or, after a
// check, by IP, and optionally a raise to three times the bet; a call or a
// check-back goes on to the next street.
#include <string>
#include <vector>

struct LineShape {
  double pot;
  double stack;
  std::vector<double> bet_fractions;  // of the pot
  bool raises;
  int last_street;  // counted from the tree's own street
};

// Appends, as add_line texts, every line of street `street` from equal
// commitments c after the amounts of `prefix`, and those of the later streets.
void AddStreetLines(std::vector<std::string>& lines, std::vector<double> prefix, double c,
                    int street, const LineShape& shape);

// The engine's situation for such a spot, through its commands: full ranges,
// the board, pot 100, the shape's lines and compression level 0.
void SetUpTreeSpot(const char* board, const LineShape& shape);
