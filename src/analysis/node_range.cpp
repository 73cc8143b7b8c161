#include "analysis/node_range.h"

#include <cmath>
#include <algorithm>

#include "analysis/display_strategy.h"
#include "cards/situation.h"
#include "protocol/command_error.h"
#include "solver/solver_state.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"

namespace {

// The place of child among the node's children, in child order.
int32_t ChildPosition(const SchematicNode& node, const SchematicNode* child) {
  int32_t position = 0;
  for (const auto& entry : node.children) {
    if (entry.second.get() == child) return position;
    ++position;
  }
  return -1;
}

}  // namespace

const std::vector<double>& RootRange(const SolverState* state, Player player) {
  if (state && state->ranges[player].size() == static_cast<size_t>(kComboCount))
    return state->ranges[player];
  return g_ranges[player];
}

std::vector<double> ComputeNodeRange(SolverState* state, Player player, const std::string& path) {
  // The path is judged first: without a tree its error, not the ranges'.
  ResolvedPath resolved;
  if (!path.empty()) resolved = ResolveNodePath(state, path);
  const std::vector<double>& root = RootRange(state, player);
  if (root.size() != static_cast<size_t>(kComboCount)) ThrowRefusal("ranges not set");
  std::vector<double> range(root);
  if (!resolved.node) return range;
  const SchematicNode* previous = resolved.node;
  ResolvedPath cursor = GetParentPath(resolved);
  std::vector<double> strategy(kComboCount);
  while (cursor.node) {
    const SchematicNode& node = *cursor.node;
    if (!node.children.empty() && node.player == player) {
      const int32_t child = ChildPosition(node, previous);
      std::fill(strategy.begin(), strategy.end(), std::nan(""));
      GetDisplayStrategy(state, static_cast<int32_t>(node.entry_index), child, cursor.turn_card,
                         cursor.river_card, strategy.data());
      for (int c = 0; c < kComboCount; ++c) range[static_cast<size_t>(c)] *= strategy[static_cast<size_t>(c)];
    }
    previous = cursor.node;
    cursor = GetParentPath(cursor);
  }
  return range;
}

double ComputeReachProbability(SolverState* state, Player player, const std::string& path) {
  const std::vector<double> range = ComputeNodeRange(state, player, path);
  const std::vector<double>& root = RootRange(state, player);
  double reached = 0.0;
  double total = 0.0;
  for (int c = 0; c < kComboCount; ++c) {
    const double r = range[static_cast<size_t>(c)];
    if (std::isnan(r)) continue;
    reached += r;
    total += root[static_cast<size_t>(c)];
  }
  return reached / total;
}
