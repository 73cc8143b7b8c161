#include "solver/solver_preparation.h"

#include <cfloat>
#include <memory>
#include <new>
#include <utility>

#include "cards/situation.h"
#include "platform/memory_status.h"
#include "protocol/reply.h"
#include "solver/progress_history.h"
#include "solver/solver_constants.h"
#include "solver/solver_state.h"
#include "store/store_constants.h"
#include "tree/node_stores.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

void SetTreeConstants(Street root_street) {
  g_early_river_iterations = 0;
  g_payoff_numerator = kPayoffNumerator;
  g_iteration_cap = kIterationCap;
  const bool river = root_street == STREET_RIVER;
  g_discount_exponent = river ? kRiverDiscountExponent : kDiscountExponent;
  g_discount_cap = river ? DBL_MAX : kDiscountCap;
}

}  // namespace

SolverState* CreateGameTree(int32_t storage_kind, const LineEntry* entries, size_t count,
                            int32_t deal_flag, int flop0, int flop1, int flop2, int turn, int river,
                            const std::vector<double>& oop_range,
                            const std::vector<double>& ip_range, bool isomorphism) {
  // Built aside and installed only when complete, so a refused board or an
  // isomorphism error leaves the previous tree as it was.
  auto state = std::make_unique<SolverState>(storage_kind, deal_flag);
  // The end values were computed with this pot; later set_pot calls must not
  // shift the figures printed for this tree.
  state->root_pot = g_pot[2];
  BuildGameTree(*state, entries, count, flop0, flop1, flop2, turn, river, oop_range, ip_range,
                isomorphism);

  FreeSolverState();
  g_solver_state = std::move(state);
  SetTreeConstants(g_solver_state->nodes[0].street);
  g_solver_state->coder_kinds[0] = g_solver_state->coder_kinds[1] = 0;
  g_solver_state->payoff_scale = g_payoff_numerator / g_solver_state->max_terminal_value;
  return g_solver_state.get();
}

void PrepareSolver(const CompressionKinds& kinds) {
  SolverState* state = g_solver_state.get();
  if (!state || state->nodes.empty()) return;

  g_iteration_cap = kIterationCap;
  const Street root_street = state->nodes[0].street;
  if (root_street < STREET_TURN) {
    g_discount_exponent = kDiscountExponent;
    g_discount_cap = kDiscountCap;
    state->coder_kinds[0] = kinds.regret_kind;
    state->coder_kinds[1] = kinds.strategy_kind;
  } else {
    // Turn- and river-rooted trees are small enough to keep uncompressed.
    state->coder_kinds[0] = 0;
    state->coder_kinds[1] = 0;
    const bool river = root_street == STREET_RIVER;
    g_discount_exponent = river ? kRiverDiscountExponent : kDiscountExponent;
    g_discount_cap = river ? DBL_MAX : kDiscountCap;
  }
  g_early_river_iterations = kinds.regret_kind >= 2 ? kEarlyRiverIterations : 0;
  g_payoff_numerator = kPayoffNumerator;
  state->payoff_scale = g_payoff_numerator / state->max_terminal_value;

  CreateAllNodeStores(*state);
  state->iterations = 0;
  g_storage_read_bytes = 0;
  g_storage_write_bytes = 0;
  // The progress of earlier runs belongs to the stores just discarded.
  ClearProgressHistory();
}

std::unique_ptr<StorageCounterBlock> CopyStorageCounters() {
  const SolverState* state = g_solver_state.get();
  if (!state) return nullptr;
  std::unique_ptr<StorageCounterBlock> copy(new (std::nothrow) StorageCounterBlock);
  if (!copy) return nullptr;
  for (int s = 0; s < 4; ++s) {
    copy->counters[s] = state->storage_counters[s];
    copy->totals[s] = state->storage_totals[s];
  }
  copy->average_actions = state->average_actions;
  copy->max_actions = state->max_actions;
  return copy;
}


int32_t ComputeAutoCompressionLevel() {
  PrepareSolver(CompressionKinds{0, 0});
  int64_t need = 0;
  if (const std::unique_ptr<StorageCounterBlock> counters = CopyStorageCounters())
    need = static_cast<int64_t>(counters->totals[1] + counters->totals[2] + counters->totals[3]);
  // Nothing readable about the memory: budget 0, the tightest level.
  MemoryStatus status;
  const int64_t budget =
      QueryMemoryStatus(&status) ? CompressionBudget(status.total_bytes, status.load_percent) : 0;
  const int32_t level = ChooseCompressionLevel(need, budget, SuitCount(g_board_flop));
  PrintReply("#auto compression level %d\n", level);
  return level;
}
