#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "cards/combo_tables.h"

// The bet lines: one program-wide tree of actions. Every amount is one player's
// total commitment since the start of the tree (the starting pot excluded).

struct SchematicNode;

// Children by the amount of the action (a fold under -1.0), iterated by
// DESCENDING key: largest bet or raise first, then call or check, fold last.
// This is the child order of the node everywhere in the engine. Keys compare
// exactly; NaN never gets in (the map's order would break).
using SchematicChildren = std::map<double, std::unique_ptr<SchematicNode>, std::greater<double>>;

// The key of a fold; every other key is the amount of its action.
constexpr double kFoldKey = -1.0;

struct SchematicNode {
  SchematicNode* parent = nullptr;  // null at the root
  SchematicChildren children;       // owned
  Player player = PLAYER_OOP;       // player to act
  uint32_t street = 0;              // street within the line, 0 = the tree's starting street
  uint32_t bets = 0;                // bets and raises made so far on this street
  uint32_t entry_index = 0;         // index of the node's LineEntry / TreeNode, set by each flattening
  double amount = 0.0;              // largest total commitment so far in the line
  double commitment[2] = {0.0, 0.0};  // total commitment of OOP and of IP

  SchematicNode() = default;
  explicit SchematicNode(SchematicNode* parent_node) : parent(parent_node) {}
  // Deletes the whole subtree without recursion: a line may be as deep as a
  // command line is long.
  ~SchematicNode();
  SchematicNode(const SchematicNode&) = delete;
  SchematicNode& operator=(const SchematicNode&) = delete;
};

// The root of the bet lines; never null between start-up and exit. The bet
// lines own it.
extern SchematicNode* g_schematic_root;

// Creates the empty root (once); it is deleted at exit. Runs during static
// initialisation, before the command loop.
void InitSchematicRoot();

// Installs a new empty root, then deletes the old tree (clear_lines, loading a
// tree file).
void ReplaceSchematicRoot();

// Removes the node from its parent's children, deleting it with its subtree.
// Returns false (and does nothing) for a node without parent.
bool EraseSchematicSubtree(SchematicNode* node);

// The child under the key, or null.
SchematicNode* FindSchematicChild(const SchematicNode* node, double key);

// A bet line being walked from the root, one amount at a time (add_line,
// force_line): the node reached and the state of the betting there.
struct LineCursor {
  SchematicNode* node = nullptr;
  Player player = PLAYER_OOP;  // to act next
  uint32_t street = 0;
  uint32_t bets = 0;
  bool after_check = false;
  double previous = 0.0;  // the largest amount so far
};

// Resets the root's own figures and puts a cursor on it.
LineCursor StartLine();

// Steps to the child under the amount, creating it together with the automatic
// call, fold and check-back answers where missing; with force, every other
// action at the node is erased first. False, with nothing changed, when the
// amount is below the previous one.
bool ExtendLine(LineCursor& cursor, double amount, bool force);

// The largest of start and every key below the node.
double FindMaxLineAmount(const SchematicNode* node, double start);
