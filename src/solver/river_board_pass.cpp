#include "solver/river_board_pass.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "solver/array_ops.h"
#include "solver/current_iteration.h"
#include "solver/node_traversal.h"
#include "solver/showdown_columns.h"
#include "solver/solver_state.h"
#include "solver/stack_arrays.h"
#include "solver/terminal_kernels.h"
#include "solver/terminal_nodes.h"
#include "store/value_kernels16.h"
#include "tree/deal_tree.h"
#include "tree/tree_records.h"

namespace {

// The per-hand arrays of the boards' nodes, kept by the thread from board to
// board: an array given back keeps its block, which holds the largest board
// seen so far, and the next board takes it again at its own hand count, so the
// nodes of a board make and drop their arrays without the allocator. Arrays
// that leave the board (the root's values) or are freed on the way (pruned
// reaches, arrays the kernels resize) are simply made again.
class BoardArrays {
 public:
  BoardArrays() = default;
  BoardArrays(const BoardArrays&) = delete;
  BoardArrays& operator=(const BoardArrays&) = delete;
  ~BoardArrays() { Drop(); }

  // The hand count of the board to come; a board larger than any before drops
  // the kept arrays.
  void Start(int32_t hands) {
    hands_ = hands;
    if (hands <= capacity_) return;
    Drop();
    capacity_ = (hands + kRound - 1) / kRound * kRound;
    max_held_ = static_cast<int32_t>(std::clamp<size_t>(
        kHeldBytes / (sizeof(double) * static_cast<size_t>(capacity_)), kMinHeld, kMaxHeld));
  }
  // out, which has no data, given an array of the board's hand count, its
  // values not initialised.
  void Take(NumArray& out) {
    if (held_ > 0) {
      out.data = blocks_[--held_];
      out.count = hands_;
      return;
    }
    out.Resize(capacity_);
    out.count = hands_;
  }
  // a back to a fresh array (absent, count 0), its block kept where it holds
  // the largest board.
  void Give(NumArray& a) {
    if (a.data && held_ < max_held_ && a.Capacity() >= capacity_) {
      blocks_[held_++] = a.data;
      a.data = nullptr;
    }
    a.Free();
    a.count = 0;
  }

 private:
  // The kept blocks back to the allocator, each by an array that owns it.
  void Drop() {
    while (held_ > 0) {
      NumArray owner;
      owner.data = blocks_[--held_];
      owner.count = capacity_;
    }
  }

  static constexpr int32_t kRound = 64;  // the block classes of NumArray
  // 256 KiB a thread: at 1 MiB the flop benchmark's peak rose by 17 MiB on 8
  // threads (3.8% of a level-3 solve's) for no time that could be measured.
  static constexpr size_t kHeldBytes = size_t{1} << 18;
  static constexpr size_t kMinHeld = 32, kMaxHeld = 512;
  double* blocks_[kMaxHeld];
  int32_t held_ = 0, max_held_ = 0;
  int32_t capacity_ = 0, hands_ = 0;
};

enum class FrameKind : uint8_t { kDone, kOwn, kOpponent };

// One node of the board: what sweep 3 needs of it. Children of a decision
// that sweep 1 did not visit (its end pair) have no frame.
struct Frame {
  FrameKind kind = FrameKind::kDone;
  TreeNode* node = nullptr;
  NumArray* in = nullptr;  // the reach the node was reached with (an ancestor's)
  int32_t visited = 0;
  int32_t actions = 0;  // the node's children (an opponent's: its reaches)
  int32_t child[kMaxFusedActions];
  NumArray values;                    // the node's values (out0)
  NumArray best;                      // evaluation passes: its best-response values (out1)
  NumArray reach[kMaxFusedActions];   // an opponent decision's action reaches
  NumArray pair[2];                   // the end pair's showdown and fold values
  uint16_t* rows[kMaxFusedActions];   // the pass player's fused rows
  int32_t hands = 0;

