#pragma once
// The flop benchmark spot: a tight raiser (IP) against a caller (OOP) on
// Qs 8h 4d; pot 100, 300 behind. Flop bets of 33% and 75% of the pot, turn and
// river 66%; facing a bet a raise to three times it and an all-in, facing a
// raise the all-in.
#include <set>
#include <string>

#include "support/solve_driver.h"

constexpr double kFlopPot = 100.0;
// IP, a tight opening range (about 270 combinations before card removal).
extern const char* const kFlopIpClasses;
// OOP, a calling range without its strongest hands (about 450 before removal).
extern const char* const kFlopOopClasses;
extern const SolveSpot kFlopSpot;

// The spot's add_line texts.
std::set<std::string> FlopSpotLines();
