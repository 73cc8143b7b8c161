// Whole-tree passes against an independent reference: values and best
// responses under the uniform strategy, convergence of the solving passes, the
// check-down equity of flop trees, and the invariants of the parallel batches.
#include "solver/tree_pass.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cards/combo_tables.h"
#include "platform/fp_mode.h"
#include "platform/threads.h"
#include "solver/current_iteration.h"
#include "solver/node_cursor.h"
#include "solver/node_traversal.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/subgame_task.h"
#include "solver/value_target.h"
#include "solver/worker_pool.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/stored_strategy.h"
#include "tree/tree_records.h"

namespace {

using reference_game::ClassRange;
using reference_game::MakeSpot;
using reference_game::ReferenceGame;
using reference_game::Spot;


// A river with no straight or flush for the hands below.
const char* const kRiverBoard = "2c7d8hJs3s";

// The engine's uniform strategy: 1/n rounded to a float, as its stores hand out
// the default of an untouched node (so three actions sum to a little over 1).
reference_game::Strategy FloatUniform(const ReferenceGame& game) {
  reference_game::Strategy profile = game.UniformStrategy();
  for (size_t node = 0; node < profile.probs.size(); ++node) {
    const int n = profile.action_counts[node];
    for (double& p : profile.probs[node]) p = static_cast<double>(1.0f / static_cast<float>(n));
  }
  return profile;
}

// The strategy of an untouched node in a solving pass: 0.9 on the first action
// and the rest shared by the others, each rounded to a float.
reference_game::Strategy FloatExplore(const ReferenceGame& game) {
  reference_game::Strategy profile = game.UniformStrategy();
  for (size_t node = 0; node < profile.probs.size(); ++node) {
    const int n = profile.action_counts[node];
    for (size_t k = 0; k < profile.probs[node].size(); ++k) {
      const double p = k % n == 0 ? std::max(0.9, 1.0 / n) : 0.09999999999999998 / (n - 1);
      profile.probs[node][k] = static_cast<double>(static_cast<float>(p));
    }
  }
  return profile;
}

class TreePassTest : public TreeBuildTest {
 protected:
  void SetUp() override {
    TreeBuildTest::SetUp();
    saved_threads_ = omp_get_max_threads();
    saved_scheduler_ = g_scheduler.load();
    g_current_iteration = 0;
  }
  void TearDown() override {
    omp_set_num_threads(saved_threads_);
    g_scheduler = saved_scheduler_;
    g_current_iteration = 0;
    TreeBuildTest::TearDown();
  }

  struct Values {
    double ev, mes;
  };
  static Values Evaluate(Player player) {
    double out[2];
    TraverseTree(&State(), out, player, PASS_EVALUATE);
    return {out[0], out[1]};
  }
  static double Exploitability() {
    const Values oop = Evaluate(PLAYER_OOP), ip = Evaluate(PLAYER_IP);
    return 0.5 * (oop.mes + ip.mes - oop.ev - ip.ev);
  }
  // The strategies an evaluation pass uses at every decision node of a river
  // tree, as a reference profile.
  static reference_game::Strategy EngineProfile(const ReferenceGame& game) {
    SolverState& state = State();
    reference_game::Strategy profile = game.UniformStrategy();
    const int32_t t = state.start_turn_slot, r = state.start_river_slot;
    const RiverDealRecord& board =
        state.deal_tree->turn_records[static_cast<size_t>(t)].river_records[static_cast<size_t>(r)];
    for (size_t d = 0; d < state.nodes.size(); ++d) {
      TreeNode& node = state.nodes[d];
      if (node.kind != DECISION_NODE) continue;
      std::vector<NumArray> strategy;
      GetAverageStrategy(node, strategy, t, r);
      for (size_t h = 0; h < board.hands.size(); ++h) {
        const CardMask m = board.hands[h];
        const int combo = ComboIndexOfCards(__builtin_ctzll(m), 63 - __builtin_clzll(m));
        for (size_t a = 0; a < node.children.size(); ++a)
          profile.Set(static_cast<int>(d), combo, static_cast<int>(a), strategy[a].data[h]);
      }
    }
    return profile;
  }

  // The last decision node of the street whose parent is on the street before:
  // the street's first decision on the last line that deals it.
  static TreeNode* StreetRootDecision(Street street) {
    TreeNode* found = nullptr;
    for (TreeNode& node : State().nodes)
      if (node.kind == DECISION_NODE && node.street == street && node.parent->street == street - 1)
        found = &node;
    return found;
  }