  // Back to a fresh frame, its arrays given back (absent, count 0). Only an
  // opponent's frame fills its action reaches, and only a decision's frame its
  // end pair; the child indices and rows are written before they are read.
  void Reset(BoardArrays& arrays) {
    if (kind == FrameKind::kOpponent)
      for (int32_t a = 0; a < actions; ++a) arrays.Give(reach[a]);
    if (kind != FrameKind::kDone) {
      arrays.Give(pair[0]);
      arrays.Give(pair[1]);
    }
    arrays.Give(values);
    arrays.Give(best);
    kind = FrameKind::kDone;
    visited = 0;
  }
};

// The frames of a board's walk. Frames hold pointers into their ancestors'
// reaches, so they live in chunks that never move; the chunks stay with the
// thread from board to board, so a board needs neither a count of its nodes
// nor room made for them (only a board larger than any before adds a chunk).
class FrameArea {
 public:
  // A fresh frame at index Size().
  Frame& Add() {
    if (static_cast<size_t>(used_) == chunks_.size() * kChunkFrames)
      chunks_.push_back(std::make_unique<Frame[]>(kChunkFrames));
    return (*this)[used_++];
  }
  Frame& operator[](int32_t id) {
    const auto i = static_cast<uint32_t>(id);
    return chunks_[i / kChunkFrames][i % kChunkFrames];
  }
  int32_t Size() const { return used_; }
  // Resets the used frames (their arrays given back); the chunks stay.
  void Clear(BoardArrays& arrays) {
    for (size_t c = 0; used_ > 0; ++c) {
      const uint32_t in_chunk = used_ < static_cast<int32_t>(kChunkFrames)
                                    ? static_cast<uint32_t>(used_)
                                    : kChunkFrames;
      Frame* chunk = chunks_[c].get();
      for (uint32_t k = 0; k < in_chunk; ++k) chunk[k].Reset(arrays);
      used_ -= static_cast<int32_t>(in_chunk);
    }
  }

