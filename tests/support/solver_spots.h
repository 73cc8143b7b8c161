#pragma once
// The betting spots the solver, tree-file and compression tests share: class
// ranges with some fractional weights, bets on every street.
#include <vector>

#include "support/reference_game.h"

namespace solver_spots {

// Pot 60 on the flop: a bet of 20 that IP may raise to 60, a check that IP may
// bet 20 behind; after a flop check-through a turn bet of 30, after a turn
// check-through a river bet of 40, and the check-down. Calls of the flop and
// turn bets end in showdowns before the next card.
inline reference_game::Spot FlopSpot(const char* flop = "Kh9h4s") {
  return reference_game::MakeClassSpot(
      flop, {"AA", "KK", "QQ:0.5", "AKs", "T9s", "65s:0.75", "A5s"},
      {"JJ", "TT", "99:0.6", "AQs", "KJs", "87s", "JTs:0.5"}, 60,
      {{20, 60}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0, 40}, {0, 0, 0, 0, 0, 0}});
}

// Pot 60 on the turn Kh 9h 4h 2c: a bet of 30 that IP may raise to 90, a check
// that IP may bet 30 behind, a river bet of 40 after the checks, and the
// check-down. After hearts and clubs, diamonds and spades are interchangeable:
// with isomorphism the rivers of those two suits pair up.
inline reference_game::Spot TurnSpot() {
  return reference_game::MakeClassSpot(
      "Kh9h4h2c", {"AA", "QQ", "AKs", "T9s:0.5", "65s", "A5s", "KQo:0.25"},
      {"KQs", "JJ", "TT:0.8", "99", "87s", "JTs", "AQo:0.3"}, 60,
      {{30, 90}, {0, 30}, {0, 0, 40}, {0, 0, 0, 0}});
}

// Pot 60 on the river Kh 9h 4s 2c 7d: a bet of 30 that IP may raise to 90, a
// check that IP may bet 30 behind, and the check-down.
inline reference_game::Spot RiverSpot() {
  return reference_game::MakeClassSpot("Kh9h4s2c7d", {"AA", "KK", "AKs", "T9s", "65s"},
                                       {"JJ", "TT", "AQs", "KJs", "87s"}, 60, {{30, 90}, {0, 30}, {0, 0}});
}

// Pot 60: OOP may bet 10 on the flop (called or folded: the hand ends there or
// goes to the turn); after checks on flop and turn OOP may bet 20 on the river,
// or IP after OOP's check.
inline const std::vector<std::vector<double>> kSmallBetLines = {{10}, {0, 0, 0, 0, 20}, {0, 0, 0, 0, 0, 20}};

// Eight hands a side on 2c 7d 8h under the small bets, one of them at half weight.
inline reference_game::Spot SmallFlopSpot() {
  return reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d 4s3s",
                                  "AhAs KcKd JcJd Th9h 6d5d 8c8s Kd7c 5s4s:0.5", 60, kSmallBetLines);
}

// Hand classes on Kc 7c 2c under the small bets: the ranges stay symmetric
// under any renaming of d, h and s, so isomorphic turn cards share a record.
inline reference_game::Spot SuitSymmetricFlopSpot() {
  return reference_game::MakeClassSpot("Kc7c2c", {"AA", "KQs", "T9s", "65o"}, {"QQ", "JJ", "AKo", "87s"}, 60,
                                       kSmallBetLines);
}

}  // namespace solver_spots
