#include "tree/tree_edits.h"

#include <utility>

#include "protocol/command_error.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

void SetEvBoost(int32_t node_index, float value) {
  SolverState* state = g_solver_state;
  if (!state || node_index < 0 || static_cast<size_t>(node_index) >= state->nodes.size()) return;
  state->nodes[static_cast<size_t>(node_index)].ev_boost = value;
}

void CutLine(SchematicNode* node) {
  if (!node || node == g_schematic_root || !node->parent) ThrowRefusal("can't cut root");
  // A root without lines gives no tree to build.
  SchematicNode* parent = node->parent;
  if (parent == g_schematic_root && parent->children.size() == 1) ThrowRefusal("lines not set");

  // The line is taken out, not deleted, until the tree without it stands: a
  // build refused before it replaced the tree puts it back, so the lines still
  // describe the tree in place. Once the new tree has replaced the old one (a
  // failure while its stores are made leaves no tree), the line stays cut.
  const SolverState* const old_state = g_solver_state;
  SchematicChildren::node_type cut;
  for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
    if (it->second.get() == node) {
      cut = parent->children.extract(it);
      break;
    }
  }
  try {
    BuildTreeFromLines(1);
  } catch (...) {
    if (g_tree_present && g_solver_state == old_state) parent->children.insert(std::move(cut));
    throw;
  }
}

void FreeGameTree() {
  FreeSolverState();
  g_tree_present = 0;
  g_tree_without_values = 0;
}
