#include "solver/terminal_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cards/combo_tables.h"
#include "cards/poker_reference.h"
#include "platform/cpu_features.h"
#include "solver/current_iteration.h"
#include "solver/node_cursor.h"
#include "solver/solver_state.h"
#include "solver/terminal_nodes.h"
#include "support/kernel_builds.h"
#include "support/num_arrays.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

CardMask Cards(const char* text) { return ParseCardText(text); }
int Card(const char* text) { return __builtin_ctzll(ParseCardText(text)); }

const std::vector<double> kFullRange(kComboCount, 1.0);

// A deal tree for one river board given as five cards (flop, turn, river).
std::unique_ptr<DealTree> MakeRiverTree(const std::vector<int>& board, uint32_t flag,
                                        const std::vector<double>& range = kFullRange) {
  auto tree = std::make_unique<DealTree>();
  InitDealTree(*tree, CardBit(board[0]) | CardBit(board[1]) | CardBit(board[2]), flag, board[3],
               board[4], false);
  BuildNodeComboLists(*tree, range, range);
  return tree;
}
std::unique_ptr<DealTree> MakeRiverTree(const char* text, uint32_t flag,
                                        const std::vector<double>& range = kFullRange) {
  std::vector<int> cards;
  for (int i = 0; i < 5; ++i) cards.push_back(Card(std::string(text + 2 * i, 2).c_str()));
  return MakeRiverTree(cards, flag, range);
}
const RiverDealRecord& River(const DealTree& tree) {
  return tree.turn_records[0].river_records[0];
}

// Values from the rules of poker alone: each hand's best five of seven cards by
// the reference ranking, and every pair of hands tested for shared cards.
struct BruteForce {
  std::vector<CardMask> hands;
  std::vector<poker_reference::RefKey> keys;

  BruteForce(CardMask board, const std::vector<CardMask>& list) : hands(list) {
    for (CardMask hand : hands) {
      int cards[7], n = 0;
      for (int c = 0; c < 52; ++c)
        if ((board | hand) & CardBit(c)) cards[n++] = c;
      keys.push_back(poker_reference::RefBest(cards, n));
    }
  }
  std::vector<double> Fold(const std::vector<double>& r, double v) const {
    std::vector<double> out(hands.size(), 0.0);
    for (size_t i = 0; i < hands.size(); ++i)
      for (size_t j = 0; j < hands.size(); ++j)
        if (!(hands[i] & hands[j]) && r[j] > 0) out[i] += v * r[j];
    return out;
  }
  std::vector<double> Showdown(const std::vector<double>& r, double v) const {
    std::vector<double> out(hands.size(), 0.0);
    for (size_t i = 0; i < hands.size(); ++i)
      for (size_t j = 0; j < hands.size(); ++j) {
        if ((hands[i] & hands[j]) || !(r[j] > 0)) continue;
        if (keys[i] > keys[j]) out[i] += v * r[j];
        if (keys[i] < keys[j]) out[i] -= v * r[j];
      }
    return out;
  }
};

// Scale of a result: |v| times the counted reach.
double Scale(const std::vector<double>& r, double v) {
  double total = 0.0;
  for (double x : r)
    if (x > 0) total += x;
  return std::fabs(v) * total + 1e-300;
}

void ExpectClose(const double* got, const std::vector<double>& want, double scale,
                 const char* what) {
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_NEAR(got[i], want[i], 1e-9 * scale) << what << " hand " << i;
}

std::vector<double> RandomReach(std::mt19937& rng, size_t n) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> r(n);
  for (double& x : r) {
    const double pick = u(rng);
    x = pick < 0.3 ? 0.0 : pick < 0.4 ? 1e-6 * u(rng) : u(rng);
  }
  return r;
}

// The two builds, by their tables.
using Build = BuildUnderTest<TerminalKernels>;
std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kTerminalKernels,
                         isa_avx2::kTerminalKernels, isa_avx512::kTerminalKernels);
}

int32_t GroupCount(const RiverDealRecord& rec) {
  return static_cast<int32_t>(rec.strength_groups.size());
}

// Sets g_current_iteration for one scope.
struct IterationScope {
  int32_t saved;
  explicit IterationScope(int32_t value) : saved(g_current_iteration.load()) {
    g_current_iteration = value;
  }
  ~IterationScope() { g_current_iteration = saved; }
};

