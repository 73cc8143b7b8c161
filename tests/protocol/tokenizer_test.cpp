#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <system_error>
#include <streambuf>
#include <string>

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

// Input that arrives piece by piece, as from a pipe: a read past what has
// arrived would wait, and is counted.
class ArrivingInput : public std::streambuf {
 public:
  void Arrive(const std::string& text) { pending_ += text; }
  int waits = 0;

 protected:
  int_type underflow() override {
    if (pending_.empty()) {
      ++waits;
      return traits_type::eof();
    }
    current_ = pending_;
    pending_.clear();
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(current_[0]);
  }
  std::streamsize showmanyc() override { return static_cast<std::streamsize>(pending_.size()); }

 private:
  std::string pending_, current_;
};

TEST(ReadLine, ALineEndedByCrAloneIsReadWithoutWaitingForMore) {
  ArrivingInput input;
  std::istream in(&input);
  std::string line;
  input.Arrive("is_ready\r");
  ReadLine(in, line);
  EXPECT_EQ(line, "is_ready");
  EXPECT_EQ(input.waits, 0);
  // An LF already there is taken with its CR; one that comes later is an
  // empty line of its own.
  input.Arrive("a\r\nb\r");
  ReadLine(in, line);
  EXPECT_EQ(line, "a");
  ReadLine(in, line);
  EXPECT_EQ(line, "b");
  input.Arrive("\nc\n");
  ReadLine(in, line);
  EXPECT_EQ(line, "");
  ReadLine(in, line);
  EXPECT_EQ(line, "c");
  EXPECT_EQ(input.waits, 0);
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

TEST(ReadLine, ScriptLinesEndAtLfAndDropOneCrBeforeIt) {
  std::istringstream in("a\rb\r\nc\r\r\nd\r");
  std::string line;
  std::vector<std::string> lines;
  while (ReadLine(in, line, LineBreaks::kLfOnly) == LineStatus::kLine) lines.push_back(line);
  EXPECT_EQ(lines, (Words{"a\rb", "c\r", "d"}));
  EXPECT_TRUE(in.eof());
}

TEST(ReadLine, ALinePastTheCapIsReportedAndSkippedToItsEnd) {
  std::string text(kMaxLineLength, 'a');
  text += "\n" + std::string(kMaxLineLength + 1, 'b') + "\rnext\n";
  std::istringstream in(text);
  std::string line;
  EXPECT_EQ(ReadLine(in, line), LineStatus::kLine);
  EXPECT_EQ(line.size(), kMaxLineLength);
  EXPECT_EQ(ReadLine(in, line), LineStatus::kTooLong);
  EXPECT_EQ(line, "");
  EXPECT_EQ(SkipLine(in), LineStatus::kLine);
  EXPECT_EQ(ReadLine(in, line), LineStatus::kLine);
  EXPECT_EQ(line, "next");
  EXPECT_EQ(ReadLine(in, line), LineStatus::kEnd);
}

// Input whose descriptor fails, as a closed one or a directory does: the file
// buffer throws from its refill.
class FailingInput : public std::streambuf {
 protected:
  int_type underflow() override {
    throw std::ios_base::failure("refill", std::error_code(EISDIR, std::generic_category()));
  }
};

TEST(ReadLine, AFailedReadIsReportedWithItsReason) {
  FailingInput input;
  std::istream in(&input);
  std::string line = "old", reason;
  EXPECT_EQ(ReadLine(in, line, LineBreaks::kAny, &reason), LineStatus::kReadError);
  EXPECT_EQ(line, "");
  EXPECT_EQ(reason, "Is a directory");
  EXPECT_TRUE(in.bad());
  EXPECT_EQ(ReadLine(in, line), LineStatus::kReadError);
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
