#include "solver/terminal_nodes.h"

#include <cassert>
#include <cstring>

#include "protocol/fail.h"
#include "solver/current_iteration.h"
#include "solver/solver_state.h"
#include "solver/terminal_kernels.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

enum class EndKind { kFold, kShowdown };

void MakeAbsent(NumArray& out, int32_t count) {
  out.Free();
  out.count = count;
}

bool UniformVariants() { return g_current_iteration.load(std::memory_order_relaxed) < 0; }

int32_t StrengthGroupCount(const RiverDealRecord& rec) {
  return static_cast<int32_t>(rec.strength_groups.size());
}

// The exact per-hand kernel of the end kind over the board's hands.
void RunPerHand(EndKind kind, const RiverDealRecord& rec, double* out, const double* in,
                double v) {
  const int32_t n = rec.HandCount();
  const TerminalKernels& kernels = Kernels<TerminalKernels>();
  if (kind == EndKind::kFold)
    kernels.ComputeBlockedReach(out, in, n, rec.hand_cards.data(), v);
  else
    kernels.ComputeShowdownValues(out, in, n, rec.strength_groups.data(),
                                  StrengthGroupCount(rec), rec.hand_cards.data(), v);
}

void EvaluateRiverEnd(EndKind kind, const RiverDealRecord& rec, NumArray& out,
                      const NumArray& in, double v, bool grouped) {
  const int32_t n = rec.HandCount();
  if (!in.HasData()) return MakeAbsent(out, n);
  assert(static_cast<int32_t>(rec.hand_cards.size()) == n);
  const TerminalKernels& kernels = Kernels<TerminalKernels>();

  if (rec.hand_group_flag == 0) {
    if (in.count != n) {
      assert(!"reach count differs from the board's hand count");
      return MakeAbsent(out, n);
    }
    out.Resize(n);
    if (!UniformVariants())
      RunPerHand(kind, rec, out.data, in.data, v);
    else if (kind == EndKind::kFold)
      kernels.ComputeBlockedReachUniform(out.data, in.data, n, v);
    else
      kernels.ComputeShowdownValuesUniform(out.data, in.data, n, rec.strength_groups.data(),
                                           StrengthGroupCount(rec), v);
    return;
  }

  // Hand groups: the input holds one summed reach per group.
  const int32_t m = static_cast<int32_t>(rec.group_sizes.size());
  if (in.count != m || rec.card_weights.size() < static_cast<size_t>(kCardCount) * m) {
    assert(!"group reach does not match the board's hand groups");
    return MakeAbsent(out, grouped ? m : n);
  }
  if (grouped) {
    out.Resize(m);
    const bool uniform = UniformVariants();
    if (kind == EndKind::kFold) {
      if (uniform)
        kernels.ComputeGroupBlockedReachUniform(out.data, in.data, v, rec.group_sizes.data(), m);
      else
        kernels.ComputeGroupBlockedReach(out.data, in.data, rec.card_weights.data(), v,
                                         rec.group_sizes.data(), m);
    } else {
      if (uniform)
        kernels.ComputeGroupShowdownValuesUniform(out.data, in.data, v, m);
      else
        kernels.ComputeGroupShowdownValues(out.data, in.data, rec.card_weights.data(), v, m);
    }
    return;
  }

  // Per-hand values from the group reach spread evenly over each group's hands.
  if (n > kMaxBoardHands) {
    assert(!"board with more hands than combinations");
    return MakeAbsent(out, n);
  }
  alignas(32) double spread[kMaxBoardHands];
  int32_t pos = 0;
  for (int32_t g = 0; g < m && pos < n; ++g) {
    const int32_t size = rec.group_sizes[g];
    if (size <= 0) continue;
    const double share = in.data[g] / size;
    for (int32_t k = 0; k < size && pos < n; ++k) spread[pos++] = share;
  }
  if (pos < n) std::memset(spread + pos, 0, sizeof(double) * static_cast<size_t>(n - pos));
  out.Resize(n);
  RunPerHand(kind, rec, out.data, spread, v);
}

const RiverDealRecord& CursorRiverRecord(const DealTree& deal, const NodeCursor& cursor) {
  if (cursor.turn_slot < 0 || static_cast<size_t>(cursor.turn_slot) >= deal.turn_records.size())
    Fail();
  const TurnDealRecord& turn = deal.turn_records[static_cast<size_t>(cursor.turn_slot)];
  if (cursor.river_slot < 0 || static_cast<size_t>(cursor.river_slot) >= turn.river_records.size())
    Fail();
  return turn.river_records[static_cast<size_t>(cursor.river_slot)];
}