TEST(TerminalKernels, ExactValuesMatchBruteForce) {
  std::mt19937 rng(20240611);
  std::vector<std::vector<int>> boards;
  for (const char* fixed : {"2c3c4c7d8h", "AsKsQsJsTs", "7h7d7s2c2d", "9c9dKhKs5c"}) {
    std::vector<int> b;
    for (int i = 0; i < 5; ++i) b.push_back(Card(std::string(fixed + 2 * i, 2).c_str()));
    boards.push_back(b);
  }
  for (int k = 0; k < 8; ++k) {
    std::vector<int> deck(52);
    for (int c = 0; c < 52; ++c) deck[c] = c;
    std::shuffle(deck.begin(), deck.end(), rng);
    boards.emplace_back(deck.begin(), deck.begin() + 5);
  }
  std::bernoulli_distribution keep(0.5);
  std::uniform_real_distribution<double> payoff(-4.0, 4.0);
  for (size_t b = 0; b < boards.size(); ++b) {
    // Every other board plays with a partial range, so its hand list has gaps.
    std::vector<double> range = kFullRange;
    if (b % 2) {
      for (double& w : range) w = keep(rng) ? 1.0 : 0.0;
    }
    const auto tree = MakeRiverTree(boards[b], 0, range);
    const RiverDealRecord& rec = River(*tree);
    SCOPED_TRACE(CardMaskToText(rec.board));
    const BruteForce brute(rec.board, rec.hands);
    const int32_t n = rec.HandCount();
    const std::vector<double> r = RandomReach(rng, static_cast<size_t>(n));
    const double v = payoff(rng);
    const auto fold = brute.Fold(r, v);
    const auto showdown = brute.Showdown(r, v);
    const double scale = Scale(r, v);

    const NumArray in = MakeArray(r);
    NumArray out;
    EvaluateFold(rec, out, in, v, true);
    ASSERT_EQ(out.count, n);
    ExpectClose(out.data, fold, scale, "fold");
    EvaluateShowdown(rec, out, in, v, false);
    ASSERT_EQ(out.count, n);
    ExpectClose(out.data, showdown, scale, "showdown");

    for (const Build& build : Builds()) {
      SCOPED_TRACE(build.name);
      std::vector<double> got(static_cast<size_t>(n));
      build.ComputeBlockedReach(got.data(), r.data(), n, rec.hand_cards.data(), v);
      ExpectClose(got.data(), fold, scale, "fold");
      build.ComputeShowdownValues(got.data(), r.data(), n, rec.strength_groups.data(),
                                  GroupCount(rec), rec.hand_cards.data(), v);
      ExpectClose(got.data(), showdown, scale, "showdown");
    }
  }
}

// Deep in a solving pass most of the opponent's hands have no reach, near the
// root almost all have: the kernels walk differently in the two cases, and every
// output must match the rules in both, including whole strength groups without
// reach and single hands with it.
TEST(TerminalKernels, SparseAndDenseReachMatchBruteForce) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::bernoulli_distribution keep(0.4);
  for (const char* board : {"Kd9s5h5c2d", "2c3c4c7d8h", "AhJhTh4h4s"}) {
    std::vector<double> range = kFullRange;
    if (board[0] != 'K')
      for (double& w : range) w = keep(rng) ? 1.0 : 0.0;
    const auto tree = MakeRiverTree(board, 0, range);
    const RiverDealRecord& rec = River(*tree);
    const BruteForce brute(rec.board, rec.hands);
    const int32_t n = rec.HandCount();
    const int16_t* groups = rec.strength_groups.data();
    const uint16_t* cards = rec.hand_cards.data();
    for (double density : {0.0, 0.01, 0.1, 0.3, 0.74, 0.76, 0.95, 1.0}) {
      SCOPED_TRACE(std::string(board) + " density " + std::to_string(density));
      std::vector<double> ra(n), rb(n);
      for (int32_t i = 0; i < n; ++i) {
        ra[i] = u(rng) < density ? 0.01 + u(rng) : 0.0;
        rb[i] = u(rng) < density ? 0.01 + u(rng) : 0.0;
      }
      const double a = 1.75, b = -3.25;
      const auto showdown_a = brute.Showdown(ra, a), fold_a = brute.Fold(ra, b);
      const auto fold_b = brute.Fold(rb, b);
      for (const Build& build : Builds()) {
        SCOPED_TRACE(build.name);
        std::vector<double> out_a(n, 9.0), out_b(n, 9.0);
        build.ComputeBlockedReach(out_b.data(), ra.data(), n, cards, b);
        ExpectClose(out_b.data(), fold_a, Scale(ra, b), "fold");
        build.ComputeShowdownValues(out_a.data(), ra.data(), n, groups, GroupCount(rec), cards, a);
        ExpectClose(out_a.data(), showdown_a, Scale(ra, a), "showdown");
        build.ComputeShowdownAndFold(out_a.data(), out_b.data(), ra.data(), n, groups,
                                     GroupCount(rec), cards, a, b);
        ExpectClose(out_a.data(), showdown_a, Scale(ra, a), "combined showdown");
        ExpectClose(out_b.data(), fold_a, Scale(ra, b), "combined fold");
        build.ComputeShowdownAndFoldPair(out_a.data(), out_b.data(), ra.data(), rb.data(), n,
                                         groups, GroupCount(rec), cards, a, b);
        ExpectClose(out_a.data(), showdown_a, Scale(ra, a), "pair showdown");
        ExpectClose(out_b.data(), fold_b, Scale(rb, b), "pair fold");
      }
    }
  }
}