  int saved_threads_ = 1;
  uint32_t saved_scheduler_ = 0;
};

// Bet 10 with a raise to 30, or check with a bet of 20 behind, or check down:
// both players decide, and every bet faces a call and a fold.
Spot RiverSpot() {
  return MakeSpot(kRiverBoard, "AcAd AhAs KcKd KhKs QcQh JcJd 9c9d 4c4d 5h6h As8s Ac2d Th9h",
                  "AdAh KdKh QdQs JdJh TcTd 8c8d 6c6d 5c5d Kc8s Qh2h 9s8s 4h5h", 100,
                  {{10, 30}, {0, 20}, {0, 0}});
}

// Flop: a bet that is called at once (a showdown before the turn), and a
// check-through to a turn where OOP bets (called: a showdown before the river)
// or the hand is checked down.
Spot FlopSpot() {
  return MakeSpot("2c7d8h", "AcAd KhKs QcQd 9s9h Ts9s 6c5c Ad8d",
                  "AhAs KcKd JcJd Th9h 6d5d 8c8s Kd7c", 60, {{10}, {0, 0, 10}, {0, 0, 0, 0, 0, 0}});
}

TEST_F(TreePassTest, RiverUniformValuesAndBestResponsesMatchTheReference) {
  const Spot spot = RiverSpot();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const ReferenceGame game(spot);
  const reference_game::Strategy uniform = FloatUniform(game);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    const Values v = Evaluate(p);
    EXPECT_NEAR(v.ev, game.GameValue(p, uniform), 1e-9) << "player " << p;
    EXPECT_NEAR(v.mes, game.BestResponseValue(p, uniform), 1e-9) << "player " << p;
  }
  // Zero-sum without rake: the values are net of half the pot each.
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev + Evaluate(PLAYER_IP).ev, 0.0, 1e-9);
}

TEST_F(TreePassTest, RiverSolvingPassesConverge) {
  const Spot spot = RiverSpot();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const ReferenceGame game(spot);
  const double start = Exploitability();
  ASSERT_NO_FATAL_FAILURE(RunIterations(300));
  const double exploitability = Exploitability();
  EXPECT_LT(exploitability, 0.005 * spot.pot) << "from " << start;
  EXPECT_LT(exploitability, 0.1 * start);
  const Values oop = Evaluate(PLAYER_OOP), ip = Evaluate(PLAYER_IP);
  EXPECT_NEAR(oop.ev + ip.ev, 0.0, 1e-9);

  // The reference agrees on the values and best responses of the strategies
  // the engine arrived at.
  const reference_game::Strategy profile = EngineProfile(game);
  EXPECT_NEAR(oop.ev, game.GameValue(PLAYER_OOP, profile), 1e-6);
  EXPECT_NEAR(oop.mes, game.BestResponseValue(PLAYER_OOP, profile), 1e-6);
  EXPECT_NEAR(ip.mes, game.BestResponseValue(PLAYER_IP, profile), 1e-6);
  EXPECT_NEAR(exploitability, game.Exploitability(profile), 1e-6);
}

TEST_F(TreePassTest, SolvingPassValuesFollowTheExploringDefault) {
  // The first solving pass of a player values the tree under the default
  // strategy, river calls and folds through the combined end-node kernels.
  const Spot spot = RiverSpot();
  const ReferenceGame game(spot);
  const reference_game::Strategy explore = FloatExplore(game);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    ResetSituation();
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
    double out[2];
    TraverseTree(&State(), out, p, PASS_SOLVE);
    EXPECT_NEAR(out[0], game.GameValue(p, explore), 1e-9) << "player " << p;
    EXPECT_EQ(out[1], 0.0);
  }
}

TEST_F(TreePassTest, CombinedEndKernelsOnlyForACallThenAFold) {
  // A node whose fold comes before its call (not made by the builder): the two
  // end nodes are valued one by one, each as what it is.
  const Spot spot = MakeSpot(kRiverBoard, "AcAd KhKs QcQh 4c4d 5h6h", "AdAh KdKc JdJh 9s8s Qh2h",
                             100, {{10}, {0, 20}});
  const ReferenceGame game(spot);
  // The reference keeps the builder's order; the default's weights fall on the
  // swapped actions.
  reference_game::Strategy explore = FloatExplore(game);
  std::vector<int> swapped_nodes;
  for (size_t d = 0; d < game.Nodes().size(); ++d) {
    const reference_game::RefNode& node = game.Nodes()[d];
    const size_t n = node.children.size();
    if (n < 2 || node.keys[n - 1] != -1) continue;
    swapped_nodes.push_back(static_cast<int>(d));
    for (int combo = 0; combo < kComboCount; ++combo) {
      const int node_index = static_cast<int>(d), a = static_cast<int>(n - 2);
      const double call = explore.At(node_index, combo, a);
      explore.Set(node_index, combo, a, explore.At(node_index, combo, a + 1));
      explore.Set(node_index, combo, a + 1, call);
    }
  }
  ASSERT_EQ(swapped_nodes.size(), 2u);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    ResetSituation();
    ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
    SolverState& state = State();
    for (int d : swapped_nodes) {
      std::vector<int32_t>& children = state.nodes[static_cast<size_t>(d)].children;
      ASSERT_EQ(state.nodes[static_cast<size_t>(children.back())].kind, FOLD_NODE);
      std::swap(children[children.size() - 2], children[children.size() - 1]);
    }
    double out[2];
    TraverseTree(&state, out, p, PASS_SOLVE);
    EXPECT_NEAR(out[0], game.GameValue(p, explore), 1e-9) << "player " << p;
  }
}

