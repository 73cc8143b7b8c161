#pragma once
#include <cstdint>

#include "solver/pass_context.h"
#include "store/num_array.h"

struct SolverState;
struct TreeNode;

// The position of a tree walk: a node of the state's tree seen on the board of
// a turn slot and river slot (-1 = not dealt), the pass that walks it (null for
// walks that are no pass: the split walk, the street-value guard), with the
// walk's arrays. in0 is
// the opponent's reach per hand at the node; out0 and out1 the two value arrays
// the walk returns for the traverser's hands; in1 a second input that a deal
// node hands to its subgames where it has one.
struct NodeCursor {
  SolverState* state = nullptr;
  const PassContext* pass = nullptr;
  TreeNode* node = nullptr;
  int32_t turn_slot = -1;
  int32_t river_slot = -1;
  NumArray in0;
  NumArray out0;
  NumArray in1;
  NumArray out1;

  NodeCursor() = default;
  NodeCursor(SolverState* s, const PassContext* p, TreeNode* n, int32_t turn, int32_t river)
      : state(s), pass(p), node(n), turn_slot(turn), river_slot(river) {}
  NodeCursor(const NodeCursor&) = delete;
  NodeCursor& operator=(const NodeCursor&) = delete;
  // Frees out1, in1, out0, in0 in that order.
  ~NodeCursor() {
    out1.Free();
    in1.Free();
    out0.Free();
    in0.Free();
  }
};