TEST(TerminalKernels, CombinedKernelsMatchTheirSeparateKernels) {
  std::mt19937 rng(7);
  const auto tree = MakeRiverTree("Kd9s5h5c2d", 0);
  const RiverDealRecord& rec = River(*tree);
  const int32_t n = rec.HandCount();
  const auto ra = RandomReach(rng, static_cast<size_t>(n));
  const auto rb = RandomReach(rng, static_cast<size_t>(n));
  const double a = 2.5, b = -1.5;
  const int16_t* groups = rec.strength_groups.data();
  const uint16_t* cards = rec.hand_cards.data();
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::vector<double> sd_a(n), fold_a(n), fold_b(n), out_a(n), out_b(n);
    build.ComputeShowdownValues(sd_a.data(), ra.data(), n, groups, GroupCount(rec), cards, a);
    build.ComputeBlockedReach(fold_a.data(), ra.data(), n, cards, b);
    build.ComputeBlockedReach(fold_b.data(), rb.data(), n, cards, b);

    build.ComputeShowdownAndFold(out_a.data(), out_b.data(), ra.data(), n, groups, GroupCount(rec),
                                 cards, a, b);
    ExpectClose(out_a.data(), sd_a, Scale(ra, a), "combined showdown");
    ExpectClose(out_b.data(), fold_a, Scale(ra, b), "combined fold");

    build.ComputeShowdownAndFoldPair(out_a.data(), out_b.data(), ra.data(), rb.data(), n, groups,
                                     GroupCount(rec), cards, a, b);
    ExpectClose(out_a.data(), sd_a, Scale(ra, a), "pair showdown");
    ExpectClose(out_b.data(), fold_b, Scale(rb, b), "pair fold");

    // One side without reach: that side is zero, the other unchanged.
    build.ComputeShowdownAndFoldPair(out_a.data(), out_b.data(), nullptr, rb.data(), n, groups,
                                     GroupCount(rec), cards, a, b);
    EXPECT_TRUE(std::all_of(out_a.begin(), out_a.end(), [](double x) { return x == 0.0; }));
    ExpectClose(out_b.data(), fold_b, Scale(rb, b), "pair fold alone");
  }

  // The wrappers size both outputs to the board, or leave both absent.
  NumArray out_a, out_b;
  const NumArray in_a = MakeArray(ra), in_b = MakeArray(rb);
  NumArray absent_copy;
  absent_copy.count = n;
  EvaluateRiverEndPair(rec, out_a, out_b, in_a, a, b);
  ASSERT_EQ(out_a.count, n);
  ASSERT_EQ(out_b.count, n);
  ExpectClose(out_a.data, [&] {
    std::vector<double> v(n);
    Kernels<TerminalKernels>().ComputeShowdownValues(v.data(), ra.data(), n, groups,
                                                     GroupCount(rec), cards, a);
    return v;
  }(), Scale(ra, a), "wrapper");
  EvaluateRiverEndPair(rec, out_a, out_b, absent_copy, a, b);
  EXPECT_FALSE(out_a.HasData());
  EXPECT_FALSE(out_b.HasData());
  EXPECT_EQ(out_a.count, n);
  EvaluateRiverEndPairWithReaches(rec, out_a, out_b, absent_copy, in_b, a, b);
  ASSERT_TRUE(out_a.HasData() && out_b.HasData());
  EXPECT_EQ(out_a[0], 0.0);
  EvaluateRiverEndPairWithReaches(rec, out_a, out_b, absent_copy, absent_copy, a, b);
  EXPECT_FALSE(out_a.HasData() || out_b.HasData());
  EXPECT_EQ(out_b.count, n);
}

