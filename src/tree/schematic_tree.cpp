#include "tree/schematic_tree.h"

#include <memory>
#include <utility>
#include <vector>

SchematicNode* g_schematic_root = nullptr;

namespace {

// Owns the root that g_schematic_root names; the root goes at exit with it.
std::unique_ptr<SchematicNode> g_root_owner;

// The root exists before any command can run.
[[maybe_unused]] const bool g_schematic_root_ready = (InitSchematicRoot(), true);

// Moves every child of the node onto the pending list, leaving its map empty,
// so that no destructor ever recurses more than one level.
void TakeChildren(SchematicNode* node, std::vector<std::unique_ptr<SchematicNode>>* pending) {
  for (auto& entry : node->children) pending->push_back(std::move(entry.second));
  node->children.clear();
}

SchematicNode* GetOrCreateChild(SchematicNode* node, double key, bool* created) {
  auto [it, inserted] = node->children.try_emplace(key);
  if (inserted) it->second = std::make_unique<SchematicNode>(node);
  *created = inserted;
  return it->second.get();
}

}  // namespace

SchematicNode::~SchematicNode() {
  if (children.empty()) return;
  std::vector<std::unique_ptr<SchematicNode>> pending;
  TakeChildren(this, &pending);
  while (!pending.empty()) {
    std::unique_ptr<SchematicNode> node = std::move(pending.back());
    pending.pop_back();
    TakeChildren(node.get(), &pending);
  }
}

void InitSchematicRoot() {
  if (g_schematic_root) return;
  g_root_owner = std::make_unique<SchematicNode>();
  g_schematic_root = g_root_owner.get();
}

void ReplaceSchematicRoot() {
  std::unique_ptr<SchematicNode> old_root = std::move(g_root_owner);
  g_root_owner = std::make_unique<SchematicNode>();
  g_schematic_root = g_root_owner.get();
}

bool EraseSchematicSubtree(SchematicNode* node) {
  SchematicNode* parent = node->parent;
  if (!parent) return false;
  for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
    if (it->second.get() == node) {
      parent->children.erase(it);
      return true;
    }
  }
  return false;
}

SchematicNode* FindSchematicChild(const SchematicNode* node, double key) {
  auto it = node->children.find(key);
  return it == node->children.end() ? nullptr : it->second.get();
}

LineCursor StartLine() {
  SchematicNode* root = g_schematic_root;
  root->player = PLAYER_OOP;
  root->street = 0;
  root->bets = 0;
  root->amount = 0.0;
  root->commitment[PLAYER_OOP] = root->commitment[PLAYER_IP] = 0.0;
  LineCursor cursor;
  cursor.node = root;
  return cursor;
}

bool ExtendLine(LineCursor& cursor, double amount, bool force) {
  if (amount < cursor.previous) return false;
  SchematicNode* node = cursor.node;
  if (force) {
    for (auto it = node->children.begin(); it != node->children.end();)
      it = it->first != amount ? node->children.erase(it) : std::next(it);
  }
  bool created = false;
  SchematicNode* child = GetOrCreateChild(node, amount, &created);

  const Player actor = cursor.player;
  if (amount > cursor.previous) {  // a bet or raise
    ++cursor.bets;
    cursor.player = Opponent(cursor.player);
    cursor.previous = amount;
    cursor.after_check = false;
  } else if (cursor.bets == 0 && !cursor.after_check) {  // a check
    cursor.player = Opponent(cursor.player);
    cursor.after_check = true;
  } else {  // a call or a check-back ends the street
    ++cursor.street;
    cursor.bets = 0;
    cursor.after_check = false;
    cursor.player = PLAYER_OOP;
  }
  const Player player = cursor.player;
  const uint32_t street = cursor.street;

  child->street = street;
  child->player = player;
  child->bets = cursor.bets;
  child->amount = amount;
  child->commitment[actor] = amount;
  child->commitment[Opponent(actor)] = node->commitment[Opponent(actor)];

  // Every new bet gets its call and fold, every first check its check-back.
  if (created && (cursor.bets > 0 || cursor.after_check)) {
    bool answer_created = false;
    SchematicNode* answer = GetOrCreateChild(child, amount, &answer_created);
    if (answer_created) {
      answer->amount = amount;
      answer->commitment[PLAYER_OOP] = answer->commitment[PLAYER_IP] = amount;
      answer->street = street;
    }
    if (cursor.bets > 0) {
      SchematicNode* fold = GetOrCreateChild(child, kFoldKey, &answer_created);
      if (answer_created) {
        fold->amount = node->amount;
        fold->commitment[player] = node->amount;
        fold->commitment[Opponent(player)] = amount;
        fold->street = street;
      }
    }
  }
  cursor.node = child;
  return true;
}

double FindMaxLineAmount(const SchematicNode* node, double start) {
  double largest = start;
  std::vector<const SchematicNode*> pending{node};
  while (!pending.empty()) {
    const SchematicNode* current = pending.back();
    pending.pop_back();
    for (const auto& [key, child] : current->children) {
      if (key > largest) largest = key;
      pending.push_back(child.get());
    }
  }
  return largest;
}
