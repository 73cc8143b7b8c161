#include "treefile/node_data.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "compress/combo_codec.h"
#include "store/arena_store.h"
#include "store/composite_store.h"
#include "store/plain_store.h"
#include "solver/solver_constants.h"
#include "solver/solver_run.h"
#include "solver/solver_state.h"
#include "solver/split_walk.h"
#include "solver/street_values.h"
#include "tree/stored_strategy.h"
#include "treefile/block_converter.h"
#include "treefile/tree_file_error.h"

namespace {

// Per-card values travel in hundredths, strategies in thousandths.
constexpr double kValueStep = 0.01;
constexpr double kValueScale = 100.0;
constexpr double kStrategyScale = 1000.0;

// The six arrays of a card record in file order.
NumArray& RecordArray(CardRecord& record, int32_t k) {
  switch (k) {
    case 0: return record.reach_sums[PLAYER_OOP];
    case 1: return record.reach_sums[PLAYER_IP];
    case 2: return record.values[PLAYER_OOP];
    case 3: return record.values[PLAYER_IP];
    case 4: return record.best_response_values[PLAYER_OOP];
    default: return record.best_response_values[PLAYER_IP];
  }
}

int32_t RecordCount(const TreeNode& node) {
  if (!node.card_records) return 0;
  return node.street == STREET_TURN ? 1 : kRiverCardRecordCount;
}

bool Forgotten(Street forgotten, const TreeNode& node) {
  return forgotten != STREET_NONE && node.street > forgotten;
}

// A count of a per-card array: never more than the scratch areas hold.
int32_t ReadCount(ByteReader& in) {
  const int32_t n = ReadField<int32_t>(in);
  if (n < 0 || n > kMaxConvertedArray) throw TreeFileError("bad card array count");
  return n;
}

void SetZeros(NumArray& array, int32_t n) {
  if (n == 0) {
    array.Free();
    array.count = 0;
    return;
  }
  array.AssignZeros(n);
}

template <typename Element>
void ReadWideArray(NumArray& array, ByteReader& in) {
  const int32_t n = ReadCount(in);
  SetZeros(array, n);
  Element buffer[kMaxConvertedArray];
  in.Read(buffer, static_cast<uint64_t>(n) * sizeof(Element));
  for (int32_t h = 0; h < n; ++h) {
    if (!std::isfinite(buffer[h])) throw TreeFileError("bad card value");
    array.data[h] = static_cast<double>(buffer[h]);
  }
}

void ReadScaledArray(NumArray& array, ByteReader& in) {
  const int32_t n = ReadCount(in);
  SetZeros(array, n);
  int16_t buffer[kMaxConvertedArray];
  in.Read(buffer, static_cast<uint64_t>(n) * sizeof(int16_t));
  // The reciprocal once, then products: the values the engine has always read.
  const double step = 1.0 / kCardValueScale;
  for (int32_t h = 0; h < n; ++h) array.data[h] = static_cast<double>(buffer[h]) * step;
}

int64_t RoundClamped(double value, double low, double high) {
  if (!(value == value)) return 0;  // NaN
  return static_cast<int64_t>(std::llround(std::clamp(value, low, high)));
}

void WriteScaledArray(const NumArray& array, ByteWriter& out) {
  if (array.count > kMaxConvertedArray) throw TreeFileError("card array too long to write");
  WriteField<int32_t>(out, array.count);
  int16_t buffer[kMaxConvertedArray];
  for (int32_t h = 0; h < array.count; ++h)
    buffer[h] = array.data ? static_cast<int16_t>(RoundClamped(array.data[h] * kCardValueScale,
                                                                -32768.0, 32767.0))
                           : 0;
  out.Write(buffer, static_cast<uint64_t>(array.count) * sizeof(int16_t));
}

// What a store of the file may hold where it keeps floats: regrets of any
// sign, strategy sums never below 0 (they add products of non-negative
// factors), and numbers only. The other forms hold whole numbers.
enum class StoreValues { kRegrets, kStrategySums };

bool ValidRow(const float* row, int32_t n, StoreValues kind) {
  for (int32_t h = 0; h < n; ++h)
    if (!std::isfinite(row[h]) || (kind == StoreValues::kStrategySums && row[h] < 0.0f)) return false;
  return true;
}

bool ValidPlainStore(const PlainStore& store, StoreValues kind) {
  for (int32_t a = 0; a < store.actions(); ++a) {
    const FloatArray& row = store.row(a);
    if (row.data && !ValidRow(row.data, row.count, kind)) return false;
  }
  return true;
}

bool ValidArenaStore(ArenaStore32& store, StoreValues kind) {
  const BoardLayout& layout = *store.layout();
  std::vector<float*> rows(static_cast<size_t>(layout.actions));
  for (int32_t i = 0; i < layout.turn_slots; ++i)
    for (int32_t j = 0; j < layout.turn_index[i].board_count; ++j) {
      int32_t hands = 0;
      const NodeLockRecord* lock = nullptr;
      if (!store.BoardRows(i, j, rows.data(), &hands, &lock)) return true;
      for (float* row : rows)
        if (!ValidRow(row, hands, kind)) return false;
    }
  return true;
}

void CheckStoreValues(NodeStore& store, StoreValues kind) {
  bool valid = true;
  if (const auto* plain = dynamic_cast<const PlainStore*>(&store)) {
    valid = ValidPlainStore(*plain, kind);
  } else if (auto* composite = dynamic_cast<CompositeStore*>(&store)) {
    for (int32_t i = 0; i < composite->turn_slots() && valid; ++i) valid = ValidPlainStore(composite->slot(i), kind);
  } else if (ArenaStore32* arena = store.AsArenaStore32()) {
    valid = ValidArenaStore(*arena, kind);
  }
  if (!valid) throw TreeFileError("bad store value");
}

void ReadStores(TreeNode& node, ByteReader& in) {
  if (!node.regret_store) return;
  // Reading into a store without its values would write nowhere.
  if (!node.materialised) throw std::runtime_error("node values not allocated");
  node.regret_store->Read(in);
  CheckStoreValues(*node.regret_store, StoreValues::kRegrets);
  if (!node.strategy_store) return;
  node.strategy_store->Read(in);
  CheckStoreValues(*node.strategy_store, StoreValues::kStrategySums);
}

// The boards of a node before the forgotten street: one on the flop, one per
// turn slot on the turn.
template <typename Visit>
void ForEachEarlyBoard(const SolverState& state, const TreeNode& node, Visit visit) {
  if (node.street == STREET_FLOP) {
    visit(-1);
    return;
  }
  const int32_t slots = static_cast<int32_t>(state.deal_tree->turn_records.size());
  for (int32_t i = 0; i < slots; ++i) visit(i);
}

bool HasEarlyStrategy(const TreeNode& node, Street forgotten) {
  return node.kind == DECISION_NODE && node.street < forgotten && node.regret_store &&
         (node.street == STREET_FLOP || node.street == STREET_TURN);
}

void ReadValueSection(SolverState& state, ByteReader& in, Street forgotten) {
  const std::unique_ptr<BlockConverter> converter = MakeBlockConverter(in);
  uint32_t scratch[4][kMaxConvertedArray];
  for (TreeNode& node : state.nodes) {
    if (Forgotten(forgotten, node)) continue;
    const int32_t records = RecordCount(node);
    for (int32_t r = 0; r < records; ++r) {
      CardRecord& record = node.card_records[r];
      for (int32_t k = 0; k < 4; ++k) {
        NumArray& array = RecordArray(record, 2 + k);
        const int32_t n = array.count;
        converter->ReadValues32(scratch[k], nullptr, n);
        for (int32_t h = 0; h < n; ++h)
          array.data[h] = kValueStep * static_cast<double>(static_cast<int32_t>(Unzigzag(scratch[k][h])));
      }
    }
  }
}

void ReadStrategySection(SolverState& state, ByteReader& in, Street forgotten) {
  const std::unique_ptr<BlockConverter> converter = MakeBlockConverter(in);
  uint16_t scratch[2][kMaxConvertedArray];
  for (TreeNode& node : state.nodes) {
    if (!HasEarlyStrategy(node, forgotten)) continue;
    if (!node.materialised) throw std::runtime_error("node values not allocated");
    NodeStore& store = *node.regret_store;
    const int32_t actions = static_cast<int32_t>(node.children.size());
    ForEachEarlyBoard(state, node, [&](int32_t board) {
      const int32_t n = store.GetHandCount(board, -1);
      if (n < 0 || n > kMaxConvertedArray) throw TreeFileError("bad hand count");
      NumArray remainder;
      remainder.Resize(n);
      std::fill(remainder.data, remainder.data + n, kStrategyScale);
      NumArray values;
      for (int32_t a = 0; a + 1 < actions; ++a) {
        converter->ReadValues16(scratch[a & 1], nullptr, n);
        values.Resize(n);
        for (int32_t h = 0; h < n; ++h) values.data[h] = static_cast<double>(scratch[a & 1][h]);
        store.SetActionValues(board, -1, a, values);
        remainder.Subtract(values);
      }
      remainder.ClampBelow(0.0);
      store.SetActionValues(board, -1, actions - 1, remainder);
    });
  }
}

// The strategy a walk over the node follows: the average once the sums are
// in use (falling back to the current one where they hold nothing), else the
// current one with a uniform default.
std::vector<NumArray> WalkedStrategy(const SolverState& state, const TreeNode& node, int32_t board) {
  if (node.strategy_store && StrategySumsInUse(state)) {
    std::vector<NumArray> average;
    GetAverageStrategy(node, average, board, -1);
    return average;
  }
  const int32_t n = static_cast<int32_t>(node.children.size());
  std::vector<float> defaults(static_cast<size_t>(n), 1.0f / static_cast<float>(n));
  return node.regret_store->GetStrategy(board, -1, defaults.data());
}

// Opens and closes, reading only, one kind of store of a river subtree for a
// turn slot: every coded block of it is decoded once.
void DecodeRiverSubtree(SolverState& state, TreeNode& root, int32_t slot, bool strategy_sums) {
  const NodeCursor cursor(&state, nullptr, &root, slot, -1);
  try {
    OpenRiverSubtree(cursor, strategy_sums, RiverWalkRule::kForcedReadOnly);
  } catch (...) {
    try {
      DropSubtreeValues(cursor, strategy_sums);
    } catch (...) {
    }
    throw;
  }
  DropSubtreeValues(cursor, strategy_sums);
}

// Coded river blocks are decoded only when a pass or a query opens them, and
// a damaged one met by a pass ends the process. Decoding every block that the
// passes will read once here makes a damaged file a failed load instead. The
// strategy sums are left alone while the passes do not use them: no block of
// theirs was written, and opening would only make empty ones.
void CheckCodedRiverValues(SolverState& state) {
  if (state.coder_kinds[0] == 0 && state.coder_kinds[1] == 0) return;
  if (!state.deal_tree) return;
  const int32_t slots = static_cast<int32_t>(state.deal_tree->turn_records.size());
  const bool sums = StrategySumsInUse(state);
  for (TreeNode& node : state.nodes) {
    const bool river_root = node.street == STREET_RIVER && node.parent && node.parent->street != STREET_RIVER;
    if (!river_root) continue;
    for (int32_t slot = 0; slot < slots; ++slot) {
      DecodeRiverSubtree(state, node, slot, false);
      if (sums) DecodeRiverSubtree(state, node, slot, true);
    }
  }
}

}  // namespace