// Hand groups: each group's value is the mean of the per-hand values when the
// group's reach is spread evenly over its hands.
TEST(TerminalKernels, GroupedKernelsAreMeansOverSpreadReach) {
  std::mt19937 rng(3);
  for (uint32_t flag : {1u, 2u}) {
    SCOPED_TRACE(flag);
    const auto tree = MakeRiverTree("Kh9h4s2dJh", flag);
    const RiverDealRecord& rec = River(*tree);
    const int32_t m = static_cast<int32_t>(rec.group_sizes.size());
    const auto group_reach = RandomReach(rng, static_cast<size_t>(m));
    const NumArray in = MakeArray(group_reach);
    for (bool showdown : {false, true}) {
      // The group kernel knows no strength inside a group: with flag 2 a group
      // mixes strengths, so only folds compare there.
      if (showdown && flag == 2) continue;
      NumArray per_group, per_hand;
      auto evaluate = showdown ? EvaluateShowdown : EvaluateFold;
      evaluate(rec, per_group, in, 1.75, true);
      evaluate(rec, per_hand, in, 1.75, false);
      ASSERT_EQ(per_group.count, m);
      ASSERT_EQ(per_hand.count, rec.HandCount());
      double scale = 0.0;
      for (double x : group_reach) scale += 1.75 * x;
      int32_t pos = 0;
      for (int32_t g = 0; g < m; ++g) {
        double mean = 0.0;
        for (int k = 0; k < rec.group_sizes[g]; ++k) mean += per_hand[pos++];
        mean /= rec.group_sizes[g];
        ASSERT_NEAR(per_group[g], mean, 1e-9 * scale) << "group " << g;
      }
      for (const Build& build : Builds()) {
        std::vector<double> got(static_cast<size_t>(m));
        if (showdown)
          build.ComputeGroupShowdownValues(got.data(), group_reach.data(), rec.card_weights.data(),
                                           1.75, m);
        else
          build.ComputeGroupBlockedReach(got.data(), group_reach.data(), rec.card_weights.data(),
                                         1.75, rec.group_sizes.data(), m);
        for (int32_t g = 0; g < m; ++g) ASSERT_NEAR(got[g], per_group[g], 1e-12 * scale);
      }
    }
  }
}

TEST(TerminalKernels, UniformVariantsOnlyBelowIterationZero) {
  const auto tree = MakeRiverTree("Ts8d5c3h2s", 0);
  const RiverDealRecord& rec = River(*tree);
  const int32_t n = rec.HandCount();
  ASSERT_EQ(n, 1081);
  const double v = 1.25;
  const NumArray ones = MakeArray(std::vector<double>(n, 1.0));
  NumArray out;
  // Full board, reach 1 everywhere: 990 of the 1081 hands avoid each hand.
  EvaluateFold(rec, out, ones, v, false);
  for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(out[i], v * 990, 1e-9 * v * 1081);
  {
    IterationScope uniform(-1);
    EvaluateFold(rec, out, ones, v, false);
    for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(out[i], v * 1081 * (990.0 / 1081), 1e-9);

    // Showdown without card removal: f * v * (weaker reach - stronger reach).
    std::mt19937 rng(5);
    const auto r = RandomReach(rng, static_cast<size_t>(n));
    EvaluateShowdown(rec, out, MakeArray(r), v, false);
    for (int32_t i = 0; i < n; ++i) {
      double expect = 0.0;
      for (int32_t j = 0; j < n; ++j) {
        if (rec.hand_values[j] < rec.hand_values[i]) expect += r[j];
        if (rec.hand_values[j] > rec.hand_values[i]) expect -= r[j];
      }
      ASSERT_NEAR(out[i], kUniformBlockFactor * v * expect, 1e-9 * Scale(r, v));
    }
  }
  const std::vector<double> groups = {0.5, 0.0, 2.0, 1.5};
  const std::vector<int16_t> sizes = {1, 2, 3, 4};
  std::vector<double> got(4);
  Kernels<TerminalKernels>().ComputeGroupBlockedReachUniform(got.data(), groups.data(), 2.0,
                                                             sizes.data(), 4);
  for (double x : got) EXPECT_NEAR(x, 2.0 * kUniformBlockFactor * 4.0, 1e-12);
  Kernels<TerminalKernels>().ComputeGroupShowdownValuesUniform(got.data(), groups.data(), 2.0, 4);
  const double want[4] = {-3.5, 0.5 - 3.5, 0.5 - 1.5, 2.5};
  for (int g = 0; g < 4; ++g) EXPECT_NEAR(got[g], 2.0 * kUniformBlockFactor * want[g], 1e-12);
}

