// set_range, set_board and set_pot run in-process: values stored, replies, and
// that every refusal leaves the settings as they were; the category commands' replies.
#include "commands/setup_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/situation.h"
#include "protocol/command_error.h"
#include "solver/accuracy_settings.h"
#include "support/engine_harness.h"

namespace {

// The 1326 weight words in HandOrder, all `fill` unless overridden.
std::string RangeLine(const std::string& player, std::vector<std::string> weights) {
  std::string line = "set_range " + player;
  for (const std::string& word : weights) line += " " + word;
  return line;
}

std::vector<std::string> Weights(const std::string& fill) { return std::vector<std::string>(kComboCount, fill); }

CardMask Cards(const char* text) { return ParseCardText(text); }

class SetupCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ranges_[0] = g_ranges[0];
    saved_ranges_[1] = g_ranges[1];
    saved_board_[0] = g_board_flop;
    saved_board_[1] = g_board_turn;
    saved_board_[2] = g_board_river;
    for (int i = 0; i < 3; ++i) saved_pot_[i] = g_pot[i];
    saved_accuracy_ = g_accuracy_value;
    saved_relative_ = g_accuracy_relative;
    saved_target_ = g_accuracy_target;
  }
  void TearDown() override {
    g_ranges[0] = saved_ranges_[0];
    g_ranges[1] = saved_ranges_[1];
    g_board_flop = saved_board_[0];
    g_board_turn = saved_board_[1];
    g_board_river = saved_board_[2];
    for (int i = 0; i < 3; ++i) g_pot[i] = saved_pot_[i];
    g_accuracy_value = saved_accuracy_;
    g_accuracy_relative = saved_relative_;
    g_accuracy_target = saved_target_;
  }

  void ExpectBoard(CardMask flop, CardMask turn, CardMask river) {
    EXPECT_EQ(g_board_flop, flop);
    EXPECT_EQ(g_board_turn, turn);
    EXPECT_EQ(g_board_river, river);
  }

 private:
  std::vector<double> saved_ranges_[2];
  CardMask saved_board_[3];
  double saved_pot_[3];
  double saved_accuracy_, saved_target_;
  uint8_t saved_relative_;
};

}  // namespace

TEST_F(SetupCommandsTest, PlayerNames) {
  EXPECT_EQ(ParsePlayerName("OOP"), PLAYER_OOP);
  EXPECT_EQ(ParsePlayerName("hero"), PLAYER_OOP);
  EXPECT_EQ(ParsePlayerName("IP"), PLAYER_IP);
  EXPECT_EQ(ParsePlayerName("villain"), PLAYER_IP);
  for (const char* bad : {"oop", "Hero", "ip", "VILLAIN", "0", "1", ""}) {
    try {
      ParsePlayerName(bad);
      ADD_FAILURE() << bad;
    } catch (const CommandRefusal& refusal) {
      EXPECT_EQ(RefusalReply("show_range", refusal), "ERROR: show_range incorrect player name\n");
    }
  }
}

TEST_F(SetupCommandsTest, RangeIsReorderedIntoComboIndexOrder) {
  std::vector<std::string> weights(kComboCount);
  for (HandOrder p = 0; p < kComboCount; ++p) weights[p] = std::to_string(p + 1);
  ASSERT_EQ(RunLine(RangeLine("villain", weights)), "set_range ok!\n");
  ASSERT_EQ(g_ranges[1].size(), 1326u);
  for (ComboIndex k = 0; k < kComboCount; ++k)
    ASSERT_EQ(g_ranges[1][k], g_hand_order_by_combo[k] + 1) << k;
  // AsAh is the last name of the list and ComboIndex 1313.
  EXPECT_EQ(g_ranges[1][1313], 1326.0);
  EXPECT_EQ(g_ranges[1][78], 1.0);  // 2d2c
}

TEST_F(SetupCommandsTest, RangeWeightThreshold) {
  std::vector<std::string> weights = Weights("0.5");
  weights[0] = "0.000009";
  weights[1] = "-1";
  weights[2] = "0.00001";
  weights[3] = "5";
  weights[4] = "0.25xyz";  // the leading number is taken
  weights[5] = "  7";
  weights[6] = "-0";
  weights[7] = "1e12";  // the largest weight taken
  ASSERT_EQ(RunLine(RangeLine("OOP", weights)), "set_range ok!\n");
  const std::vector<double>& range = g_ranges[0];
  EXPECT_EQ(range[g_combo_by_hand_order[0]], 0.0);
  EXPECT_EQ(range[g_combo_by_hand_order[1]], 0.0);
  EXPECT_EQ(range[g_combo_by_hand_order[2]], 0.00001);
  EXPECT_EQ(range[g_combo_by_hand_order[3]], 5.0);
  EXPECT_EQ(range[g_combo_by_hand_order[4]], 0.25);
  EXPECT_EQ(range[g_combo_by_hand_order[5]], 7.0);
  EXPECT_FALSE(std::signbit(range[g_combo_by_hand_order[6]]));
  EXPECT_EQ(range[g_combo_by_hand_order[7]], 1e12);
  EXPECT_EQ(range[g_combo_by_hand_order[1325]], 0.5);
}