TEST_F(TreePassTest, LockedNodesFollowTheirStrategyInTheBestResponse) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(RiverSpot()));
  SolverState& state = State();
  const int32_t t = state.start_turn_slot, r = state.start_river_slot;
  const Values before = Evaluate(PLAYER_OOP);
  ASSERT_GT(before.mes, before.ev + 1e-6);
  for (TreeNode& node : state.nodes)
    if (node.kind == DECISION_NODE && node.player == PLAYER_OOP)
      node.regret_store->GetLockRecord(t, r)->flags |= LOCKED;
  const Values locked = Evaluate(PLAYER_OOP);
  EXPECT_NEAR(locked.ev, before.ev, 1e-12);
  EXPECT_NEAR(locked.mes, locked.ev, 1e-9);

  // Combination locks: masked hands follow the strategy, the others respond
  // best; a mask over every hand is a lock of the board.
  auto mask_oop_nodes = [&](bool every_other) {
    for (TreeNode& node : state.nodes) {
      if (node.kind != DECISION_NODE || node.player != PLAYER_OOP) continue;
      NodeLockRecord& record = *node.regret_store->GetLockRecord(t, r);
      record.flags = COMBO_LOCKED;
      record.FreeMask();
      record.mask_length = node.regret_store->GetHandCount(t, r);
      record.mask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(record.mask_length)));
      for (int32_t h = 0; h < record.mask_length; ++h)
        record.mask[h] = every_other ? static_cast<uint8_t>(h % 2) : 1;
    }
  };
  mask_oop_nodes(false);
  const Values all_masked = Evaluate(PLAYER_OOP);
  EXPECT_NEAR(all_masked.mes, before.ev, 1e-9);
  mask_oop_nodes(true);
  const Values half_masked = Evaluate(PLAYER_OOP);
  EXPECT_GT(half_masked.mes, before.ev + 1e-6);
  EXPECT_LT(half_masked.mes, before.mes - 1e-6);
  for (TreeNode& node : state.nodes)
    if (node.kind == DECISION_NODE && node.player == PLAYER_OOP)
      node.regret_store->GetLockRecord(t, r)->flags |= LOCKED;

  // A solving pass leaves the regrets of a locked node alone.
  TreeNode& root = state.nodes[0];
  const float uniform[3] = {0.5f, 0.5f, 0.5f};
  double out[2];
  TraverseTree(&state, out, PLAYER_OOP, PASS_SOLVE);
  std::vector<NumArray> strategy = root.regret_store->GetStrategy(t, r, uniform);
  for (const NumArray& action : strategy)
    for (int32_t h = 0; h < action.count; ++h) ASSERT_EQ(action.data[h], 0.5);
}

TEST_F(TreePassTest, FlopCheckDownIsTheRunoutEquity) {
  const Spot spot = MakeSpot("2c7d8h", "AcAd KhKs 9s9h Ts9s 6c5c", "AhAs KcKd Th9h 6d5d 8c8s", 60,
                             {{0, 0, 0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const ReferenceGame game(spot);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    const Values v = Evaluate(p);
    EXPECT_NEAR(v.ev, game.CheckDownEv(p), 1e-9) << "player " << p;
    EXPECT_NEAR(v.mes, v.ev, 1e-9);
  }
}

TEST_F(TreePassTest, TurnCheckDownIsTheRunoutEquity) {
  const Spot spot = MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c", "AhAs QcQd Th9h 6d5d 8c8s", 60,
                             {{0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  const ReferenceGame game(spot);
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev, game.CheckDownEv(PLAYER_OOP), 1e-9);
  EXPECT_NEAR(Evaluate(PLAYER_IP).ev, game.CheckDownEv(PLAYER_IP), 1e-9);
}

TEST_F(TreePassTest, SchedulersAndThreadCountsAgree) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  g_scheduler = 0;
  omp_set_num_threads(1);
  const Values oop = Evaluate(PLAYER_OOP), ip = Evaluate(PLAYER_IP);
  EXPECT_NEAR(oop.ev + ip.ev, 0.0, 1e-9);
  for (uint32_t scheduler : {0u, 1u, 2u}) {
    for (int threads : {1, 4}) {
      g_scheduler = scheduler;
      omp_set_num_threads(threads);
      const Values o = Evaluate(PLAYER_OOP), i = Evaluate(PLAYER_IP);
      EXPECT_NEAR(o.ev, oop.ev, 1e-9) << scheduler << "/" << threads;
      EXPECT_NEAR(o.mes, oop.mes, 1e-9) << scheduler << "/" << threads;
      EXPECT_NEAR(i.ev, ip.ev, 1e-9) << scheduler << "/" << threads;
      EXPECT_NEAR(i.mes, ip.mes, 1e-9) << scheduler << "/" << threads;
    }
  }
}

TEST_F(TreePassTest, PassesGiveTheSameFiguresWithFlushToZeroOnTheCaller) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  // One thread: the tasks' results then add up in one order.
  g_scheduler = 0;
  omp_set_num_threads(1);
  const Values plain = Evaluate(PLAYER_IP);
  const uint32_t saved = ReadFpControl();
  EnableFlushToZero();
  const Values ftz = Evaluate(PLAYER_IP);
  const uint32_t after = ReadFpControl();
  WriteFpControl(saved);
  EXPECT_EQ(after & kMxcsrFlushToZeroBits, kMxcsrFlushToZeroBits);  // the caller's mode is back
  EXPECT_EQ(plain.ev, ftz.ev);
  EXPECT_EQ(plain.mes, ftz.mes);
}

TEST_F(TreePassTest, IsomorphismOnAndOffAgree) {
  // A monotone flop: the three other suits are interchangeable, and class
  // ranges keep the players' weights symmetric under renaming them.
  Spot spot;
  spot.board = reference_game::BoardFromText("2c7c9c");
  spot.ranges[PLAYER_OOP] = ClassRange({"AA", "KK", "T9s", "65s", "A8s"});
  spot.ranges[PLAYER_IP] = ClassRange({"QQ", "JJ", "T8s", "AKs", "99"});
  spot.pot = 60;
  spot.lines = {{10}, {0, 0, 10}, {0, 0, 0, 0, 0, 0}};

  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot, false));
  ASSERT_TRUE(State().flags & ISOMORPHISM_ON);
  ASSERT_LT(State().deal_tree->turn_records.size(), 49u);
  const Values on[2] = {Evaluate(PLAYER_OOP), Evaluate(PLAYER_IP)};
  ResetSituation();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot, true));
  ASSERT_FALSE(State().flags & ISOMORPHISM_ON);
  ASSERT_EQ(State().deal_tree->turn_records.size(), 49u);
  for (Player p : {PLAYER_OOP, PLAYER_IP}) {
    const Values off = Evaluate(p);
    EXPECT_NEAR(on[p].ev, off.ev, 1e-9) << "player " << p;
    EXPECT_NEAR(on[p].mes, off.mes, 1e-9) << "player " << p;
  }
}