TEST(TerminalKernels, ZeroThresholdsAndTies) {
  const auto tree = MakeRiverTree("AsKsQsJsTs", 0);  // the board plays: all hands tie
  const RiverDealRecord& rec = River(*tree);
  const int32_t n = rec.HandCount();
  ASSERT_EQ(rec.strength_groups.size(), 1u);
  std::mt19937 rng(11);
  const auto r = RandomReach(rng, static_cast<size_t>(n));
  NumArray out;
  EvaluateShowdown(rec, out, MakeArray(r), 3.0, false);
  for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(out[i], 0.0, 1e-12 * Scale(r, 3.0));

  // A total of 1e-39 after the payoff: below FLT_MIN, far above DBL_MIN.
  const auto other = MakeRiverTree("Kd9s5h4c2d", 0);
  const RiverDealRecord& board = River(*other);
  std::vector<double> tiny(static_cast<size_t>(board.HandCount()), 0.0);
  tiny[17] = 1e-39;
  NumArray sd, fold, a, b;
  EvaluateShowdown(board, sd, MakeArray(tiny), 1.0, false);
  EvaluateFold(board, fold, MakeArray(tiny), 1.0, false);
  EvaluateRiverEndPair(board, a, b, MakeArray(tiny), 1.0, 1.0);
  int real = 0;
  for (int32_t i = 0; i < board.HandCount(); ++i) {
    ASSERT_EQ(sd[i], 0.0);
    ASSERT_EQ(a[i], 0.0);
    ASSERT_EQ(b[i], 0.0);
    const bool blocked = (board.hands[i] & board.hands[17]) != 0;
    ASSERT_NEAR(fold[i], blocked ? 0.0 : 1e-39, 1e-52);
    real += fold[i] > 0;
  }
  EXPECT_EQ(real, 990);
  // No reach at all: zeros.
  EvaluateFold(board, fold, MakeArray(std::vector<double>(board.HandCount(), 0.0)), 1.0, false);
  EXPECT_TRUE(std::all_of(fold.data, fold.data + fold.count, [](double x) { return x == 0.0; }));

  // Reach only on the weakest group: stronger hands win it (less what they
  // block), the weakest hands tie among themselves.
  std::vector<double> weakest(static_cast<size_t>(board.HandCount()), 0.0);
  const int first = board.strength_groups[0];
  for (int i = 0; i < first; ++i) weakest[i] = 0.5;
  EvaluateShowdown(board, sd, MakeArray(weakest), 2.0, false);
  for (int32_t i = 0; i < board.HandCount(); ++i) {
    double expect = 0.0;
    if (i >= first)
      for (int j = 0; j < first; ++j)
        if (!(board.hands[i] & board.hands[j])) expect += 2.0 * 0.5;
    ASSERT_NEAR(sd[i], expect, 1e-12);
  }
}

