#include "support/tree_spot.h"

#include <algorithm>
#include <cmath>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "compress/compression_level.h"
#include "support/solve_driver.h"

void AddStreetLines(std::vector<std::string>& lines, std::vector<double> prefix, double c,
                    int street, const LineShape& shape) {
  const double pot = shape.pot + 2.0 * c;
  auto next = [&](const std::vector<double>& line, double commitment) {
    if (street < shape.last_street && commitment < shape.stack)
      AddStreetLines(lines, line, commitment, street + 1, shape);
    lines.push_back(LineText(line));
  };
  auto facing_bet = [&](std::vector<double> line, double bet) {
    lines.push_back(LineText(line));
    line.push_back(bet);
    next(line, bet);
    line.pop_back();
    if (shape.raises && bet < shape.stack) {
      const double raise = std::min(shape.stack, c + 3.0 * (bet - c));
      line.push_back(raise);
      lines.push_back(LineText(line));
      line.push_back(raise);
      next(line, raise);
    }
  };
  for (double f : shape.bet_fractions) {
    std::vector<double> line = prefix;
    line.push_back(std::min(shape.stack, c + std::round(pot * f)));
    facing_bet(line, line.back());
  }
  std::vector<double> check = prefix;
  check.push_back(c);
  check.push_back(c);
  next(check, c);  // check, check back
  for (double f : shape.bet_fractions) {
    std::vector<double> line = prefix;
    line.push_back(c);
    line.push_back(std::min(shape.stack, c + std::round(pot * f)));
    facing_bet(line, line.back());
  }
}

void SetUpTreeSpot(const char* board, const LineShape& shape) {
  InitEngineTables();
  g_ranges[0].assign(kComboCount, 1.0);
  g_ranges[1].assign(kComboCount, 1.0);
  Run(std::string("set_board ") + board);
  Run("set_pot 0 0 100");
  Run("clear_lines");
  std::vector<std::string> lines;
  AddStreetLines(lines, {}, 0.0, 0, shape);
  for (const std::string& line : lines) Run(line);
  g_compression_setting = 0;
}
