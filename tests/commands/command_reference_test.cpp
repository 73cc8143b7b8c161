// The command reference (docs/commands.md) against help: a word that help lists
// and no heading of the reference names is a command a user cannot look up.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "support/engine_harness.h"

namespace {

// The words (lower case, digits, '_') of the reference's headings, code blocks
// left out: a comment line in a code block is no heading.
std::set<std::string> HeadingWords(std::istream& in) {
  std::set<std::string> words;
  bool in_code = false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("```", 0) == 0) in_code = !in_code;
    if (in_code || line.rfind("#", 0) != 0) continue;
    std::string word;
    for (const char c : line + ' ') {
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
        word += c;
      } else if (!word.empty()) {
        words.insert(word);
        word.clear();
      }
    }
  }
  return words;
}

}  // namespace

TEST(CommandReference, NamesEveryWordOfHelpInAHeading) {
  std::ifstream reference(std::string(TDX_SOURCE_DIR) + "/docs/commands.md");
  ASSERT_TRUE(reference.is_open());
  const std::set<std::string> headings = HeadingWords(reference);

  std::istringstream help(RunLine("help"));
  int listed = 0;
  for (std::string word; std::getline(help, word) && word != "END"; ++listed)
    EXPECT_EQ(headings.count(word), 1u) << word << " has no section";
  EXPECT_GT(listed, 0);
}