// A fold on the flop or turn board: every hand of the list, no strength order.
void FoldOnBoard(NumArray& out, const NumArray& in, const std::vector<uint16_t>& hand_cards,
                 double v) {
  const int32_t n = static_cast<int32_t>(hand_cards.size());
  if (in.HasData() && in.count != n) {
    assert(!"reach count differs from the board's hand count");
    return MakeAbsent(out, n);
  }
  out.Resize(n);
  Kernels<TerminalKernels>().ComputeBlockedReach(out.data, in.data, n, hand_cards.data(), v);
}

}  // namespace

void EvaluateFold(const RiverDealRecord& rec, NumArray& out, const NumArray& in, double v,
                  bool grouped) {
  EvaluateRiverEnd(EndKind::kFold, rec, out, in, v, grouped);
}

void EvaluateShowdown(const RiverDealRecord& rec, NumArray& out, const NumArray& in, double v,
                      bool grouped) {
  EvaluateRiverEnd(EndKind::kShowdown, rec, out, in, v, grouped);
}

void TraverseTerminal(NodeCursor& cursor) {
  const SolverState& state = *cursor.state;
  const TreeNode& node = *cursor.node;
  if (!state.deal_tree) Fail();
  const DealTree& deal = *state.deal_tree;
  const bool fold = node.kind != SHOWDOWN_NODE;
  // The folding player loses the amount the other wins.
  const double v = fold && node.player == cursor.pass->player ? -node.value : node.value;
  const bool grouped = cursor.pass->mode == PASS_SOLVE;

  if (!fold) {
    // A showdown always lies on a dealt river.
    EvaluateShowdown(CursorRiverRecord(deal, cursor), cursor.out0, cursor.in0, v, grouped);
  } else if (cursor.river_slot >= 0) {
    EvaluateFold(CursorRiverRecord(deal, cursor), cursor.out0, cursor.in0, v, grouped);
  } else if (cursor.turn_slot >= 0) {
    if (static_cast<size_t>(cursor.turn_slot) >= deal.turn_records.size()) Fail();
    FoldOnBoard(cursor.out0, cursor.in0,
                deal.turn_records[static_cast<size_t>(cursor.turn_slot)].hand_cards, v);
  } else {
    FoldOnBoard(cursor.out0, cursor.in0, deal.hand_cards, v);
  }

  // At an end node the best response and the current strategies agree.
  if (cursor.pass->mode == PASS_EVALUATE) cursor.out1.CopyFrom(cursor.out0);
}

void EvaluateRiverEndPair(const RiverDealRecord& rec, NumArray& out_a, NumArray& out_b,
                          const NumArray& reach, double value_a, double value_b) {
  // The combined kernels work per hand; a grouped board's reach is per group.
  if (rec.hand_group_flag != 0) {
    EvaluateShowdown(rec, out_a, reach, value_a, true);
    EvaluateFold(rec, out_b, reach, value_b, true);
    return;
  }
  const int32_t n = rec.HandCount();
  if (!reach.HasData() || reach.count != n) {
    assert(!reach.HasData() && "reach count differs from the board's hand count");
    MakeAbsent(out_a, n);
    return MakeAbsent(out_b, n);
  }
  out_a.Resize(n);
  out_b.Resize(n);
  Kernels<TerminalKernels>().ComputeShowdownAndFold(
      out_a.data, out_b.data, reach.data, n, rec.strength_groups.data(), StrengthGroupCount(rec),
      rec.hand_cards.data(), value_a, value_b);
}

void EvaluateRiverEndPairWithReaches(const RiverDealRecord& rec, NumArray& out_a,
                                     NumArray& out_b, const NumArray& reach_a,
                                     const NumArray& reach_b, double value_a, double value_b) {
  if (rec.hand_group_flag != 0) {
    EvaluateShowdown(rec, out_a, reach_a, value_a, true);
    EvaluateFold(rec, out_b, reach_b, value_b, true);
    return;
  }
  const int32_t n = rec.HandCount();
  const bool bad_count = (reach_a.HasData() && reach_a.count != n) ||
                         (reach_b.HasData() && reach_b.count != n);
  if ((!reach_a.HasData() && !reach_b.HasData()) || bad_count) {
    assert(!bad_count && "reach count differs from the board's hand count");
    MakeAbsent(out_a, n);
    return MakeAbsent(out_b, n);
  }
  out_a.Resize(n);
  out_b.Resize(n);
  Kernels<TerminalKernels>().ComputeShowdownAndFoldPair(
      out_a.data, out_b.data, reach_a.data, reach_b.data, n, rec.strength_groups.data(),
      StrengthGroupCount(rec), rec.hand_cards.data(), value_a, value_b);
}