// The three phases of a pass by hand, to look at the task list in between. A
// node-value target gets the player's own reach as the second input.
struct PhaseCounts {
  size_t tasks = 0;
  int32_t read_index = 0;
  int32_t value_count = 0;  // of the root's first output
};
PhaseCounts RunPhases(SolverState& state, Player player, PassMode mode,
                      ValueTarget* target = nullptr) {
  PhaseCounts counts;
  std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
  PassContext context;
  context.player = player;
  context.mode = mode;
  context.value_target = target;
  NodeCursor root(&state, &context, &state.nodes[0], state.start_turn_slot, state.start_river_slot);
  auto load = [&](NumArray& reach, int p) {
    const std::vector<double>& w = state.root_hand_weights[p];
    reach.Resize(static_cast<int32_t>(w.size()));
    std::copy(w.begin(), w.end(), reach.data);
  };
  context.phase = PHASE_COLLECT;
  load(root.in0, Opponent(player));
  if (target) load(root.in1, player);
  TraverseNode(root);
  root.out0 = NumArray();
  root.out1 = NumArray();
  counts.tasks = g_subgame_tasks.size();
  context.phase = PHASE_RUN;
  TraverseSubgames();
  context.phase = PHASE_COMBINE;
  load(root.in0, Opponent(player));
  g_task_read_index = 0;
  TraverseNode(root);
  counts.read_index = g_task_read_index;
  counts.value_count = root.out0.count;
  DestroySubgameTasks();
  return counts;
}

TEST_F(TreePassTest, OneTaskPerTurnSlotForEveryTurnDealOfTheCollectWalk) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  SolverState& state = State();
  const size_t slots = state.deal_tree->turn_records.size();
  ASSERT_EQ(slots, 49u);
  // The flop bet's call is a showdown before the turn: a deal node too.
  size_t deals = 0;
  for (const TreeNode& node : state.nodes)
    if (node.street >= STREET_TURN && node.parent && node.parent->street < STREET_TURN) ++deals;
  ASSERT_EQ(deals, 2u);
  for (PassMode mode : {PASS_EVALUATE, PASS_SOLVE}) {
    const PhaseCounts counts = RunPhases(state, PLAYER_IP, mode);
    EXPECT_EQ(counts.tasks, deals * slots);
    EXPECT_EQ(counts.read_index, static_cast<int32_t>(counts.tasks));
  }
  EXPECT_TRUE(g_subgame_tasks.empty());
}

