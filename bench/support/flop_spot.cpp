#include "support/flop_spot.h"

#include <algorithm>
#include <cmath>
#include <vector>

const char* const kFlopIpClasses =
    "AA KK QQ JJ TT 99 88 77 66 55 44 33 22 "
    "AKs AQs AJs ATs A9s A8s A7s A6s A5s A4s A3s A2s KQs KJs KTs K9s QJs QTs Q9s JTs J9s T9s T8s "
    "98s 87s 76s 65s AKo AQo AJo ATo KQo KJo QJo";
const char* const kFlopOopClasses =
    "JJ TT 99 88 77 66 55 44 33 22 "
    "AJs ATs A9s A8s A7s A6s A5s A4s A3s A2s KQs KJs KTs K9s K8s K7s K6s K5s K4s K3s K2s "
    "QJs QTs Q9s Q8s Q7s Q6s Q5s JTs J9s J8s J7s T9s T8s T7s 98s 97s 87s 86s 76s 75s 65s 64s 54s "
    "AQo AJo ATo A9o A8o A7o A5o A4o A3o A2o KQo KJo KTo QJo QTo JTo T9o 98o";
const SolveSpot kFlopSpot{kFlopOopClasses, kFlopIpClasses, "Qs 8h 4d"};

namespace {

constexpr double kStack = 300.0;

// Every line from street `street` (0 flop, 1 turn, 2 river) with both players
// at commitment c: bets of the street's sizes by OOP or, after a check, by IP;
// facing a bet call, fold (automatic), a raise to three times the bet and the
// all-in; facing a raise call, fold and the all-in.
void AddStreetLines(std::set<std::string>& lines, std::vector<double> prefix, double c,
                    int street) {
  const double pot = kFlopPot + 2.0 * c;
  const std::vector<double> sizes =
      street == 0 ? std::vector<double>{0.33, 0.75} : std::vector<double>{0.66};
  auto next_street = [&](std::vector<double> line, double commitment) {
    if (street < 2 && commitment < kStack)
      AddStreetLines(lines, line, commitment, street + 1);
    else
      lines.insert(LineText(line));
  };
  auto facing = [&](std::vector<double> line, double bet, bool raised) {
    lines.insert(LineText(line));
    line.push_back(bet);
    next_street(line, bet);  // call
    line.pop_back();
    if (bet >= kStack) return;
    std::vector<double> raises;
    if (!raised) {
      const double raise = std::round(c + 3.0 * (bet - c));
      if (raise < kStack) raises.push_back(raise);
    }
    raises.push_back(kStack);
    for (double r : raises) {
      std::vector<double> raised_line = line;
      raised_line.push_back(r);
      lines.insert(LineText(raised_line));
      raised_line.push_back(r);
      next_street(raised_line, r);  // call of the raise
      if (r < kStack) {
        raised_line.pop_back();
        raised_line.push_back(kStack);
        raised_line.push_back(kStack);
        next_street(raised_line, kStack);  // all-in over the raise, called
      }
    }
  };
  for (double f : sizes) {
    std::vector<double> line = prefix;
    line.push_back(std::min(kStack, c + std::round(pot * f)));
    facing(line, line.back(), false);
  }
  std::vector<double> check = prefix;
  check.push_back(c);
  check.push_back(c);
  next_street(check, c);
  for (double f : sizes) {
    std::vector<double> line = prefix;
    line.push_back(c);
    line.push_back(std::min(kStack, c + std::round(pot * f)));
    facing(line, line.back(), false);
  }
}

}  // namespace

std::set<std::string> FlopSpotLines() {
  std::set<std::string> lines;
  AddStreetLines(lines, {}, 0.0, 0);
  return lines;
}
