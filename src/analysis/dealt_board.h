#pragma once
#include <cstdint>

struct SolverState;
struct TreeNode;

// The board a query asks about at a node: the real dealt cards of its path cut
// down to the node's street, the turn and river slots that address the board
// in the node's stores, and the board's combination map. Queries take real
// cards and move them to the tree's canonical suits when it has isomorphism on.
struct DealtBoard {
  int32_t turn_card = -1;  // real suits; -1 where the node's street has none
  int32_t river_card = -1;
  int32_t turn_slot = -1;
  int32_t river_slot = -1;
  const int16_t* combo_map = nullptr;  // 1326 entries: ComboIndex -> hand, -1 none
  int32_t hand_count = 0;
};

// The board of the node for the path's cards (-1 = not dealt). False when the
// node's street needs a card the path does not deal, or one the tree has no
// record of (the board then has no combo map).
bool ResolveDealtBoard(const SolverState& state, const TreeNode& node, int32_t turn_card,
                       int32_t river_card, DealtBoard& board);

// Moves 1326 values in ComboIndex order between the tree's canonical suits and
// the real suits of the board; a plain copy without isomorphism. out and in
// must not overlap.
void ComboValuesToReal(const SolverState& state, const DealtBoard& board, double* out,
                       const double* in);
void ComboValuesToCanonical(const SolverState& state, const DealtBoard& board, double* out,
                            const double* in);