// The default scheduler and the pool hand the subgames out slot by slot, the
// larger first within a slot, and end the batch on the last slots largest
// first, so that it does not end on one long task; scheduler 1 keeps the
// collect order. Either way every task runs once and the combine walk still
// takes them back in collect order.
TEST_F(TreePassTest, BatchesRunSlotBySlotAndEndOnSmallSubgames) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  SolverState& state = State();
  omp_set_num_threads(2);
  // A scheduler twice in a row: the second batch, like the first, takes the
  // order made for it.
  for (uint32_t scheduler : {0u, 0u, 1u, 2u, 2u}) {
    SCOPED_TRACE("scheduler " + std::to_string(scheduler));
    g_scheduler = scheduler;
    std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
    PassContext context;
    context.player = PLAYER_IP;
    context.mode = PASS_SOLVE;
    NodeCursor root(&state, &context, &state.nodes[0],
                    state.start_turn_slot, state.start_river_slot);
    const std::vector<double>& w = state.root_hand_weights[PLAYER_OOP];
    root.in0.Resize(static_cast<int32_t>(w.size()));
    std::copy(w.begin(), w.end(), root.in0.data);
    context.phase = PHASE_COLLECT;
    TraverseNode(root);
    context.phase = PHASE_RUN;
    TraverseSubgames();
    const size_t n = g_subgame_tasks.size();
    ASSERT_EQ(n, 98u);  // the flop call's showdown and the check-down's turn, 49 cards each
    ASSERT_EQ(g_task_run_order.size(), n);
    std::vector<int32_t> sorted = g_task_run_order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(sorted[k], static_cast<int32_t>(k));
    EXPECT_EQ(g_tasks_done.load(), static_cast<int32_t>(n));
    if (scheduler == 1) {
      for (size_t k = 0; k < n; ++k) EXPECT_EQ(g_task_run_order[k], static_cast<int32_t>(k));
    } else {
      // Slot by slot, the turn subgame (a decision below the card) before the
      // showdown, up to the tail: there every turn subgame before every
      // showdown, the batch ending on a showdown.
      auto task = [](size_t k) -> const SubgameTask& {
        return BatchTask(static_cast<int32_t>(k));
      };
      size_t k = 0;
      for (; k + 1 < n && task(k).cursor.turn_slot == task(k + 1).cursor.turn_slot; k += 2) {
        EXPECT_EQ(task(k).cursor.node->kind, DECISION_NODE) << k;
        EXPECT_EQ(task(k + 1).cursor.node->kind, SHOWDOWN_NODE) << k;
        EXPECT_EQ(task(k).cursor.turn_slot, static_cast<int32_t>(k / 2)) << k;
      }
      // The tail holds three times the largest task for each thread (two
      // here; the pool has one per processor), a slot at most twice the
      // largest task: at least three slots of two tasks.
      const size_t tail = n - k;
      if (scheduler == 0) {
        EXPECT_GE(tail, 3u * 2u);
        EXPECT_LT(tail, n / 2) << "most of the batch goes slot by slot";
      } else {
        EXPECT_GE(tail, 2u * 2u);
      }
      for (size_t j = k; j < n; ++j)
        EXPECT_EQ(task(j).cursor.node->kind, j < k + tail / 2 ? DECISION_NODE : SHOWDOWN_NODE)
            << j;
    }
    context.phase = PHASE_COMBINE;
    root.in0.Resize(static_cast<int32_t>(w.size()));
    std::copy(w.begin(), w.end(), root.in0.data);
    g_task_read_index = 0;
    TraverseNode(root);
    EXPECT_EQ(g_task_read_index, static_cast<int32_t>(n));
    DestroySubgameTasks();
  }
}

// A deal node's tasks add their results in collect order whichever of them
// finishes first: a batch run backwards or shuffled gives the same bits as one
// run in collect order.
TEST_F(TreePassTest, TaskResultsAddUpInCollectOrderWhateverTheRunOrder) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  ASSERT_NO_FATAL_FAILURE(RunIterations(3));  // strategies away from uniform
  SolverState& state = State();
  auto pass = [&](Player player, int order) {
    std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
    PassContext context;
    context.player = player;
    context.mode = PASS_EVALUATE;
    NodeCursor root(&state, &context, &state.nodes[0],
                    state.start_turn_slot, state.start_river_slot);
    const std::vector<double>& w = state.root_hand_weights[Opponent(player)];
    root.in0.AssignValues(w);
    context.phase = PHASE_COLLECT;
    TraverseNode(root);
    std::vector<SubgameTask*> tasks = g_subgame_tasks;
    if (order == 1) std::reverse(tasks.begin(), tasks.end());
    if (order >= 2) std::shuffle(tasks.begin(), tasks.end(), std::mt19937(7));
    context.phase = PHASE_RUN;
    if (order < 3) {
      for (SubgameTask* task : tasks) RunSubgameTask(*task);
    } else {
      // Shuffled and on eight threads at once: merges of one deal node
      // overlap, and tasks finish while another adds their group's results.
      std::atomic<size_t> next{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < 8; ++t)
        threads.push_back(StartDefaultFpThread([&] {
          for (size_t k; (k = next.fetch_add(1)) < tasks.size();) RunSubgameTask(*tasks[k]);
        }));
      for (std::thread& thread : threads) thread.join();
    }
    context.phase = PHASE_COMBINE;
    root.in0.AssignValues(w);
    g_task_read_index = 0;
    TraverseNode(root);
    DestroySubgameTasks();
    std::vector<double> values(root.out0.data, root.out0.data + root.out0.count);
    values.insert(values.end(), root.out1.data, root.out1.data + root.out1.count);
    return values;
  };
  for (Player player : {PLAYER_OOP, PLAYER_IP}) {
    const std::vector<double> collect_order = pass(player, 0);
    ASSERT_FALSE(collect_order.empty());
    for (int order : {1, 2, 3, 3, 3}) {
      const std::vector<double> other = pass(player, order);
      ASSERT_EQ(other.size(), collect_order.size());
      for (size_t h = 0; h < other.size(); ++h)
        ASSERT_EQ(other[h], collect_order[h]) << "player " << player << " order " << order
                                              << " value " << h;
    }
  }
}

