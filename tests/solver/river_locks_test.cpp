// Lock records on the 16-bit river boards of a flop tree in solving passes: the
// traverser's node updates an unlocked board in one fused pass over its rows,
// and takes the general way on a board with a lock or a combination mask. Both
// ways must leave the same bits where nothing is locked, a locked board must
// keep its regrets, and masked hands theirs. Evaluation passes, whose best
// response follows the strategy on locked boards and hands, must give the
// recursive walk's figures with the river boards taken in sweeps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "solver/river_board_pass.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/tree_pass.h"
#include "store/arena_store.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {


// Checked down to the river, where OOP checks and IP checks behind or bets 10
// into a call or a fold: IP's river node has two actions on every river board.
reference_game::Spot RiverBetSpot() {
  return reference_game::MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d 4s3s",
                                  "AhAs KcKd JcJd Th9h 6d5d 8c8s Kd7c QsJs", 60,
                                  {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 10}});
}

class RiverLocksTest : public TreeBuildTest {
 protected:
  // Builds the spot, allocates every store as go does and runs a few
  // iterations, so that the regrets hold something.
  static void BuildAndSolve() {
    ResetSituation();
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(RiverBetSpot()));
    SolverState& state = State();
    double out[2];
    for (int i = 0; i < 3; ++i) {
      TraverseTree(&state, out, PLAYER_IP, PASS_SOLVE);
      TraverseTree(&state, out, PLAYER_OOP, PASS_SOLVE);
      ++state.iterations;
    }
  }

  // IP's two-action river node.
  static TreeNode& IpRiverNode() {
    for (TreeNode& node : State().nodes)
      if (node.kind == DECISION_NODE && node.street == STREET_RIVER && node.player == PLAYER_IP &&
          node.children.size() == 2 && node.regret_store->AsArenaStore16())
        return node;
    ADD_FAILURE() << "no two-action IP river node";
    return State().nodes[0];
  }

  struct Board {
    int32_t i, j;
  };
  static std::vector<Board> Boards() {
    std::vector<Board> boards;
    const DealTree& deal = *State().deal_tree;
    for (size_t i = 0; i < deal.turn_records.size(); ++i)
      for (size_t j = 0; j < deal.turn_records[i].river_records.size(); ++j)
        boards.push_back({static_cast<int32_t>(i), static_cast<int32_t>(j)});
    return boards;
  }

  // The node's regret rows, board by board, action by action.
  static std::vector<std::vector<uint16_t>> Rows(TreeNode& node) {
    std::vector<std::vector<uint16_t>> rows;
    ArenaStore16* store = node.regret_store ? node.regret_store->AsArenaStore16() : nullptr;
    if (!store) return rows;
    for (const Board& b : Boards()) {
      uint16_t* row[2];
      int32_t hands = 0;
      EXPECT_TRUE(store->BoardRows(b.i, b.j, row, &hands));
      for (int a = 0; a < 2; ++a) rows.emplace_back(row[a], row[a] + hands);
    }
    return rows;
  }

  static void SetMask(NodeLockRecord& record, int32_t hands, bool every_other) {
    record.FreeMask();
    record.mask_length = hands;
    record.mask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(hands)));
    for (int32_t h = 0; h < hands; ++h) record.mask[h] = every_other ? h % 2 : 0;
  }

  static std::vector<double> SolveIp() {
    double out[2];
    TraverseTree(&State(), out, PLAYER_IP, PASS_SOLVE);
    return {out[0], out[1]};
  }

  // Both players' EV and MES by evaluation passes, river boards in sweeps or by
  // the recursive walk.
  static std::vector<double> Evaluate(bool sweeps) {
    g_river_board_sweeps = sweeps;
    std::vector<double> figures;
    for (Player player : {PLAYER_OOP, PLAYER_IP}) {
      double out[2];
      TraverseTree(&State(), out, player, PASS_EVALUATE);
      figures.push_back(out[0]);
      figures.push_back(out[1]);
    }
    g_river_board_sweeps = true;
    return figures;
  }
};