 private:
  static constexpr uint32_t kChunkFrames = 64;
  std::vector<std::unique_ptr<Frame[]>> chunks_;
  int32_t used_ = 0;
};

// A showdown to value in sweep 2; fold_in set for the pair of an opponent
// decision (ComputeShowdownAndFoldPair), whose fold follows the showdown.
struct PendingShowdown {
  ShowdownColumn column;
  const double* fold_in = nullptr;
  double* fold_out = nullptr;
  double fold_v = 0.0;
};

// Per thread, reused from board to board.
struct BoardPass {
  BoardArrays arrays;
  FrameArea frames;
  std::vector<PendingShowdown> showdowns;
  std::vector<FoldPairColumn> folds;  // sweep 2's pair folds
  SolverState* state = nullptr;
  const PassContext* context = nullptr;  // the pass that walks the board
  const RiverDealRecord* rec = nullptr;
  int32_t turn_slot = -1, river_slot = -1, hands = 0;
  bool busy = false;  // a board below a board (none in a river subtree) walks plainly
  bool evaluating = false;  // an evaluation pass: best-response values ride along
};
thread_local BoardPass t_pass;

TreeNode& NodeAt(SolverState& state, int32_t index) {
  return state.nodes[static_cast<size_t>(index)];
}

bool Usable(const NumArray& in, int32_t hands) { return in.HasData() && in.count == hands; }

// The subtree at node by the recursive walk, its values kept in the frame.
void WalkWhole(BoardPass& pass, Frame& f) {
  NodeCursor sub(pass.state, pass.context, f.node, pass.turn_slot, pass.river_slot);
  sub.in0 = std::move(*f.in);
  TraverseNode(sub);
  *f.in = std::move(sub.in0);
  f.values = std::move(sub.out0);
  f.best = std::move(sub.out1);
}

// Sweep 1: the frame of node, reached with in; returns its index.
int32_t Down(BoardPass& pass, TreeNode* node, NumArray* in) {
  const int32_t id = pass.frames.Size();
  Frame& f = pass.frames.Add();  // frames never move: references stay valid
  f.node = node;
  f.in = in;
  SolverState& state = *pass.state;
  const int32_t n = static_cast<int32_t>(node->children.size());
  f.actions = n;

  if (node->kind == SHOWDOWN_NODE) {
    if (Usable(*in, pass.hands)) {
      pass.arrays.Take(f.values);
      PendingShowdown p;
      p.column.in = in->data;
      p.column.out = f.values.data;
      p.column.v = node->value;
      pass.showdowns.push_back(p);
    } else {
      EvaluateShowdown(*pass.rec, f.values, *in, node->value, !pass.evaluating);
    }
    return id;
  }
  if (node->kind != DECISION_NODE || n < 1 || n > kMaxFusedActions) {
    WalkWhole(pass, f);
    return id;
  }

  NodeCursor cursor(pass.state, pass.context, node, pass.turn_slot, pass.river_slot);
  double showdown_value = 0.0, fold_value = 0.0;
  // Evaluation passes walk an end pair's two children one by one.
  const bool end_pair =
      !pass.evaluating &&
      RiverEndPairValues(state, *pass.context, *node, &showdown_value, &fold_value);
  f.visited = n;
  if (node->player == pass.context->player) {
    if (pass.evaluating ? !OwnDecisionEvaluable(cursor)
                        : !OwnDecisionFusedRows(cursor, f.rows, &f.hands)) {
      WalkWhole(pass, f);
      return id;
    }
    f.kind = FrameKind::kOwn;
    if (end_pair) {
      if (Usable(*in, pass.hands)) {
        pass.arrays.Take(f.pair[0]);
        pass.arrays.Take(f.pair[1]);
        PendingShowdown p;
        p.column.in = in->data;
        p.column.out = f.pair[0].data;
        p.column.f = showdown_value;
        p.column.fold_out = f.pair[1].data;
        p.column.fold_v = fold_value;
        pass.showdowns.push_back(p);
      } else {
        EvaluateRiverEndPair(*pass.rec, f.pair[0], f.pair[1], *in, showdown_value, fold_value);
      }
      f.visited = n - 2;
    }
    for (int32_t i = 0; i < f.visited; ++i) {
      const int32_t c = Down(pass, &NodeAt(state, node->children[i]), in);
      pass.frames[id].child[i] = c;
    }
    return id;
  }

  f.kind = FrameKind::kOpponent;
  // The reaches of a usable reach are made at the board's hand count (those of
  // an absent reach stay absent).
  if (Usable(*in, pass.hands))
    for (int32_t a = 0; a < n; ++a) pass.arrays.Take(f.reach[a]);
  cursor.in0 = std::move(*in);
  OpponentDecisionReaches(cursor, f.reach);
  *in = std::move(cursor.in0);
  if (end_pair && f.reach[n - 2].HasData() && f.reach[n - 1].HasData()) {
    if (Usable(f.reach[n - 2], pass.hands) && Usable(f.reach[n - 1], pass.hands)) {
      pass.arrays.Take(f.pair[0]);
      pass.arrays.Take(f.pair[1]);
      PendingShowdown p;
      p.column.in = f.reach[n - 2].data;
      p.column.out = f.pair[0].data;
      p.column.v = showdown_value;
      p.column.walk_small = true;
      p.fold_in = f.reach[n - 1].data;
      p.fold_out = f.pair[1].data;
      p.fold_v = fold_value;
      pass.showdowns.push_back(p);
    } else {
      EvaluateRiverEndPairWithReaches(*pass.rec, f.pair[0], f.pair[1], f.reach[n - 2],
                                      f.reach[n - 1], showdown_value, fold_value);
    }
    f.visited = n - 2;
  }
  for (int32_t i = 0; i < f.visited; ++i) {
    Frame& self = pass.frames[id];
    const int32_t c = Down(pass, &NodeAt(state, node->children[i]), &self.reach[i]);
    pass.frames[id].child[i] = c;
  }
  return id;
}

// Pair folds gathered from a board's columns, at least this many to a
// four-column fold pass; fewer go by one compacting scan each, which is
// cheaper for a lone fold on a sparse reach.
constexpr size_t kMinFoldColumns = 3;

inline bool AtFloor(double total) { return std::fabs(total) <= kShowdownTotalFloor; }

// The showdowns [first, first + taken) (three or four) by one four-column
// kernel call; the folds of their pairs ride in the spare columns while there
// are any, the others are gathered in pass.folds.
void ValueShowdownSet(BoardPass& pass, size_t first, size_t taken) {
  constexpr size_t kWidth = 4;
  const RiverDealRecord& rec = *pass.rec;
  const int32_t n = pass.hands;
  ShowdownColumn columns[kWidth];
  int8_t rider_of[kWidth];  // per showdown its fold's column, -1 if it has none there
  size_t spare = taken;
  for (size_t k = 0; k < taken; ++k) {
    const PendingShowdown& p = pass.showdowns[first + k];
    columns[k] = p.column;
    rider_of[k] = -1;
    if (!p.fold_in || spare == kWidth) continue;
    ShowdownColumn& c = columns[spare];
    c.in = p.fold_in;
    c.v = p.fold_v;
    c.fold_out = p.fold_out;
    c.fold_only = true;
    c.walk_small = true;
    rider_of[k] = static_cast<int8_t>(spare++);
  }
  Kernels<ShowdownColumnsKernels>().ComputeShowdownColumns(
      columns, n, rec.strength_groups.data(), static_cast<int32_t>(rec.strength_groups.size()),
      rec.hand_cards.data());
  for (size_t k = 0; k < taken; ++k) {
    const PendingShowdown& p = pass.showdowns[first + k];
    if (!p.fold_in) continue;
    if (rider_of[k] < 0) {
      pass.folds.push_back({p.fold_in, p.fold_out, p.column.out, p.fold_v, columns[k].total});
    } else if (AtFloor(columns[k].total) && AtFloor(columns[rider_of[k]].total)) {
      // As the pair kernel: nothing to value on either side.
      std::memset(p.column.out, 0, sizeof(double) * static_cast<size_t>(n));
      std::memset(p.fold_out, 0, sizeof(double) * static_cast<size_t>(n));
    }
  }
}

// Sweep 2: the noted showdowns in sets by the column kernels, then the folds of
// the pairs that found no spare column (they need their showdown's total),
// four at a time. Sets of three or four go by the four-column kernel; one or
// two left over are cheaper by the single-node kernels. An eight-column kernel
// (one scan and one walk for five to eight showdowns) ran 1.7-2.7% fewer
// instructions per solve but more CPU time, on one thread and on eight: the
// union of the reaches' entries grows, and every entry costs two vectors per
// card row.
void ValueShowdowns(BoardPass& pass) {
  const RiverDealRecord& rec = *pass.rec;
  const int32_t n = pass.hands;
  const int16_t* groups = rec.strength_groups.data();
  const int32_t group_count = static_cast<int32_t>(rec.strength_groups.size());
  const uint16_t* cards = rec.hand_cards.data();
  const size_t count = pass.showdowns.size();
  std::vector<FoldPairColumn>& folds = pass.folds;
  folds.clear();
  const ShowdownColumnsKernels& columns_kernels = Kernels<ShowdownColumnsKernels>();
  size_t first = 0;
  while (count - first >= 3) {
    const size_t left = count - first;
    const size_t taken = left < 4 ? left : 4;
    ValueShowdownSet(pass, first, taken);
    first += taken;
  }
  size_t fold = 0;
  for (; fold + kMinFoldColumns <= folds.size(); fold += 4) {
    FoldPairColumn set[4];
    const size_t taken = folds.size() - fold < 4 ? folds.size() - fold : 4;
    for (size_t k = 0; k < taken; ++k) set[k] = folds[fold + k];
    columns_kernels.FinishShowdownFoldColumns(set, n, cards);
  }
  for (; fold < folds.size(); ++fold) {
    const FoldPairColumn& f = folds[fold];
    columns_kernels.FinishShowdownFoldPair(f.showdown_out, f.out, f.in, n, cards, f.v,
                                           f.showdown_total);
  }
  const TerminalKernels& kernels = Kernels<TerminalKernels>();
  for (; first < count; ++first) {
    const PendingShowdown& p = pass.showdowns[first];
    const ShowdownColumn& c = p.column;
    if (p.fold_in)
      kernels.ComputeShowdownAndFoldPair(c.out, p.fold_out, c.in, p.fold_in, n, groups,
                                         group_count, cards, c.v, p.fold_v);
    else if (c.fold_out)
      kernels.ComputeShowdownAndFold(c.out, c.fold_out, c.in, n, groups, group_count, cards, c.f,
                                     c.fold_v);
    else
      kernels.ComputeShowdownValues(c.out, c.in, n, groups, group_count, cards, c.v);
  }
}

void Up(BoardPass& pass, int32_t id);

// A child's values (and in evaluation passes its best-response values), once
// its own sweep 3 is done.
void TakeChild(BoardPass& pass, int32_t id, NumArray& values, NumArray& best) {
  Up(pass, id);
  Frame& c = pass.frames[id];
  values = std::move(c.values);
  if (!pass.evaluating) return;
  // As the end-node walk: a showdown's best response is its value.
  if (c.node->kind == SHOWDOWN_NODE)
    best.CopyFrom(values);
  else
    best = std::move(c.best);
}

// Sweep 3: the values of frame id, its children's first.
void Up(BoardPass& pass, int32_t id) {
  Frame& f = pass.frames[id];
  if (f.kind == FrameKind::kDone) return;
  SolverState& state = *pass.state;
  const TreeNode& node = *f.node;
  const int32_t n = static_cast<int32_t>(node.children.size());
  if (f.kind == FrameKind::kOpponent) {
    for (int32_t i = 0; i < n; ++i) {
      NumArray values, best;
      if (i < f.visited)
        TakeChild(pass, f.child[i], values, best);
      else
        values = std::move(f.pair[i - (n - 2)]);
      if (i == 0) {
        f.values = std::move(values);
        f.best = std::move(best);
      } else {
        const ArrayOpsKernels& ops = Kernels<ArrayOpsKernels>();
        ops.AccumulateArray(f.values, values);
        if (pass.evaluating) ops.AccumulateArray(f.best, best);
        pass.arrays.Give(values);
        pass.arrays.Give(best);
      }
    }
    return;
  }
  // Only the first n arrays are made, the best responses only when evaluating.
  StackArrays value_arrays(n);
  StackArrays best_arrays(pass.evaluating ? n : 0);
  NumArray* action_values = value_arrays.data();
  NumArray* best = best_arrays.data();
  NumArray unused;  // TakeChild writes no best response in solving passes
  int32_t first_count = 0;
  for (int32_t i = 0; i < n; ++i) {
    NumArray& values = action_values[i];
    if (i < f.visited)
      TakeChild(pass, f.child[i], values, pass.evaluating ? best[i] : unused);
    else
      values = std::move(f.pair[i - (n - 2)]);
    if (!pass.evaluating) ApplyEvBoost(values, node, NodeAt(state, node.children[i]));
    if (i == 0) first_count = values.count;
  }
  NodeCursor cursor(pass.state, pass.context, f.node, pass.turn_slot, pass.river_slot);
  // Both ends write the node's values over the whole of out0 where the reach
  // is usable; otherwise they leave it absent.
  if (Usable(*f.in, pass.hands)) pass.arrays.Take(cursor.out0);
  cursor.in0 = std::move(*f.in);
  if (pass.evaluating)
    FinishEvaluatedOwnDecision(cursor, action_values, best, first_count);
  else
    FinishFusedOwnDecision(cursor, f.rows, f.hands, action_values, first_count);
  *f.in = std::move(cursor.in0);
  f.values = std::move(cursor.out0);
  f.best = std::move(cursor.out1);
  for (int32_t i = 0; i < n; ++i) pass.arrays.Give(action_values[i]);
  if (pass.evaluating)
    for (int32_t i = 0; i < n; ++i) pass.arrays.Give(best[i]);
}

}  // namespace

