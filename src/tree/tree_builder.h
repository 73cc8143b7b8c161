#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/tree_records.h"

struct SchematicNode;

// Building the game tree from the program-wide situation: ranges, board, pot
// and bet lines. Installing it as the solver's state and preparing it for
// solving is the command layer's.

// The street the current tree starts on.
extern Street g_start_street;
// The largest amount of any bet line, truncated.
extern int32_t g_effective_stack;
// A game tree exists.
extern uint8_t g_tree_present;
// The loaded tree file carries no per-card values.
extern uint8_t g_tree_without_values;

// Longest line the builder accepts, in actions from the root. Every walk over
// the tree may recurse along a line, so deeper lines are refused as invalid.
constexpr int32_t kMaxLineActions = 1000;

// A build from the program-wide bet lines, read and checked: the street the
// tree starts on, the effective stack, the flattened entries with the bet-line
// node of each, the cards (card numbers, -1 where absent) and the isomorphism
// switch of the starting street.
struct TreeLines {
  Street start_street = STREET_FLOP;
  int32_t effective_stack = 0;
  std::vector<LineEntry> entries;
  std::vector<SchematicNode*> line_nodes;
  int flop_cards[3] = {-1, -1, -1};  // ascending
  int turn_card = -1;
  int river_card = -1;
  bool isomorphism = false;
};

// Reads the situation (ranges, board, pot, bet lines) for a build, with the
// isomorphism switch per starting street (index 1 flop, 2 turn, 3 river).
// Refuses (CommandRefusal) ranges or board not set, an inconsistent range, no
// lines, a line too long or beyond the river, and lines whose end values are
// all 0. Changes nothing.
TreeLines ReadTreeLines(const uint8_t isomorphism_by_street[4]);

// Once the tree built from the lines is in place: the globals and the bet
// lines' entry indices describe it.
void CommitTreeLines(const TreeLines& lines);

// Builds the tree's node array and dealt cards from the entries and the cards
// (card numbers, -1 where absent); the ranges are 1326 weights in ComboIndex
// order. Refuses on a board or range that gives no tree.
void BuildGameTree(GameTree& tree, const LineEntry* entries, size_t count, int flop0,
                   int flop1, int flop2, int turn, int river,
                   const std::vector<double>& oop_range, const std::vector<double>& ip_range,
                   bool isomorphism);

// Fills the node array from the entries: links, turn mutexes and card records,
// action statistics and the largest end-node value.
void BuildActionNodes(GameTree& tree, const LineEntry* entries, size_t count);

// Fails the build when isomorphism is on for the starting street and a range
// gives two combinations of one hand class off the board different weights.
void CheckRangeConsistency(Street start_street, CardMask board, bool isomorphism);

// Appends the entries of the node's subtree in pre-order (child order below
// each node), without recursion. nodes receives the bet-line node of each entry.
// Returns false, with what was appended so far, once a line is longer than
// kMaxLineActions.
bool FlattenLines(std::vector<LineEntry>& entries, std::vector<SchematicNode*>& nodes,
                  SchematicNode* node, int32_t parent, double key, Street start_street,
                  double pot);
