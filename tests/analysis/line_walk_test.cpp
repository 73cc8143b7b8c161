// The line walk against the range walk: both players' reach at a target that
// WalkSubtree carries down from the root equals, hand by hand, the ranges
// that show_range composes from the displayed strategies.
#include "analysis/line_walk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/dealt_board.h"
#include "analysis/node_range.h"
#include "solver/node_cursor.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "support/solver_spots.h"
#include "tree/build_fixture.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"

namespace {

class LineWalkTest : public TreeBuildTest {};

// The child positions of the path's decisions, the child nearest the root last.
std::vector<int32_t> ChildPath(const ResolvedPath& resolved) {
  std::vector<int32_t> path;
  const SchematicNode* node = resolved.node;
  while (node->parent) {
    int32_t position = 0;
    for (const auto& entry : node->parent->children) {
      if (entry.second.get() == node) break;
      ++position;
    }
    path.push_back(position);
    node = node->parent;
  }
  return path;
}

TEST_F(LineWalkTest, ReachAtTheTargetIsTheRangeOfEachPlayer) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(solver_spots::SmallFlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(80));
  SolverState& state = State();
  for (const char* text : {"r:0", "r:0:b10", "r:0:c:c:3s:c", "r:0:c:c:3s:c:c:4d:c:b20",
                           "r:0:c:c:Qh:c:c:Td:b20"}) {
    const ResolvedPath resolved = ResolveNodePath(&state, text);
    TreeNode& target = state.nodes[resolved.node->entry_index];
    DealtBoard board;
    ASSERT_TRUE(ResolveDealtBoard(state, target, resolved.turn_card, resolved.river_card, board));
    std::vector<int32_t> path = ChildPath(resolved);
    NodeCursor root(&state, nullptr, &state.nodes[0], state.start_turn_slot,
                    state.start_river_slot);
    root.in1.AssignValues(state.root_hand_weights[PLAYER_OOP]);
    root.in0.AssignValues(state.root_hand_weights[PLAYER_IP]);
    NumArray reach[2];
    {
      std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
      WalkSubtree(root, target, board.turn_slot, board.river_slot, path, reach);
    }
    EXPECT_TRUE(path.empty()) << text;
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      ASSERT_EQ(reach[p].count, board.hand_count) << text;
      const std::vector<double> range = ComputeNodeRange(&state, p, text);
      for (int c = 0; c < kComboCount; ++c) {
        const int16_t hand = board.combo_map[c];
        if (hand < 0) continue;
        EXPECT_NEAR(reach[p].data[hand], range[static_cast<size_t>(c)], 1e-12) << text << " " << c;
      }
    }
  }
}

}  // namespace