TEST_F(SetupCommandsTest, HeroAndOopSetTheSameRange) {
  std::vector<std::string> weights = Weights("1");
  weights[100] = "0.3";
  ASSERT_EQ(RunLine(RangeLine("hero", weights)), "set_range ok!\n");
  const std::vector<double> via_hero = g_ranges[0];
  g_ranges[0].clear();
  ASSERT_EQ(RunLine(RangeLine("OOP", weights)), "set_range ok!\n");
  EXPECT_EQ(g_ranges[0], via_hero);
}

TEST_F(SetupCommandsTest, RangeRefusalsChangeNothing) {
  ASSERT_EQ(RunLine(RangeLine("IP", Weights("0.75"))), "set_range ok!\n");
  const std::vector<double> before = g_ranges[1];

  EXPECT_EQ(RunLine(RangeLine("oop", Weights("1"))), "ERROR: set_range incorrect player name\n");
  // The player is checked before any number is read.
  EXPECT_EQ(RunLine(RangeLine("ip", Weights("abc"))), "ERROR: set_range incorrect player name\n");
  for (const char* bad : {"abc", "nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999", ".",
                          "1.0000001e12", "1e300"}) {
    std::vector<std::string> weights = Weights("1");
    weights[1325] = bad;  // the last word: everything before it was read already
    EXPECT_EQ(RunLine(RangeLine("IP", weights)), "Invalid value\n") << bad;
    EXPECT_EQ(g_ranges[1], before) << bad;
  }
  std::vector<std::string> short_list = Weights("1");
  short_list.pop_back();
  EXPECT_EQ(RunLine(RangeLine("IP", short_list)), "ERROR: set_range incorrect or missing argument\n");
  EXPECT_EQ(RunLine(RangeLine("IP", Weights("1")) + " 1"),
            "ERROR: set_range incorrect or missing argument\n");
  EXPECT_EQ(g_ranges[1], before);
}

TEST_F(SetupCommandsTest, BoardCases) {
  ASSERT_EQ(RunLine("set_board As Kd Qh 2c 3c"), "set_board ok!\n");
  ExpectBoard(Cards("AsKdQh"), Cards("2c"), Cards("3c"));
  ASSERT_EQ(RunLine("set_board As Kd Qh"), "set_board ok!\n");
  ExpectBoard(Cards("AsKdQh"), 0, 0);
  ASSERT_EQ(RunLine("set_board as kd qh 2c 3c"), "set_board ok!\n");
  ExpectBoard(Cards("AsKdQh"), Cards("2c"), Cards("3c"));
  ASSERT_EQ(RunLine("set_board 7h 8h 9h Td"), "set_board ok!\n");
  ExpectBoard(Cards("7h8h9h"), Cards("Td"), 0);
  // Only the union of the flop words and its count are tested.
  ASSERT_EQ(RunLine("set_board AsKdQh As Kd"), "set_board ok!\n");
  ExpectBoard(Cards("AsKdQh"), 0, 0);
  // A quoted word may hold blanks: it is still one word of card text.
  ASSERT_EQ(RunLine("set_board \"As Kd\" Qh Qh 2c"), "set_board ok!\n");
  ExpectBoard(Cards("AsKdQh"), Cards("2c"), 0);
}

