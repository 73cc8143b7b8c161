#pragma once
#include <cstdint>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"

struct ResolvedPath;
struct SolverState;

// How often play follows a line of the game tree. The frequency of OOP's
// combination c at a node is own(c) x compatible(c) x scale: OOP's reach
// weight of c there (range weight times OOP's action probabilities along the
// line), the sum of IP's reach weights over the hands sharing no card with c,
// and the runouts still to come per matchup (1980 on the flop, 44 on the turn,
// 1 on the river), so that frequencies of different streets add alike.

// Per-combination frequencies of the player at the node on the board of the
// real cards (-1 = not dealt), ComboIndex order, real suits; the quiet NaN for
// a combination off the board or outside the player's build-time range.
// Without a tree (null) nothing is written.
void ComputeNodeFrequencies(SolverState* state, Player player, int32_t node_index,
                            int32_t turn_card, int32_t river_card, double* out);

// The sum of the non-NaN entries of ComputeNodeFrequencies.
double SumNodeFrequencies(SolverState* state, int32_t node_index, int32_t turn_card,
                          int32_t river_card);

// The street of a path's line: that of the cards it deals, or the node's own
// street when that is later (a path stopping before its street's card, a
// showdown after an all-in).
Street LineStreet(const SolverState& state, const ResolvedPath& path);

// Adds to sum the node's frequency over the runouts its street needs from the
// tree's starting street: the path's own cards where the node is on that
// street, every turn card off the board for a turn node of a flop tree, every
// river card for a river node of a turn tree; nothing for other pairs.
void ComputeLineFrequency(SolverState* state, const ResolvedPath& path, double* sum);

// The node's frequency summed over every runout of the list: one group per
// turn card, each entry turn << 8 | river. The runouts of a group run in
// parallel; the result does not depend on the schedule.
double CalcRiverLineFrequency(SolverState* state, int32_t node_index,
                              const std::vector<std::vector<uint16_t>>& runouts);

// Every turn card and every other river card off the board, grouped by turn
// card in ascending order.
std::vector<std::vector<uint16_t>> MakeRunoutList(uint64_t board);
