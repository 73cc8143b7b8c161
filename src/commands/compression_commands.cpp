#include "commands/compression_commands.h"

#include <cstring>

#include "commands/preconditions.h"
#include "commands/tree_build.h"
#include "compress/compression_level.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "tree/tree_builder.h"

namespace {

struct LevelWord {
  const char* word;
  int32_t setting;
};
// Matched exactly, case and length.
constexpr LevelWord kLevelWords[] = {{"auto", -1}, {"none", 0}, {"low", 1},
                                     {"medium", 2}, {"high", 3}, {"max", 4}};

int32_t SettingOf(const std::string& word) {
  for (const LevelWord& level : kLevelWords)
    if (word == level.word) return level.setting;
  // Anything else is a number, held within the levels.
  const int32_t number = ParseIntWord(word);
  return number < 0 ? 0 : number > 4 ? 4 : number;
}

}  // namespace

void CmdSetCompression(const WordList& words) {
  const int32_t setting = SettingOf(words[1]);
  if (g_tree_present) RefuseWhileSolverRuns();
  g_compression_setting = setting;
  if (g_tree_present) PrepareStoresAtSetting();
  PrintReply("%s ok!\n", words[0].c_str());
}

void CmdGetActualCompression(const WordList&) {
  PrintReply("compression %d\n", g_compression_level);
}