// So the figures of a run do not depend on the thread count or the scheduler,
// to the last bit, after solving iterations as much as at the start.
TEST_F(TreePassTest, SolvingGivesTheSameBitsOnEveryThreadCountAndScheduler) {
  struct Figures {
    Values oop, ip;
  };
  auto run = [&](uint32_t scheduler, int threads) {
    ResetSituation();
    BuildSpotWithValues(FlopSpot());
    g_scheduler = scheduler;
    omp_set_num_threads(threads);
    EXPECT_NO_FATAL_FAILURE(RunIterations(4));
    return Figures{Evaluate(PLAYER_OOP), Evaluate(PLAYER_IP)};
  };
  const Figures reference = run(1, 1);
  for (uint32_t scheduler : {0u, 1u, 2u}) {
    for (int threads : {1, 3, 8}) {
      if (scheduler == 2 && threads > 1) continue;  // the pool has its own threads
      SCOPED_TRACE("scheduler " + std::to_string(scheduler) + ", " + std::to_string(threads) +
                   " threads");
      const Figures figures = run(scheduler, threads);
      EXPECT_EQ(figures.oop.ev, reference.oop.ev);
      EXPECT_EQ(figures.oop.mes, reference.oop.mes);
      EXPECT_EQ(figures.ip.ev, reference.ip.ev);
      EXPECT_EQ(figures.ip.mes, reference.ip.mes);
    }
  }
}

// A turn-rooted pass is some hundred river subgames of a few microseconds:
// on many threads they finish out of order and their deal nodes' merges
// overlap, and the sums must still come out as on one thread, to the bit.
TEST_F(TreePassTest, TurnRootedSolvingGivesTheSameBitsOnEveryThreadCount) {
  auto run = [&](uint32_t scheduler, int threads) {
    ResetSituation();
    BuildSpotWithValues(MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c QhJh",
                                 "AhAs QcQd Th9h 6d5d 8c8s Jc9c", 60,
                                 {{0, 0, 20}, {0, 20}, {0, 20, 60}, {0, 0, 0, 0}}));
    g_scheduler = scheduler;
    omp_set_num_threads(threads);
    EXPECT_NO_FATAL_FAILURE(RunIterations(6));
    return std::vector<Values>{Evaluate(PLAYER_OOP), Evaluate(PLAYER_IP)};
  };
  const std::vector<Values> reference = run(1, 1);
  for (uint32_t scheduler : {0u, 2u}) {
    for (int threads : {8, 16}) {
      if (scheduler == 2 && threads > 8) continue;  // the pool has its own threads
      SCOPED_TRACE("scheduler " + std::to_string(scheduler) + ", " + std::to_string(threads) +
                   " threads");
      const std::vector<Values> figures = run(scheduler, threads);
      for (Player p : {PLAYER_OOP, PLAYER_IP}) {
        EXPECT_EQ(figures[p].ev, reference[p].ev);
        EXPECT_EQ(figures[p].mes, reference[p].mes);
      }
    }
  }
}

TEST_F(TreePassTest, TurnRootedPassMakesOneTaskPerRiverSlot) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(
      MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h", "AhAs QcQd Th9h", 60, {{0, 10}, {0, 0, 0, 0}})));
  SolverState& state = State();
  const size_t slots = state.deal_tree->turn_records[0].river_records.size();
  ASSERT_EQ(slots, 48u);
  // The first river node and the turn call's showdown.
  const PhaseCounts counts = RunPhases(state, PLAYER_OOP, PASS_EVALUATE);
  EXPECT_EQ(counts.tasks, 2 * slots);
  EXPECT_EQ(counts.read_index, static_cast<int32_t>(counts.tasks));
}

TEST_F(TreePassTest, PrunedTurnDealsStillMakeTheirTasks) {
  // OOP never bets: the subgames below the bets get no reach, yet keep their
  // place in the task order, and IP's value is the check-down value.
  const Spot spot = FlopSpot();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  SolverState& state = State();
  const DealTree& deal = *state.deal_tree;
  auto never_bet = [&](TreeNode& node, int32_t turn_slot, int32_t hands) {
    NumArray zero(hands), thousand(hands);
    std::fill(zero.data, zero.data + hands, 0.0);
    std::fill(thousand.data, thousand.data + hands, 1000.0);
    node.regret_store->SetActionValues(turn_slot, -1, 0, zero);
    node.regret_store->SetActionValues(turn_slot, -1, 1, thousand);
  };
  never_bet(state.nodes[0], -1, static_cast<int32_t>(deal.hands.size()));
  TreeNode* turn_node = StreetRootDecision(STREET_TURN);
  ASSERT_NE(turn_node, nullptr);
  for (size_t t = 0; t < deal.turn_records.size(); ++t)
    never_bet(*turn_node, static_cast<int32_t>(t), deal.turn_records[t].HandCount());

  const PhaseCounts counts = RunPhases(state, PLAYER_IP, PASS_EVALUATE);
  EXPECT_EQ(counts.tasks, 2 * deal.turn_records.size());
  EXPECT_EQ(counts.read_index, static_cast<int32_t>(counts.tasks));

  Spot check_down = spot;
  check_down.lines = {{0, 0, 0, 0, 0, 0}};
  const ReferenceGame game(check_down);
  // 1000 against 0 is a check to within a few float ulps: the blocks of eight
  // divide by the processor's refined reciprocal estimate, which may leave the
  // check a unit or two below 1 (the bet stays 0). The values shrink by that
  // share, well below a millionth of the pot.
  EXPECT_NEAR(Evaluate(PLAYER_IP).ev, game.CheckDownEv(PLAYER_IP), 1e-6 * spot.pot);
}

