#pragma once
#include <cstdint>

#include "cards/card.h"
#include "platform/byte_io.h"

struct CardRecord;
struct SolverState;

// The node-data section of a tree file, which fills a tree rebuilt from the
// file's bet lines: the iteration count, the card records of the first
// decision nodes of the turn (1) and the river (49, by turn slot), the stores
// of every decision node, and for a tree with a forgotten street the
// strategies before it. v is the reader's format version, F the first
// forgotten street, W the file's without-values byte.
//
//   i32 iterations
//   pass A: per node in node order: its card records, then (F < 0 or v < 4)
//           its regret store and its strategy-sum store (NodeStore::Read)
//   pass B (v >= 4): per node, per card record: 4 x i32 counts of arrays 2-5
//   values (v >= 4, W = 0): converter, then per node, per record, arrays 2-5
//           as zigzag(round(100 x value)) u32
//   strategies (v >= 4, F >= 0): converter, then per node before F that has
//           stores, per board, per action but the last: u16 thousandths
//
// A card record in pass A:
//   v < 2:   6 x (i32 n, n x f64)          arrays 0-5
//   v 2, 3:  6 x (i32 n, n x f32)
//   v >= 4:  u8 absent0, u8 absent1, then per array 0, 1 not absent:
//            i32 n, n x i16 (value x 150)
//   all:     u8 frozen, u64 solved mask
// Records of nodes after F are left out (from v 3 in passes A and B).

// Arrays 0 and 1 in 16-bit form: value x this scale.
constexpr double kCardValueScale = 150.0;

// Allocates every store's values (weighed against the free memory first),
// then reads the section. Throws IOException, TreeFileError (also for an
// iteration count past the cap and for float card values or store values that
// are no finite numbers, or strategy sums below 0) or CodedStreamError (the
// data read so far stays in the tree), or a runtime error when the values do
// not fit into memory.
void LoadNodeData(SolverState& state, ByteReader& in, bool without_values);
void ReadNodeArrays(SolverState& state, ByteReader& in, bool without_values);
void ReadCardRecord(CardRecord& record, ByteReader& in);

// After a load of a tree with a forgotten street: the reach arrays the file
// left out (absent flags) from a walk with the loaded strategies.
void FinishLoadedNodes(SolverState& state, Street forgotten);

// Writes the section at version 6, every store's values allocated, for the
// first forgotten street the file's header gives. With one, the strategies
// before it (the ones its walks use) go in place of the stores. Without values
// (W set), arrays 2-5 are only sized.
void WriteNodeData(SolverState& state, ByteWriter& out, bool without_values, Street forgotten);
