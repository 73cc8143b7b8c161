#pragma once
// Realistic 16-bit rows for the coder and block benchmarks: the river regrets
// of a flop tree with full ranges after 30 solving iterations, taken as a block
// store keeps them (player 0's rows of turn slot 0, node by node, action by
// action, board by board, the previous board's row as reference when it has
// at least as many hands).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "solver/current_iteration.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "store/arena_store.h"
#include "support/solve_driver.h"
#include "support/tree_spot.h"
#include "tree/tree_records.h"

struct RiverRow {
  std::vector<uint16_t> values;
  int32_t reference = -1;  // index of the reference row, -1 none
};

struct RiverRows {
  std::vector<RiverRow> rows;
  size_t values = 0;
  bool ok = false;

  const uint16_t* Reference(const RiverRow& row) const {
    return row.reference < 0 ? nullptr : rows[static_cast<size_t>(row.reference)].values.data();
  }

  RiverRows() {
    const LineShape shape{100.0, 250.0, {0.5}, false, 2};
    SetUpTreeSpot("Ks 7s 2d", shape);
    if (Run("build_tree") != "build_tree ok!\n") return;
    SolverState& state = *g_solver_state;
    for (TreeNode& node : state.nodes) {
      if (!node.regret_store) continue;
      if (!node.regret_store->Allocate()) return;
      if (node.strategy_store && !node.strategy_store->Allocate()) return;
      node.materialised = 1;
    }
    state.stores_allocated = 1;
    for (int i = 0; i < 30; ++i) {
      double out[2];
      TraverseTree(&state, out, PLAYER_IP, PASS_SOLVE);
      TraverseTree(&state, out, PLAYER_OOP, PASS_SOLVE);
      g_current_iteration = ++state.iterations;
    }
    for (TreeNode& node : state.nodes) {
      if (node.kind != DECISION_NODE || node.street != 3 || node.player != 0) continue;
      ArenaStore16* store = node.regret_store ? node.regret_store->AsArenaStore16() : nullptr;
      if (!store) continue;
      const BoardLayout* layout = store->layout();
      const int32_t boards = layout->turn_index[0].board_count;
      for (int32_t a = 0; a < layout->actions; ++a) {
        for (int32_t j = 0; j < boards; ++j) {
          std::vector<uint16_t*> board_rows(layout->actions);
          int32_t hands = 0;
          if (!store->BoardRows(0, j, board_rows.data(), &hands)) return;
          RiverRow row;
          row.values.assign(board_rows[a], board_rows[a] + hands);
          if (j > 0 && rows.back().values.size() >= static_cast<size_t>(hands))
            row.reference = static_cast<int32_t>(rows.size() - 1);
          values += hands;
          rows.push_back(std::move(row));
        }
      }
    }
    ok = !rows.empty();
  }
};

// Built once per benchmark program.
inline const RiverRows& TheRiverRows() {
  static const RiverRows rows;
  return rows;
}
