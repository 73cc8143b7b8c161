// The command table against the protocol's own list of words and word counts,
// and the dispatcher's word-count check on every exact-count row.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "commands/command_table.h"
#include "platform/isa_dispatch.h"
#include "protocol/dispatcher.h"
#include "support/engine_harness.h"

namespace {

struct ExpectedRow {
  const char* word;
  int count;  // -1: any
};

// Written out from the protocol description, not from the engine's table.
const ExpectedRow kProtocol[] = {
    {"is_ready", 1}, {"solver_time", 1}, {"show_hand_order", 1}, {"show_settings", 1},
    {"show_tree_params", 1}, {"set_threads", 2}, {"zk4_set_threads", 2},
    {"set_recalc_accuracy", 4}, {"set_isomorphism", 3}, {"skip_if_done", 3},
    {"is_tree_present", 1}, {"go", -1}, {"stop", 1}, {"load_script", 2}, {"set_range", 1328},
    {"set_board", -1}, {"set_pot", 4}, {"clear_lines", 1}, {"free_schematic_tree", 1},
    {"add_line", -1}, {"remove_line", -1}, {"force_line", -1}, {"cut_line", 2},
    {"build_tree", 1}, {"load_tree", 2}, {"dump_tree", -1}, {"free_tree", 1}, {"show_node", 2},
    {"show_children", 2}, {"show_strategy", 2}, {"show_strategy_pp", 2},
    {"show_locked_combos", 2}, {"show_range", -1}, {"show_probs", 2}, {"calc_results", 1},
    {"calc_ev", 3}, {"calc_ev_pp", 3}, {"calc_ev_line", 3}, {"calc_line_freq", 2},
    {"calc_global_freq", 2}, {"calc_eq", 2}, {"calc_eq_pp", 2}, {"calc_eq_node", 3},
    {"stdoutredi", 2}, {"stdoutredi_append", 2}, {"stdoutback", 1}, {"wait_for_solver", 1},
    {"show_memory", 1}, {"node_count", 1}, {"show_effective_stack", 1}, {"set_eff_stack", 2},
    {"set_rake", 3}, {"set_ev_boost", 3}, {"set_accuracy", -1}, {"forget", 2},
    {"rebuild_forgotten_streets", 1}, {"rebuild_all", 1}, {"solve_all_splits", 2},
    {"lock_node", 2}, {"unlock_node", 2}, {"set_strategy", 1329}, {"combo_lock_node", 1328},
    {"solve_partial", 2}, {"explo_partial", 2}, {"show_category_names", 1},
    {"show_categories", -1}, {"zk4_set_compression", 2}, {"set_compression", 2},
    {"zk4_get_actual_compression", 1}, {"get_actual_compression", 1},
    {"zk4_get_instruction_set", 1}, {"get_instruction_set", 1}, {"set_scheduler", 2},
    {"sleep", 2}, {"take_a_break", 2}, {"repeat", -1}, {"echo", -1}, {"ignore_mem_check", 2},
    {"help", 1},
};

std::string LineOfWords(const std::string& command, int count) {
  std::string line = command;
  for (int i = 1; i < count; ++i) line += " 1";
  return line;
}

}  // namespace

TEST(CommandTable, MatchesTheProtocolInOrder) {
  ASSERT_EQ(std::size(kProtocol), kCommandCount);
  std::set<std::string> seen;
  for (size_t i = 0; i < kCommandCount; ++i) {
    EXPECT_STREQ(g_command_table[i].word, kProtocol[i].word) << "row " << i;
    const int count = g_command_table[i].word_count > 0 ? g_command_table[i].word_count : -1;
    EXPECT_EQ(count, kProtocol[i].count) << g_command_table[i].word;
    EXPECT_NE(g_command_table[i].handler, nullptr);
    EXPECT_TRUE(seen.insert(g_command_table[i].word).second) << "duplicate " << g_command_table[i].word;
  }
}

TEST(CommandTable, AliasesShareTheirTwinsHandler) {
  auto handler = [](const char* word) { return FindCommand(word)->handler; };
  EXPECT_EQ(handler("set_eff_stack"), handler("is_ready"));
  EXPECT_EQ(handler("zk4_get_instruction_set"), handler("get_instruction_set"));
  EXPECT_EQ(handler("zk4_set_threads"), handler("set_threads"));
  EXPECT_EQ(handler("zk4_set_compression"), handler("set_compression"));
  EXPECT_EQ(handler("zk4_get_actual_compression"), handler("get_actual_compression"));
  EXPECT_EQ(handler("rebuild_all"), handler("rebuild_forgotten_streets"));
}

