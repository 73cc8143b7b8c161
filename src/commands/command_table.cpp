#include "commands/command_table.h"

#include "commands/housekeeping_commands.h"
#include "commands/setup_commands.h"
#include "commands/solver_commands.h"
#include "commands/tree_commands.h"
#include "protocol/command_error.h"
#include "solver/solver_status.h"

namespace {
constexpr int32_t kAnyCount = -1;
}

// Rows whose handler is CmdNotImplemented belong to subsystems that are not built
// yet; each lands here with its own handler when its subsystem does.
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
    {"load_tree", CmdNotImplemented, 2},
    {"dump_tree", CmdNotImplemented, kAnyCount},
    {"free_tree", CmdFreeTree, 1},
    {"show_node", CmdShowNode, 2},
    {"show_children", CmdShowChildren, 2},
    {"show_strategy", CmdNotImplemented, 2},
    {"show_strategy_pp", CmdNotImplemented, 2},
    {"show_locked_combos", CmdNotImplemented, 2},
    {"show_range", CmdNotImplemented, kAnyCount},
    {"show_probs", CmdNotImplemented, 2},
    {"calc_results", CmdCalcResults, 1},
    {"calc_ev", CmdNotImplemented, 3},
    {"calc_ev_pp", CmdNotImplemented, 3},
    {"calc_ev_line", CmdNotImplemented, 3},
    {"calc_line_freq", CmdNotImplemented, 2},
    {"calc_global_freq", CmdNotImplemented, 2},
    {"calc_eq", CmdNotImplemented, 2},
    {"calc_eq_pp", CmdNotImplemented, 2},
    {"calc_eq_node", CmdNotImplemented, 3},
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
    {"lock_node", CmdNotImplemented, 2},
    {"unlock_node", CmdNotImplemented, 2},
    {"set_strategy", CmdNotImplemented, 1329},
    {"combo_lock_node", CmdNotImplemented, 1328},
    {"solve_partial", CmdSolvePartial, 2},
    {"explo_partial", CmdExploPartial, 2},
    {"show_category_names", CmdShowCategoryNames, 1},
    {"show_categories", CmdShowCategories, kAnyCount},
    {"zk4_set_compression", CmdNotImplemented, 2},
    {"set_compression", CmdNotImplemented, 2},
    {"zk4_get_actual_compression", CmdNotImplemented, 1},
    {"get_actual_compression", CmdNotImplemented, 1},
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

void CmdNotImplemented(const WordList& words) { ThrowRefusal("not implemented"); }

void InstallCommands() {
  InstallCommandTable(g_command_table);
  // The solver thread leaves its pass (and prints its stop line) before the
  // process's static objects go: ending under a running pass would tear its
  // stores and threads down beneath it. The wait is one iteration at most.
  SetExitHook(StopSolverAndWait);
}
