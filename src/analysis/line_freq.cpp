#include "analysis/line_freq.h"

#include <omp.h>

#include <algorithm>
#include <limits>
#include <new>

#include "analysis/equity.h"
#include "analysis/combo_ev.h"
#include "analysis/dealt_board.h"
#include "analysis/forgotten_subgames.h"
#include "analysis/query_lock.h"
#include "analysis/store_readiness.h"
#include "solver/array_ops.h"
#include "solver/libsubgame.h"
#include "cards/suit_isomorphism.h"
#include "solver/solver_state.h"
#include "solver/terminal_kernels.h"
#include "store/index_maps.h"
#include "tree/node_path.h"
#include "tree/tree_records.h"

namespace {

constexpr double kQuietNan = std::numeric_limits<double>::quiet_NaN();

// Hand-steps of a group's walks from which the walks run on the OpenMP team.
constexpr int64_t kParallelWalkWork = int64_t{1} << 22;

// own(h) x the opponent's reach over the hands sharing no card with h, per hand
// of the board; zeros where either reach is absent or does not fit the board.
void MatchupWeights(const BoardHands& board, const NumArray& own, const NumArray& opp,
                    NumArray& out) {
  const int32_t n = board.HandCount();
  out.AssignZeros(n);
  if (!own.HasData() || !opp.HasData() || own.count != n || opp.count != n) return;
  Kernels<TerminalKernels>().ComputeBlockedReach(out.data, opp.data, n, board.hand_cards->data(),
                                                 1.0);
  for (int32_t h = 0; h < n; ++h) out.data[h] *= own.data[h];
}

// A node on a forgotten street is re-solved for the board first, unless it
// is the street's root: the walk to it reads no store of the forgotten street,
// and a river line of a flop tree would otherwise re-solve all 2,352 boards.
void ReadyNodeForBoard(SolverState& state, TreeNode& node, int32_t turn_card, int32_t river_card) {
  if (state.first_forgotten_street == STREET_NONE || node.street < state.first_forgotten_street ||
      &ForgottenStreetRoot(state, node) == &node)
    return;
  DealtBoard dealt;
  ResolveDealtBoard(state, node, turn_card, river_card, dealt);
  RebuildForgottenSubtree(state, node, dealt);
}

double SumWithoutNan(const double* values) {
  double sum = 0.0;
  for (int c = 0; c < kComboCount; ++c)
    if (values[c] == values[c]) sum += values[c];
  return sum;
}

}  // namespace

void ComputeNodeFrequencies(SolverState* state, Player player, int32_t node_index,
                            int32_t turn_card, int32_t river_card, double* out) {
  if (!state || !state->deal_tree || node_index < 0 ||
      static_cast<size_t>(node_index) >= state->nodes.size())
    return;
  EnsureStoresAllocated(*state);
  TreeNode& node = state->nodes[static_cast<size_t>(node_index)];
  const BoardHands board = FindBoardHands(*state, turn_card, river_card);
  ReadyNodeForBoard(*state, node, turn_card, river_card);

  NumArray reach[2];
  {
    NodeValuesAccess access(*state, node, board.turn_slot, StreetAccess::kRead);
    ReachAtNode(*state, node, board.turn_slot, board.river_slot, reach);
  }
  NumArray frequency;
  MatchupWeights(board, reach[player], reach[Opponent(player)], frequency);
  Kernels<ArrayOpsKernels>().ScaleArray(frequency, board.runouts);

  double canonical[kComboCount];
  Kernels<IndexMapsKernels>().ExpandHandsToCombos(canonical, frequency, board.combo_map, true);
  if (state->flags & ISOMORPHISM_ON) {
    PermuteComboArrayBySuits(state->flop_mask, turn_card >= 0 ? CardBit(turn_card) : 0,
                             river_card >= 0 ? CardBit(river_card) : 0, out, canonical, true);
  } else {
    std::copy(canonical, canonical + kComboCount, out);
  }
  const std::vector<double>& range = state->ranges[player];
  for (int c = 0; c < kComboCount; ++c)
    if (static_cast<size_t>(c) >= range.size() || range[c] == 0.0) out[c] = kQuietNan;
}

double SumNodeFrequencies(SolverState* state, int32_t node_index, int32_t turn_card,
                          int32_t river_card) {
  std::vector<double> values(kComboCount, 0.0);
  ComputeNodeFrequencies(state, PLAYER_OOP, node_index, turn_card, river_card, values.data());
  return SumWithoutNan(values.data());
}