TEST_F(SetupCommandsTest, BoardRefusalsKeepThePreviousBoard) {
  ASSERT_EQ(RunLine("set_board 2c 3d 4h 5s 6c"), "set_board ok!\n");
  const CardMask flop = g_board_flop, turn = g_board_turn, river = g_board_river;
  const std::string missing = "ERROR: set_board incorrect or missing argument\n";
  const std::string invalid = "ERROR: invalid card\n";
  const std::string duplicate = "ERROR: set_board duplicate cards\n";
  const struct {
    const char* line;
    const std::string& reply;
  } cases[] = {
      {"set_board", missing},
      {"set_board As Kd", missing},
      {"set_board As Kd Qh Jc Tc 9c", missing},
      {"set_board AsKd Qh Jc", missing},      // four flop cards
      {"set_board As As Kd", missing},        // union of two cards
      {"set_board As Kd Qh JcTc", missing},   // two-card turn
      {"set_board As Kd Qh Jc TcTd", missing},
      {"set_board As Kd Qh Qh", duplicate},
      {"set_board As Kd Qh Jc Qh", duplicate},
      {"set_board As Kd Qh Jc Jc", duplicate},
      {"set_board As Kd Qx", invalid},
      {"set_board AsAs Kd Qh", invalid},
      {"set_board A Kd Qh", invalid},
      {"set_board As Kd Qh J", invalid},
      {"set_board As Kd Qh Jc 1c", invalid},
      {"set_board Xx As Kd", invalid},        // a bad card is reported before the count
      {"set_board AsKd Qh Jc Zz", missing},   // the flop count is tested before the turn is read
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunLine(c.line), c.reply) << c.line;
    ExpectBoard(flop, turn, river);
  }
  const std::string long_word(300, 'A');
  EXPECT_EQ(RunLine("set_board As Kd " + long_word), invalid);
  ExpectBoard(flop, turn, river);
}

TEST_F(SetupCommandsTest, PotFigures) {
  ASSERT_EQ(RunLine("set_pot 10 20 300"), "set_pot ok!\n");
  EXPECT_EQ(g_pot[0], 10.0);
  EXPECT_EQ(g_pot[1], 20.0);
  EXPECT_EQ(g_pot[2], 300.0);
  ASSERT_EQ(RunLine("set_pot -5 +7 100.5"), "set_pot ok!\n");
  EXPECT_EQ(g_pot[0], -5.0);
  EXPECT_EQ(g_pot[1], 7.0);
  EXPECT_EQ(g_pot[2], 100.0);
  ASSERT_EQ(RunLine("set_pot 0 0 100"), "set_pot ok!\n");
  EXPECT_EQ(g_pot[2], 100.0);

  for (const char* line : {"set_pot 0 0 abc", "set_pot abc 1 2", "set_pot 1 2 nan", "set_pot 1 2 inf",
                           "set_pot 1 2147483648 3", "set_pot 1 2 -2147483649"}) {
    EXPECT_EQ(RunLine(line), "Invalid value\n") << line;
    EXPECT_EQ(g_pot[0], 0.0);
    EXPECT_EQ(g_pot[1], 0.0);
    EXPECT_EQ(g_pot[2], 100.0);
  }
  EXPECT_EQ(RunLine("set_pot 1 2"), "ERROR: set_pot incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_pot 2147483647 -2147483648 1"), "set_pot ok!\n");
  EXPECT_EQ(g_pot[0], 2147483647.0);
  EXPECT_EQ(g_pot[1], -2147483648.0);
}

TEST_F(SetupCommandsTest, PotMovesARelativeAccuracyTarget) {
  g_accuracy_value = 0.01;
  g_accuracy_relative = 1;
  ASSERT_EQ(RunLine("set_pot 0 0 200"), "set_pot ok!\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target, 2.0);
  ASSERT_EQ(RunLine("set_pot 0 0 50"), "set_pot ok!\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target, 0.5);
  EXPECT_EQ(RunLine("set_pot 0 0 x"), "Invalid value\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target, 0.5);

  g_accuracy_value = 3.0;
  g_accuracy_relative = 0;
  ASSERT_EQ(RunLine("set_pot 0 0 1000"), "set_pot ok!\n");
  EXPECT_EQ(g_accuracy_target, 3.0);
}

TEST(CategoryCommands, ShowCategoriesRefusesBadBoards) {
  EXPECT_EQ(RunLine("show_categories As Ks"), "ERROR: show_categories invalid board\n");
  EXPECT_EQ(RunLine("show_categories"), "ERROR: show_categories invalid board\n");
  EXPECT_EQ(RunLine("show_categories As Ks Qs Js Ts 9s"), "ERROR: show_categories invalid board\n");
  EXPECT_EQ(RunLine("show_categories As As Kd"), "ERROR: invalid card\n");
  EXPECT_EQ(RunLine("show_categories As Kd 1c"), "ERROR: invalid card\n");
  EXPECT_EQ(RunLine("show_categories AsK d2c"), "ERROR: invalid card\n");
}

TEST(CategoryCommands, CategoryNames) {
  EXPECT_EQ(RunLine("show_category_names"),
            "nothing king_high ace_high low_pair third_pair second_pair underpair top_pair "
            "top_pair_tp overpair two_pair trips set straight flush fullhouse top_fullhouse "
            "quads straight_flush \n"
            "no_draw 4out_straight_draw 8out_straight_draw flush_draw combo_draw \n"
            "END\n");
}
