#include <cmath>
#include <cstring>
#include <memory>
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
#include "treefile/node_data.h"
#include "treefile/tree_file.h"
#include "treefile/tree_file_error.h"

namespace {

// Range weights as set_range takes them.
constexpr double kMaxRangeWeight = 1e12;
constexpr CardMask kAllCards = (CardMask{1} << kCardCount) - 1;

void CheckBoard(CardMask flop, CardMask turn, CardMask river) {
  const bool valid = (flop & ~kAllCards) == 0 && (turn & ~kAllCards) == 0 &&
                     (river & ~kAllCards) == 0 && CardCount(flop) == 3 && CardCount(turn) <= 1 &&
                     CardCount(river) <= 1 &&
                     CardCount(flop | turn | river) == 3 + CardCount(turn) + CardCount(river);
  if (!valid) throw TreeFileError("bad board");
}

std::vector<double> ReadRange(ByteReader& in) {
  std::vector<double> range(kComboCount);
  in.Read(range.data(), range.size() * sizeof(double));
  for (double w : range)
    if (!std::isfinite(w) || w > kMaxRangeWeight) throw TreeFileError("bad range");
  return range;
}

// The file's first forgotten street must be one forget could have left.
Street CheckForgottenStreet(int32_t street, Street root_street) {
  if (street == STREET_NONE) return STREET_NONE;
  if ((street != STREET_TURN && street != STREET_RIVER) || street <= root_street)
    throw TreeFileError("bad forgotten street");
  return static_cast<Street>(street);
}

// The tree from the lines just read, as build_tree builds it but with the
// isomorphism the file's tree was built with: the node data follows that
// tree's dealt cards, whatever the engine's setting is now.
void RebuildTree(bool isomorphism) {
  uint8_t by_street[4];
  for (uint8_t& on : by_street) on = isomorphism ? 1 : 0;
  const TreeLines lines = ReadTreeLines(by_street);
  CreateGameTree(1, lines.entries.data(), lines.entries.size(), 0, lines.flop_cards[0],
                 lines.flop_cards[1], lines.flop_cards[2], lines.turn_card, lines.river_card,
                 g_ranges[PLAYER_OOP], g_ranges[PLAYER_IP], lines.isomorphism);
  CommitTreeLines(lines);
  g_tree_present = 1;
}

void ApplyHeader(SolverState& state, const TreeFileHeader& header, int32_t version) {
  // Older layouts for a negative version, as the reader reads them.
  state.format_version = static_cast<uint32_t>(version < 0 ? 0 : version);
  state.flags = header.flags;
  state.first_forgotten_street = CheckForgottenStreet(header.first_forgotten_street,
                                                      state.nodes[0].street);
  // The streets after it get no stores: a pass must never walk them.
  if (state.first_forgotten_street != STREET_NONE) state.flags |= INCOMPLETE_TREE;
  state.last_results_iteration = header.last_results_iteration;
  state.mes_oop = header.mes_oop;
  state.ev_oop = header.ev_oop;
  state.mes_ip = header.mes_ip;
  state.ev_ip = header.ev_ip;
  state.mean_ev = header.mean_ev;
  state.exploitability = header.exploitability;
}

void ReadFile(const std::string& path) {
  FileReader in(path);
  char tag[4];
  in.Read(tag, sizeof tag);
  if (std::memcmp(tag, "ZK4:", sizeof tag) != 0) ThrowRefusal("invalid file");
  const int32_t version = ReadField<int32_t>(in);
  if (version > kTreeFileVersion) ThrowRefusal("unsupported data format, update to latest version");
  in.SetFormatVersion(version);
  if (version >= 4) g_tree_without_values = ReadField<uint8_t>(in) != 0 ? 1 : 0;

  const CardMask flop = ReadField<uint64_t>(in);
  const CardMask turn = ReadField<uint64_t>(in);
  const CardMask river = ReadField<uint64_t>(in);
  CheckBoard(flop, turn, river);
  g_board_flop = flop;
  g_board_turn = turn;
  g_board_river = river;
  double pot[3];
  in.Read(pot, sizeof pot);
  for (double figure : pot)
    if (!std::isfinite(figure)) throw TreeFileError("bad pot");
  std::memcpy(g_pot, pot, sizeof pot);
  g_ranges[PLAYER_OOP] = ReadRange(in);
  g_ranges[PLAYER_IP] = ReadRange(in);

  ReadSchematicNode(*g_schematic_root, in, 0);
  // The header follows the lines; it is read before the build because the
  // build needs its isomorphism flag.
  const TreeFileHeader header = ReadStateHeader(in);
  RebuildTree((header.flags & ISOMORPHISM_ON) != 0);
  SolverState& state = *g_solver_state;
  ApplyHeader(state, header, version);

  const int32_t level = ReadField<int32_t>(in);
  if (!IsCompressionLevel(level)) throw TreeFileError("bad compression level");
  g_compression_level = level;
  PrepareSolver(LevelToCompressionKinds(g_compression_level));
  LoadNodeData(state, in, g_tree_without_values != 0);
  in.Close();
}

}  // namespace

