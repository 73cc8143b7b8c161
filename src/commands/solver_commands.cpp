#include "commands/solver_commands.h"

#include <omp.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "analysis/forgotten_subgames.h"
#include "cards/situation.h"
#include "commands/command_table.h"
#include "commands/preconditions.h"
#include "compress/storage_counters.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/accuracy_settings.h"
#include "solver/forget_streets.h"
#include "solver/progress_history.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/split_solving.h"
#include "tree/node_path.h"
#include "tree/tree_records.h"

namespace {

// An unsigned 32-bit number word as the C conversion reads it: a negative
// number wraps around (-1 is 4294967295); a magnitude beyond 32 bits is out of
// range.
uint32_t ParseUnsignedWord(const std::string& word) {
  const long long value = std::stoll(word);
  if (value > static_cast<long long>(UINT32_MAX) || value < -static_cast<long long>(UINT32_MAX))
    throw std::out_of_range("ParseUnsignedWord");
  return static_cast<uint32_t>(value);
}

// solve_partial and explo_partial work on a decision node only.
ResolvedPath ResolveDecisionPath(const std::string& text) {
  const ResolvedPath path = ResolveNodePath(g_solver_state.get(), text);
  const std::string type = GetNodeTypeName(path);
  if (type != "OOP_DEC" && type != "IP_DEC") ThrowRefusal("incorrect path");
  return path;
}

}  // namespace

void CmdGo(const WordList& words) {
  RequireTree();
  RefuseWhileSolverRuns();
  if (!IsTreeComplete()) ThrowRefusal("incomplete tree");

  uint32_t limit = 0;
  uint8_t in_steps = 0;
  if (words.size() == 2) ThrowArgumentError(words[0]);
  if (words.size() >= 3) {
    if (words[2] == "steps")
      in_steps = 1;
    else if (words[2] != "seconds")
      ThrowArgumentError(words[0]);
    limit = static_cast<uint32_t>(ParseIntWord(words[1]));
  }
  g_reported_records.store(0);
  if (!StartSolver(limit, in_steps)) ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}

void CmdStop(const WordList& words) {
  if (IsSolverRunning()) RequestSolverStop();
  PrintOkReply(words[0]);
}

void CmdWaitForSolver(const WordList&) { WaitForSolver(); }

void CmdCalcResults(const WordList&) {
  RequireTree();
  ProgressRecord results;
  if (!ComputeResults(&results)) ThrowRefusal("out of memory");
  const double h = HalfRootPot();
  PrintReply("#%d iterations\n", static_cast<int32_t>(results.iteration));
  // Rates over the running time of the last status block.
  uint32_t records = 0;
  const std::unique_ptr<ProgressRecord[]> history = CopyProgressHistory(&records);
  const double seconds = history && records > 0 ? history[records - 1].running_time : 0.0;
  PrintReply("#storage %d MB/s read, %d MB/s write\n",
             StorageRateMBs(g_storage_read_bytes.load(), seconds),
             StorageRateMBs(g_storage_write_bytes.load(), seconds));
  PrintReply("EV OOP: %.3f\nEV IP: %.3f\nOOP's MES: %.3f\nIP's MES: %.3f\nExploitable for: %.3f\nEND\n",
             results.ev_oop + h, results.ev_ip + h, results.mes_oop + h, results.mes_ip + h,
             results.exploitability);
}

void CmdSetThreads(const WordList& words) {
  const int32_t count = ParseIntWord(words[1]);
  // Each thread of the team costs a stack and a share of every batch.
  if (count > static_cast<int32_t>(kMaxThreadCount)) ThrowArgumentError(words[0]);
  SetThreadCount(count < 1 ? static_cast<uint32_t>(omp_get_max_threads())
                           : static_cast<uint32_t>(count));
  PrintOkReply(words[0]);
}

void CmdSetScheduler(const WordList& words) {
  const uint32_t scheduler = ParseUnsignedWord(words[1]);
  if (scheduler > 2) ThrowArgumentError(words[0]);
  g_scheduler.store(scheduler, std::memory_order_relaxed);
  PrintOkReply(words[0]);
}

