#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "cards/situation.h"
#include "compress/compression_level.h"
#include "protocol/command_error.h"
#include "protocol/number_words.h"
#include "solver/solver_constants.h"
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

constexpr CardMask kAllCards = (CardMask{1} << kCardCount) - 1;
constexpr uint32_t kTreeFlags = INCOMPLETE_TREE | ISOMORPHISM_ON | NEW_TREE;
// Streets of the bet lines, counted from the starting street: decisions up to
// the river, end nodes one street past it (a check-back there).
constexpr uint32_t kLastDecisionStreet = STREET_RIVER - STREET_FLOP;
constexpr uint32_t kLastLineStreet = kLastDecisionStreet + 1;

// Every value a file holds must be one that the set-up commands, the build
// and the passes can leave: anything else was damaged or made elsewhere, and
// would be solved and answered with as if it were real.

// set_pot reads whole 32-bit numbers.
bool IsPotFigure(double figure) {
  return figure >= std::numeric_limits<int32_t>::min() && figure <= std::numeric_limits<int32_t>::max() &&
         figure == std::trunc(figure);
}

// set_range keeps 0 for weights below its least one and refuses weights above
// its largest.
bool IsRangeWeight(double weight) {
  return weight == 0.0 || (weight >= kMinRangeWeight && weight <= kMaxRangeWeight);
}

// add_line takes no amount below 0 or above its largest.
bool IsLineAmount(double amount) { return amount >= 0.0 && amount <= kMaxLineAmount; }

// One record and its subtree; key is the one the node hangs under, none at
// the root.
void ReadLineNode(SchematicNode& node, ByteReader& in, int32_t depth, std::optional<double> key) {
  if (depth > kMaxLineActions) throw TreeFileError("bet lines too deep");
  const uint32_t player = ReadField<uint32_t>(in);
  const uint32_t street = ReadField<uint32_t>(in);
  node.bets = ReadField<uint32_t>(in);
  node.entry_index = ReadField<uint32_t>(in);
  node.amount = ReadField<double>(in);
  node.commitment[PLAYER_OOP] = ReadField<double>(in);
  node.commitment[PLAYER_IP] = ReadField<double>(in);
  // As add_line fills a node: the amount lies between the two commitments
  // (it is the larger, or at a fold the folder's) and, but at a fold, it is
  // the key the node hangs under.
  const double low = std::min(node.commitment[PLAYER_OOP], node.commitment[PLAYER_IP]);
  const double high = std::max(node.commitment[PLAYER_OOP], node.commitment[PLAYER_IP]);
  if (!IsLineAmount(node.amount) || !IsLineAmount(low) || !IsLineAmount(high) || node.amount < low ||
      node.amount > high || (key && *key != kFoldKey && *key != node.amount))
    throw TreeFileError("bad line amount");
  // The bets are actions of the node's line: no more of them than its depth.
  if (player > PLAYER_IP || street > kLastLineStreet || node.bets > static_cast<uint32_t>(depth))
    throw TreeFileError("bad bet line");
  node.player = static_cast<Player>(player);
  node.street = street;

  const int32_t children = ReadField<int32_t>(in);
  if (children > 0 && street > kLastDecisionStreet) throw TreeFileError("bad bet line");
  for (int32_t c = 0; c < children; ++c) {
    const double child_key = ReadField<double>(in);
    // Lines never go down; a NaN key would also break the children's order.
    if (child_key != kFoldKey && !(child_key >= node.amount && child_key <= kMaxLineAmount))
      throw TreeFileError("bad line amount");
    auto child = std::make_unique<SchematicNode>(&node);
    SchematicNode& filled = *child;
    // In place before it is read, so a failure below leaves what was read
    // owned by the lines. A key met again replaces the earlier child.
    node.children[child_key] = std::move(child);
    ReadLineNode(filled, in, depth + 1, child_key);
  }
}

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
    if (!IsRangeWeight(w)) throw TreeFileError("bad range");
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
  // The forgotten street decides which stores the file holds, the flag
  // whether a pass may walk the tree: a flag without a forgotten street would
  // keep a whole tree from ever being solved again, a forgotten street
  // without the flag would let passes walk nodes that have no stores. The
  // writer writes a rebuilt tree whole, with neither.
  const bool incomplete = (state.flags & INCOMPLETE_TREE) != 0;
  if (incomplete != (state.first_forgotten_street != STREET_NONE))
    throw TreeFileError("flags and forgotten street disagree");
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
    if (!IsPotFigure(figure)) throw TreeFileError("bad pot");
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
  // The node data is the last section in every version: anything after it
  // is a section the reader skipped (a without-values byte set on a file
  // with values) or bytes that are not the engine's.
  if (!in.AtEnd()) throw TreeFileError("bytes after the last section");
  in.Close();
}

}  // namespace

void ReadSchematicNode(SchematicNode& node, ByteReader& in, int32_t depth) {
  ReadLineNode(node, in, depth, std::nullopt);
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
  // The forgotten street is checked against the rebuilt tree's root.
  if ((header.flags & ~kTreeFlags) != 0) throw TreeFileError("bad flags");
  if (header.last_results_iteration < -1 || header.last_results_iteration > kIterationCap)
    throw TreeFileError("bad results iteration");
  for (double result : {header.mes_oop, header.ev_oop, header.mes_ip, header.ev_ip, header.mean_ev,
                        header.exploitability})
    if (!std::isfinite(result)) throw TreeFileError("bad results");
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
