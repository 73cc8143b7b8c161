// The command reference (docs/commands.md) against help: a word that help lists
// and no heading of the reference names is a command a user cannot look up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/engine_harness.h"
#include "support/process_runner.h"

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

// The first executable of that name on PATH, or "" (the runner does not search).
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// The whole file, or "" when it cannot be read.
std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
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

// The range snippet of set_range, exactly as a reader copies it, on the hand
// order the engine prints: the notation players write gives the right
// combinations, and an item it cannot read stops it before any line is out.
TEST(CommandReference, RangeSnippetReadsTheNotationAndRefusesTheRest) {
  const std::string python = FindOnPath("python3");
  ASSERT_FALSE(python.empty())
      << "python3 is needed to run the range snippet of docs/commands.md"
         " (tools/setup.sh test installs it)";
  const std::string reference = ReadText(std::string(TDX_SOURCE_DIR) + "/docs/commands.md");
  const size_t section = reference.find("\n### set_range\n");
  const size_t start = reference.find("```python\n", section);
  ASSERT_NE(section, std::string::npos);
  ASSERT_LT(start, reference.find("\n### ", section + 1)) << "set_range has no python block";
  const size_t body = start + 10;
  const std::string dir = MakeTempDir();
  const std::string snippet = reference.substr(body, reference.find("```", body) - body);
  std::ofstream(dir + "/range_line.py") << snippet;

  const std::string order = RunLine("show_hand_order");
  const auto run = [&](const std::string& spec) {
    return RunProcess(python, {dir + "/range_line.py", "OOP", spec}, order, dir, 60);
  };
  const struct { const char* spec; int count; const char* weight; } cases[] = {
      {"22+", 78, "1"},     {"KK-22", 72, "1"},   {"ATs+", 16, "1"},    {"KTo+", 36, "1"},
      {"AKs-A2s", 48, "1"}, {"AJo-A9o", 36, "1"}, {"AsKd", 1, "1"},     {"AQo:0.5", 12, "0.5"}};
  for (const auto& c : cases) {
    const ProcessResult result = run(c.spec);
    ASSERT_EQ(result.exit_code, 0) << c.spec << ": " << result.err;
    std::istringstream words(result.out);
    std::string word;
    int weights = 0, count = 0;
    for (words >> word >> word; words >> word; ++weights) {
      if (word == "0") continue;
      ++count;
      EXPECT_EQ(word, c.weight) << c.spec;
    }
    EXPECT_EQ(weights, 1326) << c.spec;
    EXPECT_EQ(count, c.count) << c.spec;
    EXPECT_EQ(RunLine(result.out), "set_range ok!\n") << c.spec;
  }
  for (const std::string spec : {"ZZ", "AKx"}) {
    const ProcessResult result = run("AA," + spec);
    EXPECT_NE(result.exit_code, 0) << spec;
    EXPECT_EQ(result.out, "") << spec;
    EXPECT_NE(result.err.find(spec), std::string::npos) << spec << ": " << result.err;
  }
}

// Every text that the sources refuse a line with is in the reference, so that
// a user who meets a reply can look it up; the reference's line breaks count
// as blanks. Only reasons that no input can bring about are left out.
TEST(CommandReference, NamesEveryRefusalReason) {
  const std::string text = ReadText(std::string(TDX_SOURCE_DIR) + "/docs/commands.md");
  ASSERT_FALSE(text.empty());
  const std::string reference = std::regex_replace(text, std::regex("\\s+"), " ");
  const std::set<std::string> internal = {"buffer too small", "isomorph error: ", " | "};
  const std::regex call(R"re(Throw(Unnamed)?Refusal\(([^;]*)\);)re");
  const std::regex literal(R"re("([^"\\]*)")re");
  int reasons = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(std::string(TDX_SOURCE_DIR) + "/src")) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string source = ReadText(entry.path().string());
    for (std::sregex_iterator c(source.begin(), source.end(), call), end; c != end; ++c) {
      const std::string arguments = (*c)[2];
      for (std::sregex_iterator l(arguments.begin(), arguments.end(), literal); l != end; ++l) {
        const std::string reason = (*l)[1];
        if (internal.count(reason)) continue;
        ++reasons;
        EXPECT_NE(reference.find(reason), std::string::npos)
            << "\"" << reason << "\" (" << entry.path().filename().string()
            << ") is not in docs/commands.md";
      }
    }
  }
  EXPECT_GT(reasons, 30);
}
