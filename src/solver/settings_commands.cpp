#include "solver/settings_commands.h"

#include <omp.h>

#include <cstdint>
#include <stdexcept>

#include "cards/situation.h"
#include "commands/preconditions.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "solver/accuracy_settings.h"
#include "solver/solver_settings.h"
#include "solver/split_solving.h"
#include "tree/node_path.h"
#include "tree/tree_builder.h"
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

void ReplyOk(const WordList& words) { PrintReply("%s ok!\n", words[0].c_str()); }

// solve_partial and explo_partial work on a decision node only.
ResolvedPath ResolveDecisionPath(const std::string& text) {
  const ResolvedPath path = ResolveNodePath(text);
  const std::string type = GetNodeTypeName(path);
  if (type != "OOP_DEC" && type != "IP_DEC") ThrowRefusal("incorrect path");
  return path;
}

// The kernels of partial and split solving are not built yet.
[[noreturn]] void ThrowNotImplemented(const WordList& words) {
  ThrowCommandError("ERROR: %s not implemented\n", words[0].c_str());
}

}  // namespace

void CmdSetThreads(const WordList& words) {
  const int32_t count = ParseIntWord(words[1]);
  // Each thread of the team costs a stack and a share of every batch.
  if (count > static_cast<int32_t>(kMaxThreadCount)) ThrowArgumentError(words[0]);
  SetThreadCount(count < 1 ? static_cast<uint32_t>(omp_get_max_threads())
                           : static_cast<uint32_t>(count));
  ReplyOk(words);
}

void CmdSetScheduler(const WordList& words) {
  const uint32_t scheduler = ParseUnsignedWord(words[1]);
  if (scheduler > 2) ThrowArgumentError(words[0]);
  g_scheduler.store(scheduler, std::memory_order_relaxed);
  ReplyOk(words);
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
  ReplyOk(words);
}

void CmdSetRecalcAccuracy(const WordList& words) {
  const double flop = ParseDoubleWord(words[1]);
  const double turn = ParseDoubleWord(words[2]);
  const double river = ParseDoubleWord(words[3]);
  const double pot = g_pot[2];
  SetRecalcAccuracy(flop * pot, turn * pot, river * pot);
  ReplyOk(words);
}

void CmdSetIsomorphism(const WordList& words) {
  g_isomorphism_by_street[1] = words[1] == "0" ? 0 : 1;
  g_isomorphism_by_street[2] = words[2] == "0" ? 0 : 1;
  ReplyOk(words);
}

void CmdSetRake(const WordList& words) {
  const double fraction = ParseDoubleWord(words[1]);
  if (!(fraction >= 0.0 && fraction <= 1.0)) ThrowArgumentError(words[0]);
  const double cap = ParseDoubleWord(words[2]);
  if (!(cap >= 0.0)) ThrowArgumentError(words[0]);
  SetRake(fraction, cap);
  ReplyOk(words);
}

void CmdIgnoreMemCheck(const WordList& words) {
  if (words[1] != "on" && words[1] != "off") ThrowArgumentError(words[0]);
  ReplyOk(words);
}

void CmdSolvePartial(const WordList& words) {
  ResolveDecisionPath(words[1]);
  ThrowNotImplemented(words);
}

void CmdExploPartial(const WordList& words) {
  ResolveDecisionPath(words[1]);
  ThrowNotImplemented(words);
}

void CmdSolveAllSplits(const WordList& words) {
  if (words[1] != "rivers" && words[1] != "turns") ThrowArgumentError(words[0]);
  // Split solving changes the stores and the iteration count a solver uses.
  if (!g_tree_present || !g_solver_state) ThrowRefusal("missing/incorrect tree");
  RefuseWhileSolverRuns();
  solve_subgames(words[1] == "rivers" ? 3 : 2);
  ReplyOk(words);
}