void TraverseRiverBoard(NodeCursor& cursor) {
  SolverState& state = *cursor.state;
  TreeNode& node = *cursor.node;
  const DealTree* deal = state.deal_tree.get();
  const PassMode mode = cursor.pass->mode;
  const bool usual = g_river_board_sweeps.load(std::memory_order_relaxed) &&
                     (mode == PASS_SOLVE || mode == PASS_EVALUATE) && deal &&
                     node.kind == DECISION_NODE && node.street == STREET_RIVER &&
                     cursor.in1.count == 0 && cursor.turn_slot >= 0 &&
                     cursor.river_slot >= 0 &&
                     g_current_iteration.load(std::memory_order_relaxed) >= 0;
  const TurnDealRecord* turn =
      usual && static_cast<size_t>(cursor.turn_slot) < deal->turn_records.size()
          ? &deal->turn_records[static_cast<size_t>(cursor.turn_slot)]
          : nullptr;
  const RiverDealRecord* rec =
      turn && static_cast<size_t>(cursor.river_slot) < turn->river_records.size()
          ? &turn->river_records[static_cast<size_t>(cursor.river_slot)]
          : nullptr;
  if (!rec || t_pass.busy || rec->hand_group_flag != 0 || rec->HandCount() > kMaxBoardHands ||
      rec->hand_cards.size() != static_cast<size_t>(rec->HandCount()) || !rec->cards_in_range)
    return TraverseNode(cursor);

  BoardPass& pass = t_pass;
  pass.state = &state;
  pass.context = cursor.pass;
  pass.rec = rec;
  pass.turn_slot = cursor.turn_slot;
  pass.river_slot = cursor.river_slot;
  pass.hands = rec->HandCount();
  pass.evaluating = mode == PASS_EVALUATE;
  pass.arrays.Start(pass.hands);
  pass.frames.Clear(pass.arrays);
  pass.showdowns.clear();
  // Frees the board's arrays and the area, also when the walk fails.
  struct InUse {
    BoardPass& pass;
    explicit InUse(BoardPass& p) : pass(p) { pass.busy = true; }
    ~InUse() {
      pass.frames.Clear(pass.arrays);
      pass.busy = false;
    }
  } in_use(pass);
  const int32_t root = Down(pass, &node, &cursor.in0);
  ValueShowdowns(pass);
  Up(pass, root);
  Frame& top = pass.frames[root];
  cursor.out0 = std::move(top.values);
  cursor.out1 = std::move(top.best);
}