void ReadCardRecord(CardRecord& record, ByteReader& in) {
  const int32_t version = in.FormatVersion();
  if (version < 4) {
    for (int32_t k = 0; k < 6; ++k) {
      if (version < 2)
        ReadWideArray<double>(RecordArray(record, k), in);
      else
        ReadWideArray<float>(RecordArray(record, k), in);
    }
  } else {
    record.reach_filled[PLAYER_OOP] = ReadField<uint8_t>(in);
    record.reach_filled[PLAYER_IP] = ReadField<uint8_t>(in);
    for (int32_t k = 0; k < 2; ++k)
      if (!record.reach_filled[k]) ReadScaledArray(RecordArray(record, k), in);
  }
  record.frozen = ReadField<uint8_t>(in);
  record.solved_mask = ReadField<uint64_t>(in);
}

void ReadNodeArrays(SolverState& state, ByteReader& in, bool without_values) {
  const int32_t version = in.FormatVersion();
  const Street forgotten = state.first_forgotten_street;
  const int32_t iterations = ReadField<int32_t>(in);
  // go never runs past the cap.
  if (iterations < 0 || iterations > kIterationCap) throw TreeFileError("bad iteration count");
  state.iterations = iterations;

  const bool skip_late_records = version >= 3;
  const bool read_stores = forgotten == STREET_NONE || version < 4;
  for (TreeNode& node : state.nodes) {
    if (!(skip_late_records && Forgotten(forgotten, node))) {
      const int32_t records = RecordCount(node);
      for (int32_t r = 0; r < records; ++r) ReadCardRecord(node.card_records[r], in);
    }
    if (read_stores) ReadStores(node, in);
  }
  if (version < 4) return;

  for (TreeNode& node : state.nodes) {
    if (Forgotten(forgotten, node)) continue;
    const int32_t records = RecordCount(node);
    for (int32_t r = 0; r < records; ++r)
      for (int32_t k = 2; k < 6; ++k) SetZeros(RecordArray(node.card_records[r], k), ReadCount(in));
  }
  if (!without_values) ReadValueSection(state, in, forgotten);
  if (forgotten == STREET_NONE) return;
  ReadStrategySection(state, in, forgotten);
  FinishLoadedNodes(state, forgotten);
}

