#pragma once
// Reading and writing the per-combination lines of the strategy queries:
// show_strategy's rows back as numbers, set_strategy and combo_lock_node lines
// from values by ComboIndex, and the suit-swapped hand of a hand-order
// position.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "cards/suit_isomorphism.h"
#include "support/engine_harness.h"

inline std::vector<double> Numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> out;
  double v;
  while (in >> v) out.push_back(v);
  return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// show_strategy's rows, one per child, in hand order; fails on a reply
// without "END" or with a row short of a number per combination.
inline std::vector<std::vector<double>> StrategyRows(const std::string& path) {
  const std::vector<std::string> lines = Lines(RunLine("show_strategy " + path));
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "END") << path;
  std::vector<std::vector<double>> rows;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    rows.push_back(Numbers(lines[i]));
    EXPECT_EQ(rows.back().size(), static_cast<size_t>(kComboCount)) << path;
  }
  return rows;
}

// A set_strategy or combo_lock_node line: the values by ComboIndex, in hand order.
inline std::string ComboLine(const std::string& head, const std::vector<double>& by_combo) {
  std::string line = head;
  char number[32];
  for (HandOrder p = 0; p < kComboCount; ++p) {
    std::snprintf(number, sizeof number, " %.17g", by_combo[g_combo_by_hand_order[p]]);
    line += number;
  }
  return line;
}

// The hand-order position of the hand at `p` with suits `a` and `b`
// exchanged (kComboCount if there is none).
inline HandOrder SuitSwappedPosition(HandOrder p, int a, int b) {
  const CardMask swapped = SwapSuits(g_combo_card_masks[p], a, b);
  HandOrder q = 0;
  while (q < kComboCount && g_combo_card_masks[q] != swapped) ++q;
  return q;
}
