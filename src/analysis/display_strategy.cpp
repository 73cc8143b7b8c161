#include "analysis/display_strategy.h"

#include <algorithm>
#include <limits>

#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "cards/combo_tables.h"
#include "solver/solver_state.h"
#include "store/index_maps.h"
#include "tree/stored_strategy.h"
#include "tree/tree_records.h"

namespace {

// The display switches to the average strategy after this iteration: the sums
// fill from iteration 61 on and need a couple of iterations to mean anything.
constexpr int32_t kLastCurrentStrategyIteration = 62;

// Per action, per hand of the board: the strategy as shown.
std::vector<NumArray> ReadShownStrategy(SolverState& state, TreeNode& node,
                                        const DealtBoard& board) {
  const int32_t n = static_cast<int32_t>(node.children.size());
  std::vector<NumArray> rows;
  NodeValuesAccess access(state, node, board.turn_slot, StreetAccess::kRead);
  if (state.iterations > kLastCurrentStrategyIteration && node.strategy_store) {
    GetAverageStrategy(node, rows, board.turn_slot, board.river_slot);
  } else {
    const std::vector<float> uniform(static_cast<size_t>(n), 1.0f / static_cast<float>(n));
    rows = node.regret_store->GetStrategy(board.turn_slot, board.river_slot, uniform.data());
  }
  access.Close();
  return rows;
}

}  // namespace

void GetDisplayStrategies(SolverState* state, int32_t node_index, int32_t turn_card,
                          int32_t river_card, std::vector<std::vector<double>>& out) {
  if (!state || node_index < 0 || static_cast<size_t>(node_index) >= state->nodes.size()) return;
  TreeNode& node = state->nodes[static_cast<size_t>(node_index)];
  if (node.kind != DECISION_NODE || node.children.empty()) return;
  const size_t n = node.children.size();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  out.assign(n, std::vector<double>(kComboCount, kNaN));

  EnsureStoresAllocated(*state);
  DealtBoard board;
  const bool on_board = ResolveDealtBoard(*state, node, turn_card, river_card, board);
  if (on_board) RebuildForgottenSubtree(*state, node, board);

  if (on_board && node.regret_store && node.materialised) {
    const std::vector<NumArray> rows = ReadShownStrategy(*state, node, board);
    const IndexMapsKernels& maps = Kernels<IndexMapsKernels>();
    std::vector<double> canonical(kComboCount);
    for (size_t a = 0; a < n && a < rows.size(); ++a) {
      maps.ExpandHandsToCombos(canonical.data(), rows[a], board.combo_map, true);
      ComboValuesToReal(*state, board, out[a].data(), canonical.data());
    }
  }

  // Combinations the acting player never holds show 0.
  const std::vector<double>& range = state->ranges[node.player];
  if (range.size() != static_cast<size_t>(kComboCount)) return;
  for (std::vector<double>& row : out)
    for (int c = 0; c < kComboCount; ++c)
      if (range[static_cast<size_t>(c)] == 0.0) row[static_cast<size_t>(c)] = 0.0;
}

void GetDisplayStrategy(SolverState* state, int32_t node_index, int32_t child,
                        int32_t turn_card, int32_t river_card, double* out) {
  std::vector<std::vector<double>> rows;
  GetDisplayStrategies(state, node_index, turn_card, river_card, rows);
  if (child < 0 || static_cast<size_t>(child) >= rows.size()) return;
  std::copy(rows[static_cast<size_t>(child)].begin(), rows[static_cast<size_t>(child)].end(), out);
}
