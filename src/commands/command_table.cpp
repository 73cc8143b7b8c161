#include "commands/command_table.h"

#include "commands/analysis_commands.h"
#include "commands/compression_commands.h"
#include "commands/housekeeping_commands.h"
#include "commands/setup_commands.h"
#include "commands/solver_commands.h"
#include "commands/tree_commands.h"
#include "commands/tree_file_commands.h"
#include "solver/solver_status.h"

namespace {
constexpr int32_t kAnyCount = -1;
}

const CommandEntry g_command_table[kCommandCount] = {
    {"is_ready", CmdIsReady, 1},
    {"solver_time", CmdSolverTime, 1},
    {"show_hand_order", CmdShowHandOrder, 1},
    {"show_settings", CmdShowSettings, 1},
    {"show_tree_params", CmdShowTreeParams, 1},
    {"set_threads", CmdSetThreads, 2},
    {"zk4_set_threads", CmdSetThreads, 2},
    {"set_recalc_accuracy", CmdSetRecalcAccuracy, 4},
    {"set_isomorphism", CmdSetIsomorphism, 3},
    {"skip_if_done", CmdSkipIfDone, 3},
    {"is_tree_present", CmdIsTreePresent, 1},
    {"go", CmdGo, kAnyCount},
    {"stop", CmdStop, 1},
    {"load_script", CmdLoadScript, 2},
    {"set_range", CmdSetRange, 1328},
    {"set_board", CmdSetBoard, kAnyCount},
    {"set_pot", CmdSetPot, 4},
    {"clear_lines", CmdClearLines, 1},
    {"free_schematic_tree", CmdFreeSchematicTree, 1},
    {"add_line", CmdAddLine, kAnyCount},
    {"remove_line", CmdRemoveLine, kAnyCount},
    {"force_line", CmdForceLine, kAnyCount},
    {"cut_line", CmdCutLine, 2},
    {"build_tree", CmdBuildTree, 1},
    {"load_tree", CmdLoadTree, 2},
    {"dump_tree", CmdDumpTree, kAnyCount},
    {"free_tree", CmdFreeTree, 1},
    {"show_node", CmdShowNode, 2},
    {"show_children", CmdShowChildren, 2},
    {"show_strategy", CmdShowStrategy, 2},
    {"show_strategy_pp", CmdShowStrategyPp, 2},
    {"show_locked_combos", CmdShowLockedCombos, 2},
    {"show_range", CmdShowRange, kAnyCount},
    {"show_probs", CmdShowProbs, 2},
    {"calc_results", CmdCalcResults, 1},
    {"calc_ev", CmdCalcEv, 3},
    {"calc_ev_pp", CmdCalcEvPp, 3},
    {"calc_ev_line", CmdCalcEvLine, 3},
    {"calc_line_freq", CmdCalcLineFreq, 2},
    {"calc_global_freq", CmdCalcGlobalFreq, 2},
    {"calc_eq", CmdCalcEq, 2},
    {"calc_eq_pp", CmdCalcEqPp, 2},
    {"calc_eq_node", CmdCalcEqNode, 3},
    {"stdoutredi", CmdStdoutredi, 2},
    {"stdoutredi_append", CmdStdoutrediAppend, 2},
    {"stdoutback", CmdStdoutback, 1},
    {"wait_for_solver", CmdWaitForSolver, 1},
    {"show_memory", CmdShowMemory, 1},
    {"node_count", CmdNodeCount, 1},
    {"show_effective_stack", CmdShowEffectiveStack, 1},
    {"set_eff_stack", CmdIsReady, 2},
    {"set_rake", CmdSetRake, 3},
    {"set_ev_boost", CmdSetEvBoost, 3},
    {"set_accuracy", CmdSetAccuracy, kAnyCount},
    {"forget", CmdForget, 2},
    {"rebuild_forgotten_streets", CmdRebuildForgottenStreets, 1},
    {"rebuild_all", CmdRebuildForgottenStreets, 1},
    {"solve_all_splits", CmdSolveAllSplits, 2},
    {"lock_node", CmdLockNode, 2},
    {"unlock_node", CmdUnlockNode, 2},
    {"set_strategy", CmdSetStrategy, 1329},
    {"combo_lock_node", CmdComboLockNode, 1328},
    {"solve_partial", CmdSolvePartial, 2},
    {"explo_partial", CmdExploPartial, 2},
    {"show_category_names", CmdShowCategoryNames, 1},
    {"show_categories", CmdShowCategories, kAnyCount},
    {"zk4_set_compression", CmdSetCompression, 2},
    {"set_compression", CmdSetCompression, 2},
    {"zk4_get_actual_compression", CmdGetActualCompression, 1},
    {"get_actual_compression", CmdGetActualCompression, 1},
    {"zk4_get_instruction_set", CmdGetInstructionSet, 1},
    {"get_instruction_set", CmdGetInstructionSet, 1},
    {"set_scheduler", CmdSetScheduler, 2},
    {"sleep", CmdSleep, 2},
    {"take_a_break", CmdTakeABreak, 2},
    {"repeat", CmdRepeat, kAnyCount},
    {"echo", CmdEcho, kAnyCount},
    {"ignore_mem_check", CmdIgnoreMemCheck, 2},
    {"help", CmdHelp, 1},
};

const CommandEntry* FindCommand(const std::string& word) {
  return FindCommandRow(g_command_table, word);
}

void InstallCommands() {
  InstallCommandTable(g_command_table);
  // The solver thread leaves its pass (and prints its stop line) before the
  // process's static objects go: ending under a running pass would tear its
  // stores and threads down beneath it. The wait is one iteration at most.
  SetExitHook(StopSolverAndWait);
}