TEST_F(TreePassTest, ForgottenStreetsAnswerWithTheKeptValues) {
  const Spot spot =
      MakeSpot("2c7d8h", "AcAd KhKs 9s9h Ts9s", "AhAs KcKd Th9h 6d5d", 60, {{0, 0, 0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  SolverState& state = State();
  const size_t hands = state.deal_tree->hands.size();
  // Nothing kept yet: zeros of the flop's hand count, and no subgame walked.
  state.flags |= INCOMPLETE_TREE;
  const PhaseCounts empty = RunPhases(state, PLAYER_OOP, PASS_EVALUATE);
  EXPECT_EQ(empty.tasks, 0u);
  EXPECT_EQ(empty.value_count, static_cast<int32_t>(hands));
  EXPECT_EQ(Evaluate(PLAYER_OOP).ev, 0.0);

  state.flags &= ~INCOMPLETE_TREE;
  const Values oop = Evaluate(PLAYER_OOP), ip = Evaluate(PLAYER_IP);
  state.flags |= INCOMPLETE_TREE;
  EXPECT_EQ(RunPhases(state, PLAYER_IP, PASS_EVALUATE).tasks, 0u);
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev, oop.ev, 1e-12);
  EXPECT_NEAR(Evaluate(PLAYER_OOP).mes, oop.mes, 1e-12);
  EXPECT_NEAR(Evaluate(PLAYER_IP).ev, ip.ev, 1e-12);
}

TEST_F(TreePassTest, TurnTargetTakesOneTurnCardAndKeptRiverValues) {
  const Spot spot = FlopSpot();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  SolverState& state = State();
  Evaluate(PLAYER_OOP);  // keeps the river values of every turn card
  TreeNode* turn_node = StreetRootDecision(STREET_TURN);
  ASSERT_NE(turn_node, nullptr);
  ValueTarget target;
  target.node = turn_node;
  target.turn_slot = 5;
  const PhaseCounts counts = RunPhases(state, PLAYER_OOP, PASS_NODE_VALUE, &target);
  EXPECT_EQ(counts.tasks, 2u);  // one per turn deal
  EXPECT_EQ(counts.read_index, 2);
  const int32_t turn_hands = state.deal_tree->turn_records[5].HandCount();
  ASSERT_TRUE(target.values.HasData());
  EXPECT_EQ(target.values.count, turn_hands);
  EXPECT_EQ(target.weights.count, turn_hands);
  EXPECT_TRUE(target.per_board_results.empty());
}

TEST_F(TreePassTest, TurnRootedSolvingConvergesOnEveryScheduler) {
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h Ts9s 6c5c",
                                                       "AhAs QcQd Th9h 6d5d 8c8s", 60,
                                                       {{0, 0, 20}, {0, 20}, {0, 0, 0, 0}})));
  const double start = Exploitability();
  // Mostly on the pool: OpenMP teams that spin between batches crawl on a
  // loaded machine (tests run side by side).
  for (uint32_t scheduler : {2u, 0u, 1u}) {
    g_scheduler = scheduler;
    ASSERT_NO_FATAL_FAILURE(RunIterations(scheduler == 2 ? 100 : 10));
  }
  const double exploitability = Exploitability();
  EXPECT_LT(exploitability, 0.02 * 60) << "from " << start;
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev + Evaluate(PLAYER_IP).ev, 0.0, 1e-9);
}

TEST_F(TreePassTest, NodeValueTargetOnTheRiverRoot) {
  const Spot spot = RiverSpot();
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  SolverState& state = State();
  const ReferenceGame game(spot);
  ValueTarget target;
  target.node = &state.nodes[0];
  target.turn_slot = state.start_turn_slot;
  target.river_slot = state.start_river_slot;
  {
    std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
    PassContext context;
    context.value_target = &target;
    context.player = PLAYER_OOP;
    context.mode = PASS_NODE_VALUE;
    context.phase = PHASE_COMBINE;
    NodeCursor root(&state, &context, &state.nodes[0], target.turn_slot, target.river_slot);
    for (Player p : {PLAYER_OOP, PLAYER_IP}) {
      NumArray& reach = p == PLAYER_OOP ? root.in1 : root.in0;
      const std::vector<double>& w = state.root_hand_weights[p];
      reach.Resize(static_cast<int32_t>(w.size()));
      std::copy(w.begin(), w.end(), reach.data);
    }
    TraverseNode(root);
  }
  ASSERT_TRUE(target.values.HasData());
  ASSERT_EQ(target.weights.count, target.values.count);
  // weight x value = own reach x counterfactual value: summed, the EV times the
  // pair weight.
  double sum = 0.0;
  for (int32_t h = 0; h < target.values.count; ++h)
    sum += target.weights.data[h] * target.values.data[h];
  EXPECT_NEAR(sum / game.PairWeight(), game.GameValue(PLAYER_OOP, FloatUniform(game)), 1e-9);
}

