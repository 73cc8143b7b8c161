#pragma once
#include <cstdint>

struct SolverState;
struct TreeNode;

// Locking a decision node's strategy on one board (the board of the real
// dealt cards, -1 = not dealt), and user strategies. Each board of a node's
// two stores has a lock record: free, LOCKED (the solver leaves the board's
// regrets as they are, so its current strategy stays) or COMBO_LOCKED (a mask
// of the hands whose regrets stay and whose strategy sums add nothing). A
// record holds a mask exactly while COMBO_LOCKED is set, and both stores'
// records of a board carry the same state. A node on a forgotten street is
// brought back (re-solved for the board) before anything is read or written.
// Callers make sure no solver runs while they change anything. The changing
// kernels return false, with nothing changed, when the node's stores cannot
// be given their values (or the cards give no board of the node).

// lock_node (on) and unlock_node (off): the whole board locked or freed; a
// combination mask is dropped either way.
bool SetNodeLock(SolverState& state, int32_t node_index, int32_t turn_card, int32_t river_card,
                 bool on);

// set_strategy: one child's row of the regret store on the board set to 1000
// times the given values (1326 in ComboIndex order, real suits), so that the
// current strategy is their normalisation over the children; that row of the
// strategy sums restarts from zero where they are in use. Lock flags stay.
bool SetNodeStrategy(SolverState& state, int32_t node_index, int32_t child, int32_t turn_card,
                     int32_t river_card, const double* values);

// combo_lock_node: the board combination-locked for the hands whose value
// (1326 in ComboIndex order, real suits) is not 0.
bool SetComboLocks(SolverState& state, int32_t node_index, int32_t turn_card, int32_t river_card,
                   const double* values);

// show_locked_combos: 1 for each combination whose hand the board's mask
// freezes, 0 for the others on the board, NaN off the board (1326 values in
// ComboIndex order, real suits). Without a tree nothing is written.
void GetLockedCombos(SolverState* state, int32_t node_index, int32_t turn_card,
                     int32_t river_card, double* out);

// The largest probability set_strategy can store at the node: its regret
// values are kept as 16-bit integers on the river of a tree that deals it.
double MaxUserStrategyValue(const SolverState& state, const TreeNode& node);
