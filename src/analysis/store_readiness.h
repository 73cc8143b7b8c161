#pragma once
#include <cstdint>

#include "cards/card.h"

struct DealtBoard;
struct SolverState;
struct TreeNode;

// What every query runs before it reads a node's stores: the values of every
// store allocated, and the subtree of a forgotten street brought back and
// re-solved for the board asked about.

// Allocates the values of every store not yet allocated (once per tree: the
// tree's all-stores-ready mark). A store that cannot be allocated stops the
// allocation quietly; the query goes on and reads what exists.
void EnsureStoresAllocated(SolverState& state);

// When the node lies on a forgotten street and the board deals what its street
// needs: makes the stores of the street root's subtree where they are missing
// and re-solves that subtree for the board unless it was already re-solved.
// Nothing otherwise.
void RebuildForgottenSubtree(SolverState& state, TreeNode& node, const DealtBoard& board);

// The first forgotten street of the tree; STREET_NONE unless the tree is
// marked incomplete (a street counts as forgotten only while it is).
Street ForgottenStreet(const SolverState& state);

// The street root of a node on a forgotten street: the topmost node of its
// line, itself included, whose street is not before the first forgotten one.
TreeNode& ForgottenStreetRoot(SolverState& state, TreeNode& node);