TEST(TerminalKernels, MostStrengthGroupsFitTheWorkingArea) {
  const auto tree = MakeRiverTree("2c3c4c7d8h", 0);
  const RiverDealRecord& rec = River(*tree);
  ASSERT_EQ(rec.HandCount(), 1081);
  EXPECT_EQ(rec.strength_groups.size(), 136u);
  std::mt19937 rng(13);
  const auto r = RandomReach(rng, 1081);
  const BruteForce brute(rec.board, rec.hands);
  NumArray out;
  EvaluateShowdown(rec, out, MakeArray(r), -1.0, false);
  ExpectClose(out.data, brute.Showdown(r, -1.0), Scale(r, 1.0), "showdown");

  // Every hand its own strength group, over the most hands a board can have:
  // hands in ComboIndex order on an empty board, each a group of one.
  std::vector<uint16_t> cards;
  std::vector<CardMask> masks;
  for (int hi = 1; hi < 52; ++hi)
    for (int lo = 0; lo < hi; ++lo) {
      cards.push_back(static_cast<uint16_t>(lo | hi << 8));
      masks.push_back(CardBit(lo) | CardBit(hi));
    }
  ASSERT_EQ(cards.size(), static_cast<size_t>(kMaxBoardHands));
  const std::vector<int16_t> singles(kMaxBoardHands, 1);
  const auto reach = RandomReach(rng, kMaxBoardHands);
  for (const Build& build : Builds()) {
    std::vector<double> got(kMaxBoardHands);
    build.ComputeShowdownValues(got.data(), reach.data(), kMaxBoardHands, singles.data(),
                                kMaxBoardHands, cards.data(), 1.0);
    for (int i = 0; i < kMaxBoardHands; i += 97) {
      double expect = 0.0;
      for (int j = 0; j < kMaxBoardHands; ++j)
        if (!(masks[i] & masks[j]) && reach[j] > 0) expect += j < i ? reach[j] : -reach[j];
      ASSERT_NEAR(got[i], expect, 1e-9 * Scale(reach, 1.0));
    }
  }
}

TEST(TerminalKernels, TraverseTerminalPayoffsBoardsAndModes) {
  SolverState state(1, 0);
  PassContext context;
  state.deal_tree = MakeRiverTree("Qc8d6h4s3c", 0);
  const RiverDealRecord& rec = River(*state.deal_tree);
  const int32_t n = rec.HandCount();
  TreeNode showdown, fold;
  showdown.kind = SHOWDOWN_NODE;
  showdown.value = 5.0;
  showdown.street = STREET_RIVER;
  fold.kind = FOLD_NODE;
  fold.player = PLAYER_OOP;  // OOP folded
  fold.value = 3.0;
  std::mt19937 rng(17);
  const auto r = RandomReach(rng, static_cast<size_t>(n));
  const BruteForce brute(rec.board, rec.hands);

  for (Player player : {PLAYER_OOP, PLAYER_IP}) {
    for (PassMode mode : {PASS_EVALUATE, PASS_SOLVE, PASS_NODE_VALUE}) {
      SCOPED_TRACE(testing::Message() << "player " << player << " mode " << mode);
      context.player = player;
      context.mode = mode;
      for (TreeNode* node : {&showdown, &fold}) {
        NodeCursor cursor(&state, &context, node, 0, 0);
        cursor.in0 = MakeArray(r);
        cursor.out1.count = 99;  // untouched outside mode 0
        TraverseTerminal(cursor);
        ASSERT_EQ(cursor.out0.count, n);
        const bool own_fold = node == &fold && player == PLAYER_OOP;
        const double v = own_fold ? -3.0 : node->value;
        ExpectClose(cursor.out0.data,
                    node == &fold ? brute.Fold(r, v) : brute.Showdown(r, v), Scale(r, v),
                    "value");
        ASSERT_EQ(cursor.in0.count, n);
        if (mode == PASS_EVALUATE) {
          ASSERT_EQ(cursor.out1.count, n);
          ASSERT_TRUE(std::equal(cursor.out0.data, cursor.out0.data + n, cursor.out1.data));
        } else {
          EXPECT_EQ(cursor.out1.count, 99);
          EXPECT_FALSE(cursor.out1.HasData());
        }
      }
    }
  }
  // No reach: no values on the river, of the board's count, in both outputs.
  context.mode = PASS_EVALUATE;
  NodeCursor pruned(&state, &context, &showdown, 0, 0);
  pruned.in0.count = n;
  TraverseTerminal(pruned);
  EXPECT_FALSE(pruned.out0.HasData());
  EXPECT_EQ(pruned.out0.count, n);
  EXPECT_FALSE(pruned.out1.HasData());
  EXPECT_EQ(pruned.out1.count, n);
}