void LoadNodeData(SolverState& state, ByteReader& in, bool without_values) {
  // Weighed as a whole first, as go does: a file must not take the machine's
  // memory part by part.
  if (!AllocateStoreValues(state)) throw std::runtime_error("not enough memory for the tree's values");
  ReadNodeArrays(state, in, without_values);
  if (state.first_forgotten_street == STREET_NONE) CheckCodedRiverValues(state);
}

void FinishLoadedNodes(SolverState& state, Street forgotten) {
  SplitTaskList tasks;
  EvaluateFromRoot(state, forgotten, tasks);
  for (const std::unique_ptr<SubgameTask>& task : tasks) {
    NodeCursor& cursor = task->cursor;
    const int32_t k = forgotten == STREET_RIVER ? cursor.turn_slot : 0;
    if (!cursor.node->card_records || k < 0 || k >= RecordCount(*cursor.node)) continue;
    CardRecord& record = cursor.node->card_records[k];
    if (record.reach_filled[PLAYER_OOP]) record.reach_sums[PLAYER_OOP] = std::move(cursor.in1);
    if (record.reach_filled[PLAYER_IP]) record.reach_sums[PLAYER_IP] = std::move(cursor.in0);
  }
}

void WriteNodeData(SolverState& state, ByteWriter& out, bool without_values, Street forgotten) {
  WriteField<int32_t>(out, state.iterations);

  for (TreeNode& node : state.nodes) {
    if (!Forgotten(forgotten, node)) {
      const int32_t records = RecordCount(node);
      for (int32_t r = 0; r < records; ++r) {
        const CardRecord& record = node.card_records[r];
        for (int32_t k = 0; k < 2; ++k) WriteField<uint8_t>(out, record.reach_filled[k] ? 1 : 0);
        for (int32_t k = 0; k < 2; ++k)
          if (!record.reach_filled[k]) WriteScaledArray(record.reach_sums[k], out);
        WriteField<uint8_t>(out, record.frozen);
        WriteField<uint64_t>(out, record.solved_mask);
      }
    }
    if (forgotten == STREET_NONE && node.regret_store) {
      node.regret_store->Write(out);
      if (node.strategy_store) node.strategy_store->Write(out);
    }
  }

  for (TreeNode& node : state.nodes) {
    if (Forgotten(forgotten, node)) continue;
    const int32_t records = RecordCount(node);
    for (int32_t r = 0; r < records; ++r)
      for (int32_t k = 2; k < 6; ++k) {
        const int32_t n = RecordArray(node.card_records[r], k).count;
        if (n > kMaxConvertedArray) throw TreeFileError("card array too long to write");
        WriteField<int32_t>(out, n);
      }
  }

  if (!without_values) {
    BlockEmitter emitter;
    uint32_t scratch[kMaxConvertedArray];
    for (TreeNode& node : state.nodes) {
      if (Forgotten(forgotten, node)) continue;
      const int32_t records = RecordCount(node);
      for (int32_t r = 0; r < records; ++r)
        for (int32_t k = 2; k < 6; ++k) {
          const NumArray& array = RecordArray(node.card_records[r], k);
          for (int32_t h = 0; h < array.count; ++h) {
            const int64_t z =
                array.data ? RoundClamped(array.data[h] * kValueScale, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max())
                           : 0;
            scratch[h] = Zigzag(static_cast<uint32_t>(static_cast<int32_t>(z)));
          }
          emitter.WriteValues32(scratch, array.count);
        }
    }
    emitter.Finish(out);
  }

  if (forgotten == STREET_NONE) return;
  BlockEmitter emitter;
  uint16_t scratch[kMaxConvertedArray];
  for (TreeNode& node : state.nodes) {
    if (!HasEarlyStrategy(node, forgotten)) continue;
    const int32_t actions = static_cast<int32_t>(node.children.size());
    ForEachEarlyBoard(state, node, [&](int32_t board) {
      const int32_t n = node.regret_store->GetHandCount(board, -1);
      const std::vector<NumArray> strategy = WalkedStrategy(state, node, board);
      for (int32_t a = 0; a + 1 < actions; ++a) {
        const NumArray* row = a < static_cast<int32_t>(strategy.size()) ? &strategy[a] : nullptr;
        for (int32_t h = 0; h < n; ++h)
          scratch[h] = row && row->data && h < row->count
                           ? static_cast<uint16_t>(RoundClamped(row->data[h] * kStrategyScale, 0.0, 65535.0))
                           : 0;
        emitter.WriteValues16(scratch, n);
      }
    });
  }
  emitter.Finish(out);
}
