#pragma once
#include <cstdint>
#include <vector>

struct SolverState;

// The strategy the engine shows for a decision node on one board: the current
// strategy (regret store) up to iteration 62, from iteration 63 on the average
// strategy (strategy sums) with the current one for hands that have no average
// yet. Per child, 1326 values in ComboIndex order, real suits: the probability
// of taking the child with the combination; the quiet NaN for a combination
// off the board, 0 where the acting player's weight in the tree's range copy
// is 0. A node on a forgotten street is re-solved for the board first.

// Every child's row at once (one store read for the whole node). Without a
// tree or for a node that is no decision, nothing is written.
void GetDisplayStrategies(SolverState* state, int32_t node_index, int32_t turn_card,
                          int32_t river_card, std::vector<std::vector<double>>& out);

// One child's row into out (1326 values).
void GetDisplayStrategy(SolverState* state, int32_t node_index, int32_t child,
                        int32_t turn_card, int32_t river_card, double* out);