void CmdSetAccuracy(const WordList& words) {
  if (words.size() < 2) ThrowArgumentError(words[0]);
  // A NaN target could never be reached; an infinite one is taken (the run
  // then ends at its first check).
  const double value = ParseNumberWord(words[1]);
  if (value < 0.0) ThrowArgumentError(words[0]);
  g_accuracy_value = value;
  g_accuracy_relative = words.size() >= 3 && words[2] == "fraction";
  SetAccuracyTarget(g_accuracy_relative ? value * g_pot[2] : value);
  PrintOkReply(words[0]);
}

void CmdSetRecalcAccuracy(const WordList& words) {
  const double flop = ParseDoubleWord(words[1]);
  const double turn = ParseDoubleWord(words[2]);
  const double river = ParseDoubleWord(words[3]);
  const double pot = g_pot[2];
  SetRecalcAccuracy(flop * pot, turn * pot, river * pot);
  PrintOkReply(words[0]);
}

void CmdSetIsomorphism(const WordList& words) {
  g_isomorphism_by_street[STREET_FLOP] = words[1] == "0" ? 0 : 1;
  g_isomorphism_by_street[STREET_TURN] = words[2] == "0" ? 0 : 1;
  PrintOkReply(words[0]);
}

void CmdSetRake(const WordList& words) {
  const double fraction = ParseDoubleWord(words[1]);
  if (!(fraction >= 0.0 && fraction <= 1.0)) ThrowArgumentError(words[0]);
  const double cap = ParseDoubleWord(words[2]);
  if (!(cap >= 0.0)) ThrowArgumentError(words[0]);
  SetRake(fraction, cap);
  PrintOkReply(words[0]);
}

void CmdIgnoreMemCheck(const WordList& words) {
  if (words[1] != "on" && words[1] != "off") ThrowArgumentError(words[0]);
  PrintOkReply(words[0]);
}

namespace {

// Only a forgotten street is re-solved, and no solver runs while one is
// forgotten (go refuses an incomplete tree): during a run there is nothing to
// re-solve, and the tree is left alone.
double RunPartialSolve(const WordList& words) {
  const ResolvedPath path = ResolveDecisionPath(words[1]);
  if (IsSolverRunning()) return 0.0;
  return ComputePartialValue(*g_solver_state, static_cast<int32_t>(path.node->entry_index),
                             path.turn_card, path.river_card);
}

}  // namespace

void CmdSolvePartial(const WordList& words) {
  RunPartialSolve(words);
  PrintOkReply(words[0]);
}

void CmdExploPartial(const WordList& words) { PrintReply("%.6g\n", RunPartialSolve(words)); }

void CmdSolveAllSplits(const WordList& words) {
  if (words[1] != "rivers" && words[1] != "turns") ThrowArgumentError(words[0]);
  // Split solving changes the stores and the iteration count a solver uses.
  RequireTree();
  RefuseWhileSolverRuns();
  solve_subgames(words[1] == "rivers" ? STREET_RIVER : STREET_TURN);
  PrintOkReply(words[0]);
}

void CmdForget(const WordList& words) {
  Street street;
  if (words[1] == "rivers")
    street = STREET_RIVER;
  else if (words[1] == "turns")
    street = STREET_TURN;
  else
    ThrowArgumentError(words[0]);
  RequireTree();
  RefuseWhileSolverRuns();

  const SolverState& state = *g_solver_state;
  // The stores of the streets above would be read after they were freed.
  if (state.first_forgotten_street != STREET_NONE && street >= state.first_forgotten_street)
    ThrowRefusal(words[1] + " already forgotten");
  // Forgetting the street the tree starts on would free every store: nothing
  // would be left to walk, query or re-solve from but the ranges themselves.
  if (street <= state.nodes[0].street)
    ThrowRefusal(words[1] + ": the tree starts on or after that street");
  if (!ForgetStreets(street)) ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}

void CmdRebuildForgottenStreets(const WordList& words) {
  RequireTree();
  RefuseWhileSolverRuns();
  if (!RebuildStreets()) ThrowRefusal("out of memory");
  PrintOkReply(words[0]);
}
