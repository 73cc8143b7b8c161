#include "tree/edit_commands.h"

#include <string>

#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "protocol/reply.h"
#include "tree/node_path.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

namespace {

constexpr double kLowestEvBoost = -0.99;
constexpr double kHighestEvBoost = 1.0;

void RequireTree() {
  if (!g_tree_present || !g_solver_state) ThrowRefusal("missing/incorrect tree");
}

}  // namespace

void SetEvBoost(int32_t node_index, float value) {
  SolverState* state = g_solver_state;
  if (!state || node_index < 0 || static_cast<size_t>(node_index) >= state->nodes.size()) return;
  state->nodes[static_cast<size_t>(node_index)].ev_boost = value;
}

void CmdSetEvBoost(const WordList& words) {
  RequireTree();
  const ResolvedPath path = ResolveNodePath(words[1]);
  const std::string type = GetNodeTypeName(path);
  if (type != "OOP_DEC" && type != "IP_DEC") ThrowArgumentError(words[0]);
  // NaN would pass the range test and poison the node's values.
  const double value = ParseNumberWord(words[2]);
  if (value < kLowestEvBoost || value > kHighestEvBoost) ThrowArgumentError(words[0]);
  SetEvBoost(static_cast<int32_t>(path.node->entry_index), static_cast<float>(value));
  PrintReply("%s ok!\n", words[0].c_str());
}

void CmdCutLine(const WordList& words) {
  RefuseWhileSolverRuns();
  RequireTree();
  const ResolvedPath path = ResolveNodePath(words[1]);
  SchematicNode* node = path.node;
  if (!node || node == g_schematic_root || !node->parent) ThrowRefusal("can't cut root");
  // A root without lines gives no tree to build.
  SchematicNode* parent = node->parent;
  if (parent == g_schematic_root && parent->children.size() == 1)
    ThrowRefusal("lines not set");

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
  PrintReply("%s ok!\n", words[0].c_str());
}

void CmdFreeTree(const WordList& words) {
  RefuseWhileSolverRuns();
  FreeSolverState();
  g_tree_present = 0;
  g_tree_without_values = 0;
  PrintReply("%s ok!\n", words[0].c_str());
}
