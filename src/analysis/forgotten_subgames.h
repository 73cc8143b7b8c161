#pragma once
#include <cstdint>

#include "cards/card.h"

struct DealtBoard;
struct SolverState;
struct TreeNode;

// Re-solving a forgotten street on demand. Forgetting keeps, in the card
// records of each first decision node of the forgotten street, both players'
// reach arriving there per dealt card; a query below such a street root has
// the subgame of its dealt board solved again from that reach, by solving
// passes on the calling thread, before it reads the stores.

// The first forgotten street of the tree; STREET_NONE unless the tree is
// marked incomplete (a street counts as forgotten only while it is).
Street ForgottenStreet(const SolverState& state);

// The street root of a node on a forgotten street: the topmost node of its
// line, itself included, whose street is not before the first forgotten one.
TreeNode& ForgottenStreetRoot(SolverState& state, TreeNode& node);

// What a query of a node runs after EnsureStoresAllocated: when the node lies
// on a forgotten street and the board deals what its street needs, makes the
// stores of the street root's subtree where they are missing and re-solves
// that subtree for the board unless it was already re-solved. Nothing
// otherwise.
void RebuildForgottenSubtree(SolverState& state, TreeNode& node, const DealtBoard& board);

// Re-solves the subgame below the street root (a decision node on the turn or
// the river) for one dealt board: slot_a is the turn slot; slot_b the river
// slot on a river root (not read on a turn root). The subtree's stores exist
// and hold values. Unless forced, a board already re-solved is left alone and
// 0.0 comes back. Otherwise passes run until the accuracy measure (half the
// sum of both players' best-response values over the subgame, per unit of
// joint reach) is within the street's set_recalc_accuracy target, checked at
// iteration 50 and every 25 after, or for 1000 iterations; the last measure
// comes back (0.0 when the stored reach gives no pair of hands that can meet).
// The tree's iteration count and flags are the same afterwards. Holds
// g_tree_pass_mutex throughout: the caller must not hold it.
double ResolveForgottenSubgame(SolverState& state, TreeNode& root, int32_t slot_a, int32_t slot_b,
                               bool force);

// solve_partial and explo_partial: for a decision node and the real dealt
// cards of its path (-1 = none), makes the street root's subtree anew and
// forces the re-solve of the board; returns its measure, or 0.0 when the node
// is not on a forgotten street or its street's card is not dealt.
double ComputePartialValue(SolverState& state, int32_t node_index, int32_t turn_card,
                           int32_t river_card);

// Makes and allocates the stores of the street root's subtree where they are
// missing (the first query below a forgotten street root). True when every
// decision node of the subtree then holds values.
bool PrepareForgottenSubtree(SolverState& state, TreeNode& root);
