#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/tree_records.h"

struct SchematicNode;

// Building the game tree from the program-wide situation: ranges, board, pot,
// bet lines, isomorphism switches and compression setting.

// The street the current tree starts on: 1 flop, 2 turn, 3 river.
extern int32_t g_start_street;
// The largest amount of any bet line, truncated.
extern int32_t g_effective_stack;
// A game tree exists.
extern uint8_t g_tree_present;
// The loaded tree file carries no per-card values.
extern uint8_t g_tree_without_values;

// Longest line the builder accepts, in actions from the root. Every walk over
// the tree may recurse along a line, so deeper lines are refused as invalid.
constexpr int32_t kMaxLineActions = 1000;

// Builds the game tree from the lines. build 1 (build_tree, cut_line) also
// chooses the compression level and prepares the stores; build 0 (tree files)
// leaves that to the reader. Errors are refusals (CommandRefusal) with the
// reason; then the previous tree, if any, is still in place and complete.
void BuildTreeFromLines(int build);

// Builds a solver state from the entries and the cards (card numbers, -1 where
// absent) and installs it as g_solver_state in place of the old one, which is
// destroyed only once the new one is complete. Throws on a board or range that
// gives no tree; the old state then stays.
SolverState* CreateGameTree(int32_t storage_kind, const LineEntry* entries, size_t count,
                            int32_t deal_flag, int flop0, int flop1, int flop2, int turn, int river,
                            const std::vector<double>& oop_range,
                            const std::vector<double>& ip_range, bool isomorphism);

// Fills the node array from the entries: links, turn mutexes and card records,
// action statistics and the largest end-node value.
void BuildActionNodes(SolverState& state, const LineEntry* entries, size_t count);

// Fails the build when isomorphism is on for the starting street and a range
// gives two combinations of one hand class off the board different weights.
void CheckRangeConsistency(int32_t start_street, CardMask board);

// Appends the entries of the node's subtree in pre-order (child order below
// each node), without recursion. nodes receives the bet-line node of each entry.
// Returns false, with what was appended so far, once a line is longer than
// kMaxLineActions.
bool FlattenLines(std::vector<LineEntry>& entries, std::vector<SchematicNode*>& nodes,
                  SchematicNode* node, int32_t parent, double key, int32_t start_street,
                  double pot);
