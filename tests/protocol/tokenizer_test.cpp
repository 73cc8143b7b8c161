#include <gtest/gtest.h>

#include <sstream>

#include "protocol/tokenizer.h"

namespace {

std::vector<std::string> ReadAllLines(const std::string& input) {
  std::istringstream in(input);
  std::vector<std::string> lines;
  std::string line;
  for (;;) {
    ReadLine(in, line);
    if (in.eof() || in.fail()) break;
    lines.push_back(line);
  }
  return lines;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(ReadLine, AllThreeLineEndsAndAnUnterminatedLastLine) {
  EXPECT_EQ(ReadAllLines("a\nb\rc\r\nd"), (Words{"a", "b", "c", "d"}));
  EXPECT_EQ(ReadAllLines("a\r\r"), (Words{"a", ""}));
  EXPECT_EQ(ReadAllLines("\r\n\r\n"), (Words{"", ""}));
  EXPECT_EQ(ReadAllLines(""), Words{});
  EXPECT_EQ(ReadAllLines("x\n"), Words{"x"});
  EXPECT_EQ(ReadAllLines("\n\nx"), (Words{"", "", "x"}));
}

TEST(ReadLine, EmptiesTheLineAndStopsOnAFailedStream) {
  std::istringstream in("abc");
  std::string line = "old";
  ReadLine(in, line);
  EXPECT_EQ(line, "abc");
  EXPECT_FALSE(in.fail());
  ReadLine(in, line);
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(line, "");
  line = "again";
  ReadLine(in, line);
  EXPECT_TRUE(in.fail());
  EXPECT_EQ(line, "");
}

TEST(TokenizeLine, BlanksQuotesAndTabs) {
  EXPECT_EQ(TokenizeLine("  a  b "), (Words{"a", "b"}));
  EXPECT_EQ(TokenizeLine(""), Words{});
  EXPECT_EQ(TokenizeLine("   "), Words{});
  EXPECT_EQ(TokenizeLine("echo\thello"), Words{"echo\thello"});
  EXPECT_EQ(TokenizeLine("echo \"a b\""), (Words{"echo", "a b"}));
  EXPECT_EQ(TokenizeLine("ab\"c d\"e"), (Words{"abc d", "e"}));
  EXPECT_EQ(TokenizeLine("\"\""), Words{});
  EXPECT_EQ(TokenizeLine("x \"\" y"), (Words{"x", "y"}));
  EXPECT_EQ(TokenizeLine("\"open quote  "), Words{"open quote  "});
  EXPECT_EQ(TokenizeLine("a\"\"b"), (Words{"a", "b"}));
}

TEST(SplitString, DropsEmptyPieces) {
  EXPECT_EQ(SplitString("r:0:b10::c:", ':'), (Words{"r", "0", "b10", "c"}));
  EXPECT_EQ(SplitString(":::", ':'), Words{});
  EXPECT_EQ(SplitString("load_script a b", ' '), (Words{"load_script", "a", "b"}));
}