TEST_F(TreePassTest, PerBoardNodeValuesOnEveryRiver) {
  const Spot spot =
      MakeSpot("2c7d8hKs", "AcAd KhKc 9s9h Ts9s", "AhAs QcQd Th9h 6d5d", 60, {{0, 0, 0, 0}});
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(spot));
  SolverState& state = State();
  TreeNode* river = StreetRootDecision(STREET_RIVER);
  ASSERT_NE(river, nullptr);
  ValueTarget target;
  target.node = river;
  target.turn_slot = 0;
  target.river_slot = 0;  // a dealt river: the river deals walk their subgames
  target.per_board_collection = 1;

  double pass_value = 0.0;
  {
    std::lock_guard<std::mutex> lock(g_tree_pass_mutex);
    PassContext context;
    context.value_target = &target;
    context.player = PLAYER_IP;
    context.mode = PASS_NODE_VALUE;
    NodeCursor root(&state, &context, &state.nodes[0],
                    state.start_turn_slot, state.start_river_slot);
    auto load = [&] {
      for (Player p : {PLAYER_OOP, PLAYER_IP}) {
        NumArray& reach = p == PLAYER_IP ? root.in1 : root.in0;
        const std::vector<double>& w = state.root_hand_weights[p];
        reach.Resize(static_cast<int32_t>(w.size()));
        std::copy(w.begin(), w.end(), reach.data);
      }
    };
    context.phase = PHASE_COLLECT;
    load();
    TraverseNode(root);
    root.out0 = NumArray();
    EXPECT_TRUE(target.per_board_results.empty());  // nothing in the collect walk
    context.phase = PHASE_RUN;
    TraverseSubgames();
    context.phase = PHASE_COMBINE;
    load();
    g_task_read_index = 0;
    TraverseNode(root);
    DestroySubgameTasks();
    for (int32_t h = 0; h < root.out0.count; ++h)
      pass_value +=
          root.out0.data[h] * state.normalised_root_weights[PLAYER_IP][static_cast<size_t>(h)];
  }
  const size_t rivers = state.deal_tree->turn_records[0].river_records.size();
  ASSERT_EQ(target.per_board_results.size(), rivers);
  // The river node is reached on every runout: the per-board values add up to
  // the pass's value, each board one of 44 runouts per hand pair.
  const ReferenceGame game(spot);
  double sum = 0.0;
  for (const auto& [key, result] : target.per_board_results) {
    EXPECT_EQ(key.first, 0);
    const NumArray& weights = *result.first;
    const NumArray& values = *result.second;
    for (int32_t h = 0; h < values.count; ++h) sum += weights.data[h] * values.data[h];
  }
  EXPECT_NEAR(sum / 44.0 / game.PairWeight(), game.CheckDownEv(PLAYER_IP), 1e-9);
  EXPECT_NEAR(pass_value, game.CheckDownEv(PLAYER_IP), 1e-9);
}

TEST_F(TreePassTest, WorkerPoolRunsManyShortBatchesAndRestarts) {
  ASSERT_NO_FATAL_FAILURE(
      BuildSpotWithValues(MakeSpot("2c7d8hKs", "AcAd KhKc", "AhAs QcQd", 60, {{0, 0, 0, 0}})));
  g_scheduler = 2;
  const Values first = Evaluate(PLAYER_OOP);
  for (int i = 0; i < 200; ++i) {
    const Values again = Evaluate(PLAYER_OOP);
    ASSERT_NEAR(again.ev, first.ev, 1e-12) << "pass " << i;
  }
  ShutdownWorkerPool();
  EXPECT_TRUE(g_worker_threads.empty());
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev, first.ev, 1e-12);
  EXPECT_FALSE(g_worker_threads.empty());
}

TEST_F(TreePassTest, FlopSolvingPassesConverge) {
  // Turn tasks with the river walked inside them, 16-bit river regrets and
  // strategy sums from iteration 61 on.
  ASSERT_NO_FATAL_FAILURE(BuildSpotWithValues(FlopSpot()));
  g_scheduler = 2;
  const double start = Exploitability();
  ASSERT_NO_FATAL_FAILURE(RunIterations(100));
  const double exploitability = Exploitability();
  EXPECT_LT(exploitability, 0.005 * 60) << "from " << start;
  EXPECT_NEAR(Evaluate(PLAYER_OOP).ev + Evaluate(PLAYER_IP).ev, 0.0, 1e-9);
}

}  // namespace