TEST(CommandTable, LookupIsExactAndCaseSensitive) {
  EXPECT_NE(FindCommand("echo"), nullptr);
  EXPECT_EQ(FindCommand("Echo"), nullptr);
  EXPECT_EQ(FindCommand("echo "), nullptr);
  EXPECT_EQ(FindCommand("exit"), nullptr);
  EXPECT_EQ(FindCommand(""), nullptr);
}

TEST(Dispatcher, EveryExactCountRowRefusesOneWordMoreOrLess) {
  for (const ExpectedRow& row : kProtocol) {
    if (row.count < 1) continue;
    const std::string expected = std::string("ERROR: ") + row.word + " incorrect or missing argument\n";
    g_command_name = "before";
    EXPECT_EQ(RunLine(LineOfWords(row.word, row.count + 1)), expected) << row.word;
    // The handler did not run, so the command name is the previous one.
    EXPECT_EQ(g_command_name, "before") << row.word;
    if (row.count > 1) {
      EXPECT_EQ(RunLine(LineOfWords(row.word, row.count - 1)), expected) << row.word;
    }
  }
}

TEST(Dispatcher, CommandNameIsSetBeforeTheHandlerRuns) {
  EXPECT_EQ(RunLine("set_eff_stack 100"), "set_eff_stack ok!\n");
  EXPECT_EQ(g_command_name, "set_eff_stack");
}

TEST(Dispatcher, PendingLabelDropsEverythingUntilItsLine) {
  g_skip_label = "L";
  EXPECT_EQ(RunLine("echo hidden"), "");
  EXPECT_EQ(RunLine("bogus"), "");
  EXPECT_EQ(RunLine("LABEL: M"), "");
  EXPECT_EQ(g_skip_label, "L");
  EXPECT_EQ(RunLine("LABEL: L"), "");
  EXPECT_TRUE(g_skip_label.empty());
  EXPECT_EQ(RunLine("echo shown"), "shown");
}

// Every analysis command has its handler now: none answers "not implemented"
// (without a tree each refuses for a reason of its own).
TEST(Dispatcher, AnalysisCommandsAreAllBuilt) {
  const char* const kAnalysis[] = {
      "show_strategy", "show_strategy_pp", "show_locked_combos", "show_range",
      "show_probs",    "calc_ev",          "calc_ev_pp",         "calc_ev_line",
      "calc_line_freq", "calc_global_freq", "calc_eq",           "calc_eq_pp",
      "calc_eq_node",  "lock_node",        "unlock_node",        "set_strategy",
      "combo_lock_node"};
  for (const char* name : kAnalysis) {
    const std::string word = name;
    const CommandEntry* entry = FindCommand(word);
    ASSERT_NE(entry, nullptr) << word;
    const int count = entry->word_count > 0 ? entry->word_count : 1;
    EXPECT_EQ(RunLine(LineOfWords(word, count)).find("not implemented"), std::string::npos)
        << word;
  }
}

// The reply of repeat is collected whole: a size that would exhaust memory is
// refused before anything is added; long texts repeated fewer times still run.
TEST(Dispatcher, RepeatRefusesARepliesTooLargeToCollect) {
  const std::string word(2999, 'a');  // 3000 bytes a line with its LF
  EXPECT_EQ(RunLine("repeat 99999 " + word), "ERROR: repeat incorrect or missing argument\n");
  EXPECT_EQ(RunLine("repeat 89479 " + word), "ERROR: repeat incorrect or missing argument\n");
  const std::string reply = RunLine("repeat 1000 " + word);
  EXPECT_EQ(reply.size(), 1000u * 3000u + 4u);
  EXPECT_EQ(reply.substr(reply.size() - 4), "END\n");
}

// get_instruction_set names the build in use; the AVX-512 build is the AVX2
// one's code compiled for AVX-512 and answers as it does.
TEST(Dispatcher, InstructionSetNamesEveryBuild) {
  const KernelBuild saved = g_kernel_build;
  const std::pair<KernelBuild, const char*> cases[] = {
      {KernelBuild::kAvx, "AVX\n"},
      {KernelBuild::kAvx2Fma, "AVX2\n"},
      {KernelBuild::kAvx512, "AVX2\n"}};
  for (const auto& [build, reply] : cases) {
    g_kernel_build = build;
    EXPECT_EQ(RunLine("get_instruction_set"), reply);
    EXPECT_EQ(RunLine("zk4_get_instruction_set"), reply);
  }
  g_kernel_build = saved;
}
