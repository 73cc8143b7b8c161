#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cards/card.h"
#include "tree/schematic_tree.h"

struct GameTree;

// Node paths: the text address of a node of the game tree, words joined by ":".
// "r" alone names no node; "r:0" is the root; then one word per step: "b" and
// an amount (the child under that key), "c" (the child under the node's own
// amount: call, check or check-back), "f" (the fold, key -1.0), or a dealt card
// right after a step that ends a street.

constexpr int32_t kNoCard = -1;

struct ResolvedPath {
  SchematicNode* node = nullptr;  // null for "r"
  int32_t turn_card = kNoCard;    // card number, kNoCard when none is dealt
  int32_t river_card = kNoCard;
  uint8_t split = 0;  // the path ends where a card is to be dealt next
};

// The lowest card of a board mask, kNoCard for an empty mask.
int32_t LowestCard(CardMask mask);

// The street of a bet-line node counted from the flop: g_start_street plus the
// node's street within the line (past STREET_RIVER on lines beyond the river).
Street AbsoluteStreet(const SchematicNode* node);

// True when the step from the node to its child ends a street before the river
// is over, so that a card is dealt next.
bool IsChanceStep(const SchematicNode& node, const SchematicNode& child);

// True when the node was not part of the build of the tree (added to the lines
// since, or its index rewritten by a build that failed): its entry index does
// not lead to a node of the tree's node array under its parent's node. Every
// node is stale without a tree (null).
bool IsStaleNode(const GameTree* tree, const SchematicNode* node);

// Resolves a path against the bet lines of the tree (null: none). Refuses with
// "missing/incorrect tree" without a tree and "incorrect path" for any path
// that does not lead to a node; a "b" word without a number throws the
// conversion error that the dispatcher answers "Invalid value", a bad card the
// unnamed refusal "invalid card".
// Nodes added to the lines since the build have no game-tree node: only the
// reports (lines_since_build set) reach them, since a command acting on the
// tree would act on whatever node their stale index names.
ResolvedPath ResolveNodePath(const GameTree* tree, const std::string& text,
                             bool lines_since_build = false);

// The parent's path: the parent node, with the turn card kept from the turn on
// and the river card on the river, split cleared. A path without node, and the
// root's parent (no node), keep their cards.
ResolvedPath GetParentPath(const ResolvedPath& path);

// The cards of a card text (two characters per card, either case, blanks
// between cards); refuses a bad or repeated card as ParseCardText does.
CardMask ParseCard(const std::string& text);

// "ROOT", "SPLIT_NODE", "END_NODE", "IP_DEC" or "OOP_DEC".
std::string GetNodeTypeName(const ResolvedPath& path);

// The path word of child i: "b" and the exact amount of a bet or raise, "c",
// "f"; at a chance point the name of the i-th card that can come; "0" for the
// root below "r". Empty when there is no child i.
std::string MakeChildLabel(const ResolvedPath& path, int i);
// The path word of the node's child under the key.
std::string MakeActionLabel(const SchematicNode& node, double key);

// The cards that can come at a chance point (off the board and the path's
// cards), in the order rank A down to 2 and spades, hearts, diamonds, clubs
// within a rank.
std::vector<int32_t> ListNextCards(const ResolvedPath& path);