TEST(TerminalKernels, FoldsBeforeTheRiverUseTheirBoardsLists) {
  SolverState state(1, 0);
  PassContext context;
  state.deal_tree = std::make_unique<DealTree>();
  std::vector<double> range(kComboCount, 0.0);
  std::mt19937 rng(19);
  std::bernoulli_distribution keep(0.4);
  for (double& w : range) w = keep(rng) ? 1.0 : 0.0;
  InitDealTree(*state.deal_tree, Cards("Ah7c2d"), 0, Card("Js"), -1, false);
  BuildNodeComboLists(*state.deal_tree, range, range);
  const DealTree& deal = *state.deal_tree;
  TreeNode fold;
  fold.kind = FOLD_NODE;
  fold.player = PLAYER_IP;
  fold.value = 2.0;
  context.player = PLAYER_OOP;
  context.mode = PASS_SOLVE;
  for (int turn_slot : {-1, 0}) {
    SCOPED_TRACE(turn_slot);
    const std::vector<CardMask>& hands = turn_slot < 0 ? deal.hands : deal.turn_records[0].hands;
    const BruteForce brute(0, hands);
    const auto r = RandomReach(rng, hands.size());
    NodeCursor cursor(&state, &context, &fold, turn_slot, -1);
    cursor.in0 = MakeArray(r);
    TraverseTerminal(cursor);
    ASSERT_EQ(cursor.out0.count, static_cast<int32_t>(hands.size()));
    ExpectClose(cursor.out0.data, brute.Fold(r, 2.0), Scale(r, 2.0), "fold");
    // Without reach the values are zeros, present.
    NodeCursor empty(&state, &context, &fold, turn_slot, -1);
    empty.in0.count = static_cast<int32_t>(hands.size());
    TraverseTerminal(empty);
    ASSERT_TRUE(empty.out0.HasData());
    EXPECT_TRUE(std::all_of(empty.out0.data, empty.out0.data + empty.out0.count,
                            [](double x) { return x == 0.0; }));
  }
}

TEST(TerminalKernels, GroupedBoardGivesGroupValuesOnlyWhenSolving) {
  SolverState state(1, 1);
  PassContext context;
  state.deal_tree = MakeRiverTree("Kh9h4s2dJh", 1);
  const RiverDealRecord& rec = River(*state.deal_tree);
  const int32_t m = static_cast<int32_t>(rec.group_sizes.size());
  TreeNode showdown;
  showdown.kind = SHOWDOWN_NODE;
  showdown.value = 1.0;
  for (PassMode mode : {PASS_EVALUATE, PASS_SOLVE, PASS_NODE_VALUE}) {
    context.mode = mode;
    NodeCursor cursor(&state, &context, &showdown, 0, 0);
    cursor.in0 = MakeArray(std::vector<double>(static_cast<size_t>(m), 1.0));
    TraverseTerminal(cursor);
    EXPECT_EQ(cursor.out0.count, mode == PASS_SOLVE ? m : rec.HandCount()) << mode;
  }
  // The end pair on a grouped board gives what the two end nodes give.
  NumArray a, b, sd, fold;
  const NumArray in = MakeArray(std::vector<double>(static_cast<size_t>(m), 0.25));
  EvaluateRiverEndPair(rec, a, b, in, 2.0, -1.0);
  EvaluateShowdown(rec, sd, in, 2.0, true);
  EvaluateFold(rec, fold, in, -1.0, true);
  ASSERT_EQ(a.count, m);
  ASSERT_EQ(b.count, m);
  EXPECT_TRUE(std::equal(a.data, a.data + m, sd.data));
  EXPECT_TRUE(std::equal(b.data, b.data + m, fold.data));
}

