// The reference game against values worked out by hand from the rules.
#include "support/reference_game.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/process_runner.h"

namespace reference_game {
namespace {

// No straight or flush can come from this board with the hands used below.
const char* const kRiver = "2c7d8hJs3s";

TEST(ReferenceGameTree, LinesBecomeTheEnginesNodeOrder) {
  // Bet 10 with a raise to 30, and check / check-back.
  const ReferenceGame game(MakeSpot(kRiver, "AcAd", "KhKs", 100, {{10, 30}, {0, 0}}));
  const auto& n = game.Nodes();
  ASSERT_EQ(n.size(), 9u);
  EXPECT_EQ(n[0].kind, RefNode::kDecision);
  EXPECT_EQ(n[0].player, kOop);
  EXPECT_EQ(n[0].keys, (std::vector<double>{10, 0}));
  EXPECT_EQ(n[1].player, kIp);  // facing the bet: raise, call, fold
  EXPECT_EQ(n[1].keys, (std::vector<double>{30, 10, -1}));
  EXPECT_EQ(n[2].player, kOop);  // facing the raise: call, fold
  EXPECT_EQ(n[2].keys, (std::vector<double>{30, -1}));
  EXPECT_EQ(n[3].kind, RefNode::kShowdown);
  EXPECT_DOUBLE_EQ(n[3].value, 80);
  EXPECT_EQ(n[4].kind, RefNode::kFold);
  EXPECT_EQ(n[4].player, kOop);
  EXPECT_DOUBLE_EQ(n[4].value, 60);  // OOP folds its 10
  EXPECT_DOUBLE_EQ(n[5].value, 60);  // call of 10
  EXPECT_EQ(n[6].player, kIp);       // IP folds having put in nothing
  EXPECT_DOUBLE_EQ(n[6].value, 50);
  EXPECT_EQ(n[7].player, kIp);  // after the check: check-back only
  EXPECT_EQ(n[7].keys, (std::vector<double>{0}));
  EXPECT_EQ(n[8].kind, RefNode::kShowdown);
  EXPECT_DOUBLE_EQ(n[8].value, 50);
}

TEST(ReferenceGameTree, RefusesBadSpots) {
  EXPECT_THROW(ReferenceGame(MakeSpot(kRiver, "AcAd", "KhKs", 100, {{10, 5}})),
               std::invalid_argument);
  // A decision after the river's check-down.
  EXPECT_THROW(ReferenceGame(MakeSpot(kRiver, "AcAd", "KhKs", 100, {{0, 0, 10}})),
               std::invalid_argument);
  EXPECT_THROW(ReferenceGame(MakeSpot("Kc7d2h3s", "AcAd", "KhKs", 100, {{0, 0, 0, 0, 0}})),
               std::invalid_argument);
  EXPECT_NO_THROW(ReferenceGame(MakeSpot("Kc7d2h3s", "AcAd", "KhKs", 100, {{0, 0, 0, 0}})));
  EXPECT_THROW(ReferenceGame(MakeSpot(kRiver, "AcAd", "KhKs", 100, {})), std::invalid_argument);
  // The only hands share a card, or a weight below what set_range keeps.
  EXPECT_THROW(ReferenceGame(MakeSpot(kRiver, "AcAd", "AcKs", 100, {{0, 0}})),
               std::invalid_argument);
  EXPECT_THROW(ReferenceGame(MakeSpot(kRiver, "AcAd:0.000009", "KhKs", 100, {{0, 0}})),
               std::invalid_argument);
  // Tree values need a river.
  const ReferenceGame turn(MakeSpot("Kc7d2h3s", "AcAd", "KhKs", 100, {{0, 0, 0, 0}}));
  EXPECT_THROW(turn.UniformEv(kOop), std::logic_error);
}

TEST(ReferenceGameValues, RiverCheckDownIsHalfThePot) {
  const ReferenceGame win(MakeSpot(kRiver, "AcAd", "KhKs", 100, {{0, 0}}));
  EXPECT_DOUBLE_EQ(win.UniformEv(kOop), 50);
  EXPECT_DOUBLE_EQ(win.UniformEv(kIp), -50);
  EXPECT_DOUBLE_EQ(win.CheckDownEv(kOop), 50);
  const ReferenceGame tie(MakeSpot(kRiver, "AcKd", "AhKs", 60, {{0, 0}}));
  EXPECT_DOUBLE_EQ(tie.UniformEv(kOop), 0);
  const ReferenceGame lose(MakeSpot(kRiver, "KhKs", "AcAd", 60, {{0, 0}}));
  EXPECT_DOUBLE_EQ(lose.CheckDownEv(kOop), -30);
}

TEST(ReferenceGameValues, CardRemovalAndWeights) {
  // AcAd cannot meet AcKh. Pairs: AA-QQ (w 1, OOP wins), 44-AK (w 2, OOP wins),
  // 44-QQ (w 2, IP wins): 50 * (1 + 2 - 2) / 5.
  const ReferenceGame game(MakeSpot(kRiver, "AcAd 4c4d:2", "AcKh QhQs", 100, {{0, 0}}));
  EXPECT_DOUBLE_EQ(game.PairWeight(), 5);
  EXPECT_DOUBLE_EQ(game.UniformEv(kOop), 10);
  EXPECT_DOUBLE_EQ(game.UniformEv(kIp), -10);
}

TEST(ReferenceGameValues, BetFoldTree) {
  // OOP may only bet 10; IP calls or folds.
  const ReferenceGame game(MakeSpot(kRiver, "AcAd", "KhKs", 100, {{10}}));
  Strategy fold = game.UniformStrategy();
  const int kk = ComboFromText("KhKs");
  fold.Set(1, kk, 0, 0.0);  // call
  fold.Set(1, kk, 1, 1.0);  // fold
  EXPECT_DOUBLE_EQ(game.GameValue(kOop, fold), 50);
  EXPECT_DOUBLE_EQ(game.GameValue(kIp, fold), -50);
  EXPECT_DOUBLE_EQ(game.UniformEv(kOop), 55);  // half 60, half 50
  EXPECT_DOUBLE_EQ(game.BestResponseValue(kIp, game.UniformStrategy()), -50);
  EXPECT_DOUBLE_EQ(game.BestResponseValue(kOop, game.UniformStrategy()), 55);
  EXPECT_DOUBLE_EQ(game.Exploitability(fold), 0.5 * (50 - 50 - 50 + 50));
}

// OOP holds the nuts (AA) or air (44) half the time each; IP a bluff catcher
// (KK). Pot 100, OOP bets 100 or checks down. At the equilibrium OOP bets every
// AA and half its 44, IP calls half the time: OOP wins (100 - 50) / 2 = 25.
Spot PolarSpot() { return MakeSpot(kRiver, "AcAd 4c4d", "KhKs", 100, {{100}, {0, 0}}); }

TEST(ReferenceGameValues, PolarGameByHand) {
  const ReferenceGame game(PolarSpot());
  const int aa = ComboFromText("AcAd"), air = ComboFromText("4c4d"), kk = ComboFromText("KhKs");
  ASSERT_EQ(game.Nodes()[0].keys, (std::vector<double>{100, 0}));
  ASSERT_EQ(game.Nodes()[1].keys, (std::vector<double>{100, -1}));

  const Strategy uniform = game.UniformStrategy();
  EXPECT_DOUBLE_EQ(game.UniformEv(kOop), 12.5);                 // AA 75, air -50
  EXPECT_DOUBLE_EQ(game.BestResponseValue(kOop, uniform), 25);  // AA bets, air either
  EXPECT_DOUBLE_EQ(game.BestResponseValue(kIp, uniform), 0);    // call: 0 beats fold: -50

  Strategy eq = uniform;
  eq.Set(0, aa, 0, 1), eq.Set(0, aa, 1, 0);
  eq.Set(0, air, 0, 0.5), eq.Set(0, air, 1, 0.5);
  eq.Set(1, kk, 0, 0.5), eq.Set(1, kk, 1, 0.5);
  EXPECT_NEAR(game.GameValue(kOop, eq), 25, 1e-12);
  EXPECT_NEAR(game.GameValue(kIp, eq), -25, 1e-12);
  EXPECT_NEAR(game.Exploitability(eq), 0, 1e-12);
  // Bluffing more invites calls: IP's best response gains.
  Strategy over = eq;
  over.Set(0, air, 0, 1), over.Set(0, air, 1, 0);
  EXPECT_NEAR(game.BestResponseValue(kIp, over), 0, 1e-12);  // calls everything: (-150 + 150) / 2
  EXPECT_GT(game.Exploitability(over), 1);
}

TEST(ReferenceGameCfr, ConvergesOnThePolarGame) {
  ReferenceGame game(PolarSpot());
  std::vector<double> trace;
  const Strategy& solved = game.SolveCfr(1000, &trace, 100);
  ASSERT_EQ(trace.size(), 10u);
  EXPECT_GT(trace.front(), 5 * trace.back());
  EXPECT_LT(game.Exploitability(), 0.0005 * 100);
  EXPECT_NEAR(game.GameValue(kOop), 25, 0.05);
  EXPECT_NEAR(solved.At(0, ComboFromText("AcAd"), 0), 1, 0.01);
  EXPECT_NEAR(solved.At(0, ComboFromText("4c4d"), 0), 0.5, 0.02);
  EXPECT_NEAR(solved.At(1, ComboFromText("KhKs"), 0), 0.5, 0.02);
}

TEST(ReferenceGameCfr, ConvergesOnASpotWithRaises) {
  // Whole pairs with card removal between them; bet, raise, check and stab.
  const std::string aces = "AcAd AcAh AcAs AdAh AdAs AhAs";
  const std::string fours = "4c4d 4c4h 4c4s 4d4h 4d4s 4h4s";
  const std::string kings = "KcKd KcKh KcKs KdKh KdKs KhKs";
  const std::string fives = "5c5d:0.5 5c5h:0.5 5c5s:0.5 5d5h:0.5 5d5s:0.5 5h5s:0.5";
  const std::string ace_king = "AcKd AdKc AhKs AsKh";
  ReferenceGame game(MakeSpot(kRiver, (aces + " " + fours).c_str(),
                              (kings + " " + fives + " " + ace_king).c_str(), 100,
                              {{75, 225}, {0, 50}, {0, 0}}));
  const Strategy uniform = game.UniformStrategy();
  for (int p : {kOop, kIp}) EXPECT_GE(game.BestResponseValue(p, uniform), game.UniformEv(p));
  EXPECT_NEAR(game.UniformEv(kOop) + game.UniformEv(kIp), 0, 1e-12);

  std::vector<double> trace;
  game.SolveCfr(600, &trace, 100);
  EXPECT_GT(trace.front(), 3 * trace.back());
  EXPECT_LT(game.Exploitability(), 0.0005 * 100);
  for (int p : {kOop, kIp}) {
    EXPECT_GE(game.BestResponseValue(p, game.Solved()), game.GameValue(p) - 1e-9);
    // The value of the game lies between the two best responses.
    EXPECT_LE(game.GameValue(p), -game.BestResponseValue(p ^ 1, game.Solved()) + 0.05);
  }
}

TEST(ReferenceGameCheckDown, TurnAndFlopRunouts) {
  // KK's set against AA on the turn: AA wins with the two aces of the 44 rivers.
  const ReferenceGame turn(MakeSpot("Kc7d2h3s", "KsKd", "AsAc", 100, {{0, 0, 0, 0}}));
  EXPECT_NEAR(turn.CheckDownEv(kOop), 50.0 * (42 - 2) / 44, 1e-12);
  EXPECT_NEAR(turn.CheckDownEv(kIp), -50.0 * (42 - 2) / 44, 1e-12);
  // On the flop, of the 990 runouts AA wins the one with both aces and the 86
  // with one ace except the two that bring the last king.
  const ReferenceGame flop(MakeSpot("Kc7d2h", "KsKd", "AsAc", 100, {{0, 0, 0, 0, 0, 0}}));
  EXPECT_NEAR(flop.CheckDownEv(kOop), 50.0 * (905 - 85) / 990, 1e-12);
  // A tree with a bet is no check-down.
  const ReferenceGame bet(MakeSpot("Kc7d2h", "KsKd", "AsAc", 100, {{10}}));
  EXPECT_THROW(bet.CheckDownEv(kOop), std::logic_error);
}

TEST(ReferenceGameCheckDown, RiverChainMatchesTheTreeValue) {
  const ReferenceGame game(
      MakeSpot(kRiver, "AcAd 4c4d:2 KcKd:0.5", "AcKh QhQs KhKs:3", 100, {{0, 0}}));
  EXPECT_NEAR(game.CheckDownEv(kOop), game.UniformEv(kOop), 1e-12);
}

TEST(ReferenceGameCommands, WeightsInHandOrderAndTheEngineAcceptsThem) {
  const Spot spot = PolarSpot();
  const auto commands = EngineCommands(spot);
  ASSERT_EQ(commands.size(), 7u);
  std::istringstream oop(commands[0]);
  std::vector<std::string> words;
  for (std::string w; oop >> w;) words.push_back(w);
  ASSERT_EQ(words.size(), 1328u);
  EXPECT_EQ(words[1], "OOP");
  // HandOrder numbers cards 4 * rank + suit: AcAd is 49 * 48 / 2 + 48, 4c4d 9 * 8 / 2 + 8.
  for (int p = 0; p < 1326; ++p) EXPECT_EQ(words[2 + p], p == 1224 || p == 44 ? "1" : "0") << p;
  EXPECT_EQ(commands[2], "set_board 2c 7d 8h 3s Js");
  EXPECT_EQ(commands[3], "set_pot 0 0 100");
  EXPECT_EQ(commands[4], "clear_lines");
  EXPECT_EQ(commands[5], "add_line 100");
  EXPECT_EQ(commands[6], "add_line 0 0");
  EXPECT_EQ(EngineCommands(spot, true)[0], "set_isomorphism 0 0");
  Spot half = spot;
  half.pot = 100.5;
  EXPECT_THROW(EngineCommands(half), std::invalid_argument);

  // The real engine takes the lines and builds a tree of the same shape:
  // node_count counts every river node once per river board (48 * 49).
  const ProcessResult run =
      RunProcess(TDX_ENGINE_PATH, {}, EngineScript(spot) + "build_tree\nnode_count\n", "", 60);
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("ERROR"), std::string::npos) << run.out;
  for (const char* reply :
       {"set_board ok!\n", "set_pot ok!\n", "clear_lines ok!\n", "build_tree ok!\n"})
    EXPECT_NE(run.out.find(reply), std::string::npos) << reply;
  const ReferenceGame game(spot);
  int decisions[2] = {0, 0}, ends = 0;
  for (const RefNode& node : game.Nodes())
    node.kind == RefNode::kDecision ? ++decisions[node.player] : ++ends;
  const auto counted = [&](const char* label, int n) {
    return run.out.find(label + std::to_string(2352 * n) + "\n") != std::string::npos;
  };
  EXPECT_TRUE(counted("H_DEC: ", decisions[kIp])) << run.out;
  EXPECT_TRUE(counted("V_DEC: ", decisions[kOop])) << run.out;
  EXPECT_TRUE(counted("END: ", ends)) << run.out;
}

}  // namespace
}  // namespace reference_game
