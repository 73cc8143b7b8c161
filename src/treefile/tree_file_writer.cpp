#include <cstring>
#include <stdexcept>

#include "cards/situation.h"
#include "compress/compression_level.h"
#include "protocol/command_error.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "tree/tree_records.h"
#include "treefile/node_data.h"
#include "treefile/tree_file.h"

namespace {

// The lines, board, pot and ranges a file carries are the program-wide ones;
// the tree is rebuilt from them at load. They may have changed since the
// build (add_line, set_pot, set_range without build_tree): such a file would
// rebuild another tree and misread its node data.
bool SituationDescribesTree(const SolverState& state) {
  if (g_ranges[PLAYER_OOP] != state.ranges[PLAYER_OOP] ||
      g_ranges[PLAYER_IP] != state.ranges[PLAYER_IP] || g_board_flop != state.flop_mask)
    return false;
  TreeLines lines;
  try {
    uint8_t by_street[4];
    for (uint8_t& on : by_street) on = (state.flags & ISOMORPHISM_ON) ? 1 : 0;
    lines = ReadTreeLines(by_street);
  } catch (const std::exception&) {
    return false;
  }
  if (lines.entries.size() != state.nodes.size()) return false;
  if (lines.start_street != state.nodes[0].street) return false;
  CardMask board = g_board_flop;
  for (const int card : {lines.turn_card, lines.river_card})
    if (card >= 0) board |= CardMask{1} << card;
  if (board != state.board_mask) return false;
  for (size_t i = 0; i < lines.entries.size(); ++i) {
    const LineEntry& entry = lines.entries[i];
    const TreeNode& node = state.nodes[i];
    if (static_cast<int32_t>(entry.kind) != node.kind || entry.parent != node.parent_index)
      return false;
    if (entry.kind == DECISION_NODE ? (entry.player != node.player || entry.street != node.street)
                                    : entry.value != node.value)
      return false;
  }
  return true;
}

// The first forgotten street as the file gives it: a tree whose forgotten
// streets were rebuilt holds every store again, and is written whole.
int32_t FileForgottenStreet(const SolverState& state) {
  if (state.first_forgotten_street == STREET_NONE || !(state.flags & INCOMPLETE_TREE))
    return STREET_NONE;
  return state.first_forgotten_street;
}

}  // namespace

void WriteSchematicNode(const SchematicNode& node, ByteWriter& out) {
  WriteField<uint32_t>(out, static_cast<uint32_t>(node.player));
  WriteField<uint32_t>(out, node.street);
  WriteField<uint32_t>(out, node.bets);
  WriteField<uint32_t>(out, node.entry_index);
  WriteField<double>(out, node.amount);
  WriteField<double>(out, node.commitment[PLAYER_OOP]);
  WriteField<double>(out, node.commitment[PLAYER_IP]);
  WriteField<int32_t>(out, static_cast<int32_t>(node.children.size()));
  for (const auto& [key, child] : node.children) {
    WriteField<double>(out, key);
    WriteSchematicNode(*child, out);
  }
}

TreeFileHeader StateHeader(const SolverState& state) {
  TreeFileHeader header;
  header.flags = state.flags;
  header.first_forgotten_street = FileForgottenStreet(state);
  header.last_results_iteration = state.last_results_iteration;
  header.mes_oop = state.mes_oop;
  header.ev_oop = state.ev_oop;
  header.mes_ip = state.mes_ip;
  header.ev_ip = state.ev_ip;
  header.mean_ev = state.mean_ev;
  header.exploitability = state.exploitability;
  return header;
}

void WriteStateHeader(const TreeFileHeader& header, ByteWriter& out) {
  WriteField<uint32_t>(out, header.flags);
  WriteField<int32_t>(out, header.first_forgotten_street);
  WriteField<int32_t>(out, header.last_results_iteration);
  WriteField<double>(out, header.mes_oop);
  WriteField<double>(out, header.ev_oop);
  WriteField<double>(out, header.mes_ip);
  WriteField<double>(out, header.ev_ip);
  WriteField<double>(out, header.mean_ev);
  WriteField<double>(out, header.exploitability);
}

void DumpTreeFile(const std::string& path) {
  SolverState* state = g_solver_state.get();
  if (!g_tree_present || !state) ThrowRefusal("missing/incorrect tree");
  if (!SituationDescribesTree(*state))
    ThrowRefusal("lines, board, pot or ranges changed since the tree was built");
  // Turn-rooted trees of files before version 5 keep 16-bit river regrets,
  // which a version 6 file would have read as 32-bit ones.
  if (state->nodes[0].street == STREET_TURN && state->format_version < 5)
    ThrowRefusal("tree of an older file format, can't write it");
  // The stores write and read whole rows: a tree never solved gets its zeros.
  if (!AllocateStoreValues(*state)) ThrowRefusal("out of memory");

  FileWriter out(path);
  out.Write("ZK4:", 4);
  WriteField<int32_t>(out, kTreeFileVersion);
  WriteField<uint8_t>(out, g_tree_without_values ? 1 : 0);
  WriteField<uint64_t>(out, g_board_flop);
  WriteField<uint64_t>(out, g_board_turn);
  WriteField<uint64_t>(out, g_board_river);
  out.Write(g_pot, sizeof g_pot);
  out.Write(state->ranges[PLAYER_OOP].data(), kComboCount * sizeof(double));
  out.Write(state->ranges[PLAYER_IP].data(), kComboCount * sizeof(double));
  WriteSchematicNode(*g_schematic_root, out);

  const TreeFileHeader header = StateHeader(*state);
  WriteStateHeader(header, out);
  WriteField<int32_t>(out, g_compression_level);
  WriteNodeData(*state, out, g_tree_without_values != 0,
                static_cast<Street>(header.first_forgotten_street));
  out.Commit();
}
