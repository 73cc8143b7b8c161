#include "commands/tree_build.h"

#include <utility>

#include "cards/situation.h"
#include "compress/compression_level.h"
#include "protocol/command_error.h"
#include "solver/solver_preparation.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"

void BuildTreeFromLines(int build) {
  const TreeLines lines = ReadTreeLines(g_isomorphism_by_street);
  CreateGameTree(1, lines.entries.data(), lines.entries.size(), 0, lines.flop_cards[0],
                 lines.flop_cards[1], lines.flop_cards[2], lines.turn_card, lines.river_card,
                 g_ranges[PLAYER_OOP], g_ranges[PLAYER_IP], lines.isomorphism);
  // The new tree is in place: the globals and the line indices now describe it.
  CommitTreeLines(lines);

  if (build == 0) {
    g_tree_present = 1;
    return;
  }
  PrepareStoresAtSetting();
  g_tree_present = 1;
}

void PrepareStoresAtSetting() {
  try {
    const int32_t setting = g_compression_setting;
    const int32_t level = setting < 0 ? ComputeAutoCompressionLevel() : setting;
    g_compression_level = level;
    PrepareSolver(LevelToCompressionKinds(level));
  } catch (...) {
    // Half-prepared stores are no tree to solve or query.
    FreeSolverState();
    g_tree_present = 0;
    throw;
  }
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
  const SolverState* const old_state = g_solver_state.get();
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
    if (g_tree_present && g_solver_state.get() == old_state)
      parent->children.insert(std::move(cut));
    throw;
  }
}

void FreeGameTree() {
  FreeSolverState();
  g_tree_present = 0;
  g_tree_without_values = 0;
}