TEST(TerminalKernels, FaultyCardsAndCountsAreHandledSafely) {
  const auto tree = MakeRiverTree("Kd9s5h4c2d", 0);
  const RiverDealRecord& rec = River(*tree);
  const int32_t n = rec.HandCount();
  std::mt19937 rng(23);
  auto r = RandomReach(rng, static_cast<size_t>(n));
  r[40] = 0.75;
  std::vector<uint16_t> cards = rec.hand_cards;
  cards[40] = static_cast<uint16_t>((cards[40] & 0xFF) | 200 << 8);
  // The faulty hand is skipped: it takes no part and gets 0.
  std::vector<double> without = r;
  without[40] = 0.0;
  const int16_t* groups = rec.strength_groups.data();
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    std::vector<double> want_f(n), want_s(n), got_f(n), got_s(n);
    build.ComputeBlockedReach(want_f.data(), without.data(), n, rec.hand_cards.data(), 1.0);
    build.ComputeShowdownValues(want_s.data(), without.data(), n, groups, GroupCount(rec),
                                rec.hand_cards.data(), 1.0);
    want_f[40] = want_s[40] = 0.0;
    EXPECT_DEBUG_DEATH(build.ComputeBlockedReach(got_f.data(), r.data(), n, cards.data(), 1.0), "");
    EXPECT_DEBUG_DEATH(build.ComputeShowdownValues(got_s.data(), r.data(), n, groups,
                                                   GroupCount(rec), cards.data(), 1.0),
                       "");
#ifdef NDEBUG
    ExpectClose(got_f.data(), want_f, Scale(r, 1.0), "fold");
    ExpectClose(got_s.data(), want_s, Scale(r, 1.0), "showdown");
    build.ComputeShowdownAndFold(got_s.data(), got_f.data(), r.data(), n, groups, GroupCount(rec),
                                 cards.data(), 1.0, 1.0);
    ExpectClose(got_f.data(), want_f, Scale(r, 1.0), "combined fold");
    ExpectClose(got_s.data(), want_s, Scale(r, 1.0), "combined showdown");
#endif
  }
  const TerminalKernels& kernels = Kernels<TerminalKernels>();
  // A faulty list longer than any board: zeros, never past the copy's area.
  std::vector<double> big(kMaxBoardHands + 1, 1.0), out(kMaxBoardHands + 1, 7.0);
  std::vector<uint16_t> big_cards(kMaxBoardHands + 1, static_cast<uint16_t>(0 | 1 << 8));
  big_cards.back() = static_cast<uint16_t>(60 | 1 << 8);
  const std::vector<int16_t> big_group = {kMaxBoardHands + 1};
  EXPECT_DEBUG_DEATH(kernels.ComputeShowdownValues(out.data(), big.data(), kMaxBoardHands + 1,
                                                   big_group.data(), 1, big_cards.data(), 1.0),
                     "");
#ifdef NDEBUG
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double x) { return x == 0.0; }));
#endif
  // Counts of zero or below write nothing.
  double untouched = 7.0;
  kernels.ComputeBlockedReach(&untouched, big.data(), 0, big_cards.data(), 1.0);
  kernels.ComputeShowdownValues(&untouched, big.data(), -3, big_group.data(), 1, big_cards.data(),
                                1.0);
  kernels.ComputeGroupShowdownValues(&untouched, big.data(), nullptr, 1.0, 0);
  EXPECT_EQ(untouched, 7.0);
}

TEST(TerminalKernels, UnreferencedReductions) {
  const TerminalKernels& kernels = Kernels<TerminalKernels>();
  const auto tree = MakeRiverTree("Kd9s5h4c2d", 0);
  const RiverDealRecord& rec = River(*tree);
  const int32_t n = rec.HandCount();
  std::mt19937 rng(29);
  const auto a = RandomReach(rng, static_cast<size_t>(n));
  const auto b = RandomReach(rng, static_cast<size_t>(n));
  const auto c = RandomReach(rng, static_cast<size_t>(n));
  double dot = 0.0, numerator = 0.0, divisor = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double unblocked_a = 0.0, unblocked_c = 0.0;
    for (int32_t j = 0; j < n; ++j)
      if (!(rec.hands[i] & rec.hands[j])) {
        unblocked_a += a[j];
        unblocked_c += c[j];
      }
    dot += b[i] * unblocked_a;
    numerator += a[i] * b[i];
    divisor += b[i] * unblocked_c;
  }
  NumArray vec(n);
  EXPECT_NEAR(
      kernels.BlockedReachDot(a.data(), b.data(), std::move(vec), rec.hand_cards.data(), 0.5),
      0.5 * dot, 1e-9 * dot);
  EXPECT_FALSE(vec.HasData());
  EXPECT_NEAR(kernels.MatchupWeightedMean(a.data(), b.data(), c.data(), rec.hands),
              numerator / divisor, 1e-12);
  EXPECT_EQ(kernels.MatchupWeightedMean(a.data(), b.data(), c.data(), {}), 0.0);
  const std::vector<double> zeros(static_cast<size_t>(n), 0.0);
  EXPECT_EQ(kernels.MatchupWeightedMean(a.data(), b.data(), zeros.data(), rec.hands), 0.0);
}

}  // namespace