TEST_F(RiverLocksTest, FusedAndGeneralUpdatesAgreeAndLocksHold) {
  // Fused everywhere.
  ASSERT_NO_FATAL_FAILURE(BuildAndSolve());
  const std::vector<std::vector<uint16_t>> start = Rows(IpRiverNode());
  const std::vector<double> fused_values = SolveIp();
  const std::vector<std::vector<uint16_t>> fused = Rows(IpRiverNode());
  ASSERT_NE(fused, start) << "the pass must move some regret";

  // A mask that locks no hand sends every board the general way: the same bits.
  ASSERT_NO_FATAL_FAILURE(BuildAndSolve());
  TreeNode& node = IpRiverNode();
  for (const Board& b : Boards())
    SetMask(*node.regret_store->GetLockRecord(b.i, b.j),
            node.regret_store->GetHandCount(b.i, b.j), false);
  ASSERT_EQ(Rows(node), start);
  EXPECT_EQ(SolveIp(), fused_values);
  EXPECT_EQ(Rows(node), fused);

  // A locked board keeps its regrets, masked hands keep theirs, and the other
  // boards are updated as before. Locked and masked are the boards whose
  // regrets (the odd hands' for the mask) the pass moved most.
  const std::vector<Board> boards = Boards();
  auto moved = [&](size_t b, bool odd_hands_only) {
    int32_t count = 0;
    for (size_t row = 2 * b; row < 2 * b + 2; ++row)
      for (size_t h = odd_hands_only; h < start[row].size(); h += odd_hands_only ? 2 : 1)
        count += fused[row][h] != start[row][h];
    return count;
  };
  size_t locked_board = 0, masked_board = 1;
  for (size_t b = 0; b < boards.size(); ++b)
    if (moved(b, false) > moved(locked_board, false)) locked_board = b;
  if (masked_board == locked_board) masked_board = 0;
  for (size_t b = 0; b < boards.size(); ++b)
    if (b != locked_board && moved(b, true) > moved(masked_board, true)) masked_board = b;
  ASSERT_GT(moved(locked_board, false), 4);
  ASSERT_GT(moved(masked_board, true), 4);

  ASSERT_NO_FATAL_FAILURE(BuildAndSolve());
  TreeNode& again = IpRiverNode();
  const Board lb = boards[locked_board], mb = boards[masked_board];
  again.regret_store->GetLockRecord(lb.i, lb.j)->flags |= LOCKED;
  NodeLockRecord& masked = *again.regret_store->GetLockRecord(mb.i, mb.j);
  masked.flags |= COMBO_LOCKED;
  SetMask(masked, again.regret_store->GetHandCount(mb.i, mb.j), true);
  SolveIp();
  const std::vector<std::vector<uint16_t>> after = Rows(again);
  for (size_t b = 0; b < boards.size(); ++b)
    for (size_t a = 0; a < 2; ++a) {
      const size_t row = 2 * b + a;
      if (b == locked_board) {
        EXPECT_EQ(after[row], start[row]) << "locked board, action " << a;
      } else if (b == masked_board) {
        for (size_t h = 1; h < after[row].size(); h += 2)
          EXPECT_EQ(after[row][h], start[row][h]) << "masked hand " << h << ", action " << a;
      } else {
        EXPECT_EQ(after[row], fused[row]) << "board " << b << ", action " << a;
      }
    }
}

TEST_F(RiverLocksTest, EvaluationSweepsGiveTheWalksFiguresOnLockedAndMaskedBoards) {
  ASSERT_NO_FATAL_FAILURE(BuildAndSolve());
  const std::vector<double> plain = Evaluate(false);
  EXPECT_EQ(Evaluate(true), plain);

  // A locked board and a board with every other hand locked: the best
  // response there mixes the strategy in, which the sweeps leave to the walk.
  TreeNode& node = IpRiverNode();
  const std::vector<Board> boards = Boards();
  ASSERT_GE(boards.size(), 2u);
  node.regret_store->GetLockRecord(boards[0].i, boards[0].j)->flags |= LOCKED;
  NodeLockRecord& masked = *node.regret_store->GetLockRecord(boards[1].i, boards[1].j);
  masked.flags |= COMBO_LOCKED;
  SetMask(masked, node.regret_store->GetHandCount(boards[1].i, boards[1].j), true);
  const std::vector<double> locked = Evaluate(false);
  EXPECT_NE(locked, plain) << "the locks must change IP's best response";
  EXPECT_EQ(Evaluate(true), locked);
}

}  // namespace