Street LineStreet(const SolverState& state, const ResolvedPath& path) {
  const Street by_cards = path.river_card >= 0  ? STREET_RIVER
                          : path.turn_card >= 0 ? STREET_TURN
                                                : STREET_FLOP;
  // A path that stops where its street's card is still to come (or a
  // showdown after an all-in) names no card of the node's street.
  const int32_t index = static_cast<int32_t>(path.node->entry_index);
  const Street own = index >= 0 && static_cast<size_t>(index) < state.nodes.size()
                         ? state.nodes[static_cast<size_t>(index)].street
                         : STREET_FLOP;
  return std::max(by_cards, own);
}

void ComputeLineFrequency(SolverState* state, const ResolvedPath& path, double* sum) {
  if (!state || !path.node) return;
  const int32_t node = static_cast<int32_t>(path.node->entry_index);
  const Street street = LineStreet(*state, path);
  const CardMask board = state->board_mask;
  const Street start = state->nodes[0].street;
  if (start == street) {
    *sum += SumNodeFrequencies(state, node, path.turn_card, path.river_card);
  } else if (start == STREET_FLOP && street == STREET_TURN) {
    for (int t = 0; t < kCardCount; ++t)
      if (!(board & CardBit(t))) *sum += SumNodeFrequencies(state, node, t, -1);
  } else if (start == STREET_TURN && street == STREET_RIVER) {
    for (int r = 0; r < kCardCount; ++r)
      if (!(board & CardBit(r))) *sum += SumNodeFrequencies(state, node, path.turn_card, r);
  }
}

std::vector<std::vector<uint16_t>> MakeRunoutList(uint64_t board) {
  std::vector<std::vector<uint16_t>> groups;
  for (int t = 0; t < kCardCount; ++t) {
    if (board & CardBit(t)) continue;
    std::vector<uint16_t>& group = groups.emplace_back();
    for (int r = 0; r < kCardCount; ++r)
      if (r != t && !(board & CardBit(r))) group.push_back(static_cast<uint16_t>(t << 8 | r));
  }
  return groups;
}

double CalcRiverLineFrequency(SolverState* state, int32_t node_index,
                              const std::vector<std::vector<uint16_t>>& runouts) {
  if (!state || !state->deal_tree || node_index < 0 ||
      static_cast<size_t>(node_index) >= state->nodes.size())
    return 0.0;
  EnsureStoresAllocated(*state);
  TreeNode& node = state->nodes[static_cast<size_t>(node_index)];
  int64_t line_length = 1;
  for (const TreeNode* at = &node; at->parent; at = at->parent) ++line_length;
  double total = 0.0;
  std::vector<double> results;
  for (const std::vector<uint16_t>& group : runouts) {
    if (group.empty()) continue;
    const int32_t count = static_cast<int32_t>(group.size());
    // Boards and re-solves first, in runout order, on this thread.
    std::vector<BoardHands> boards;
    boards.reserve(group.size());
    int32_t turn_slot = -1;
    for (const uint16_t entry : group) {
      const int turn = entry >> 8, river = entry & 0xFF;
      boards.push_back(FindBoardHands(*state, turn, river));
      ReadyNodeForBoard(*state, node, turn, river);
      if (turn_slot < 0 && boards.back().river_slot >= 0) turn_slot = boards.back().turn_slot;
    }
    // No runout of the group reaches a dealt river: nothing to add.
    if (turn_slot < 0) continue;
    results.assign(group.size(), 0.0);
    {
      // The group's river values stay open while its runouts are walked.
      NodeValuesAccess access(*state, node, turn_slot, StreetAccess::kRead);
      // An exception may not leave the parallel region: it is noted and
      // raised once the region is over.
      bool out_of_memory = false;
      // A walk costs about one pass over the hands per step of the line; a
      // group whose walks take less than a team's start and end runs on this
      // thread (measured: a flop tree's 2,352 river walks take ~10 ms in all).
      const int64_t work = static_cast<int64_t>(count) * line_length *
                           static_cast<int64_t>(boards.front().HandCount());
      const int team = work > kParallelWalkWork ? TeamSizeThatFits() : 1;
#pragma omp parallel for schedule(dynamic, 1) num_threads(team) if (team > 1)
      for (int32_t k = 0; k < count; ++k) {
        const BoardHands& board = boards[static_cast<size_t>(k)];
        if (board.river_slot < 0) continue;
        try {
          NumArray reach[2], weights;
          ReachAtNode(*state, node, board.turn_slot, board.river_slot, reach);
          MatchupWeights(board, reach[PLAYER_OOP], reach[PLAYER_IP], weights);
          results[static_cast<size_t>(k)] = weights.Sum();
        } catch (const std::bad_alloc&) {
#pragma omp atomic write
          out_of_memory = true;
        }
      }
      if (out_of_memory) throw std::bad_alloc();
    }
    for (const double r : results) total += r;
  }
  return total;
}
