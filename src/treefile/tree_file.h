#pragma once
#include <cstdint>
#include <string>

#include "platform/byte_io.h"

struct SchematicNode;
struct SolverState;

// Tree files: a game tree saved with everything needed to put it back (the
// situation, the bet lines, the solver's header, the compression level and the
// node data of treefile/node_data.h). Little-endian, raw:
//
//   "ZK4:"  i32 version (0-6; the writer writes 6)
//   u8 without values (v >= 4)
//   u64 flop, turn, river masks   3 x f64 pot   2 x 1326 f64 ranges
//   bet lines: per node, pre-order:
//     u32 player, street, bets, index; f64 amount, OOP and IP commitment;
//     i32 child count; per child: f64 key, then the child's node
//   header: u32 flags, i32 first forgotten street, i32 last results
//     iteration, f64 OOP MES, OOP EV, IP MES, IP EV, mean EV, exploitability
//     (INCOMPLETE_TREE is set exactly when a street is forgotten)
//   i32 compression level
//   node data, up to the end of the file

constexpr int32_t kTreeFileVersion = 6;

// The solver state's fields of the header, as the file holds them.
struct TreeFileHeader {
  uint32_t flags = 0;
  int32_t first_forgotten_street = -1;
  int32_t last_results_iteration = -1;
  double mes_oop = 0.0;
  double ev_oop = 0.0;
  double mes_ip = 0.0;
  double ev_ip = 0.0;
  double mean_ev = 0.0;
  double exploitability = 0.0;
};

// Replaces the current tree (freed first, with the bet lines) by the file's:
// situation, lines, a tree rebuilt from them with the file's isomorphism
// setting, the header, the level's stores and the node data. Any failure
// leaves no tree (the situation and lines read so far stay). Refusals
// ("invalid file", "unsupported data format, update to latest version", the
// build's) are CommandRefusals; file and content errors are IOException,
// TreeFileError, CodedStreamError or runtime errors with the reason.
void LoadTreeFile(const std::string& path);

// Writes the current tree at version 6 under a temporary name renamed over
// the path when complete. Refuses a tree the program-wide situation no longer
// describes (its file would be rebuilt differently).
void DumpTreeFile(const std::string& path);

// The bet lines below node; depth counts from the root, which is 0. Lines
// deeper than any build accepts, players, streets and bet counts off their
// ranges, and amounts, commitments and keys that add_line could not have made
// are refused (TreeFileError).
void ReadSchematicNode(SchematicNode& node, ByteReader& in, int32_t depth);
void WriteSchematicNode(const SchematicNode& node, ByteWriter& out);

// The header of the state as the writer writes it: a tree whose forgotten
// streets were rebuilt is written whole, with no forgotten street.
TreeFileHeader StateHeader(const SolverState& state);
// Refuses flags other than the tree's, a results iteration outside -1 to the
// iteration cap and results that are no finite numbers (TreeFileError).
TreeFileHeader ReadStateHeader(ByteReader& in);
void WriteStateHeader(const TreeFileHeader& header, ByteWriter& out);