void ReadSchematicNode(SchematicNode& node, ByteReader& in, int32_t depth) {
  if (depth > kMaxLineActions) throw TreeFileError("bet lines too deep");
  const uint32_t player = ReadField<uint32_t>(in);
  const uint32_t street = ReadField<uint32_t>(in);
  node.bets = ReadField<uint32_t>(in);
  node.entry_index = ReadField<uint32_t>(in);
  node.amount = ReadField<double>(in);
  node.commitment[PLAYER_OOP] = ReadField<double>(in);
  node.commitment[PLAYER_IP] = ReadField<double>(in);
  if (!std::isfinite(node.amount) || !std::isfinite(node.commitment[0]) ||
      !std::isfinite(node.commitment[1]))
    throw TreeFileError("bad line amount");
  node.player = static_cast<Player>(player);
  node.street = street;

  const int32_t children = ReadField<int32_t>(in);
  // What a decision makes of its player and street; an end node's are not used.
  if (children > 0 && (player > PLAYER_IP || street > STREET_RIVER - STREET_FLOP))
    throw TreeFileError("bad bet line");
  for (int32_t c = 0; c < children; ++c) {
    const double key = ReadField<double>(in);
    // A NaN key would break the children's order.
    if (!std::isfinite(key)) throw TreeFileError("bad line amount");
    auto child = std::make_unique<SchematicNode>(&node);
    SchematicNode& filled = *child;
    // In place before it is read, so a failure below leaves what was read
    // owned by the lines. A key met again replaces the earlier child.
    node.children[key] = std::move(child);
    ReadSchematicNode(filled, in, depth + 1);
  }
}

TreeFileHeader ReadStateHeader(ByteReader& in) {
  TreeFileHeader header;
  header.flags = ReadField<uint32_t>(in);
  header.first_forgotten_street = ReadField<int32_t>(in);
  header.last_results_iteration = ReadField<int32_t>(in);
  header.mes_oop = ReadField<double>(in);
  header.ev_oop = ReadField<double>(in);
  header.mes_ip = ReadField<double>(in);
  header.ev_ip = ReadField<double>(in);
  header.mean_ev = ReadField<double>(in);
  header.exploitability = ReadField<double>(in);
  return header;
}

void LoadTreeFile(const std::string& path) {
  FreeSolverState();
  g_tree_present = 0;
  g_tree_without_values = 0;
  ReplaceSchematicRoot();
  try {
    ReadFile(path);
  } catch (...) {
    // A tree filled halfway answers nothing right: none is left.
    FreeSolverState();
    g_tree_present = 0;
    g_tree_without_values = 0;
    throw;
  }
}
