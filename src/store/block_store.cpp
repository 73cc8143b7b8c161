#include "store/block_store.h"

#include <tbb/scalable_allocator.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "compress/coder.h"
#include "compress/packed_block.h"
#include "compress/stream_block.h"
#include "protocol/fail.h"
#include "store/block_store_kernels.h"
#include "store/board_rows.h"
#include "store/lock_record_io.h"
#include "store/store_constants.h"
#include "store/value_kernels16.h"

namespace {

// Caches start on a 128-byte boundary: two cache lines, so no row of a
// neighbouring allocation shares the first line with another thread's cache.
constexpr size_t kCacheAlignment = 128;

// The bytes ReadRows writes after a row's hands: three places of the widest
// element, rounded up to a whole vector store.
constexpr size_t kPadStore = 16;

}  // namespace

void RecordAccumulationWeight(double weight) {
  // Every thread calls this for every board: a store only when the weight
  // changes keeps the shared line from moving between processors.
  if (g_last_accumulation_weight.load(std::memory_order_relaxed) != weight)
    g_last_accumulation_weight.store(weight, std::memory_order_relaxed);
}

namespace {

int64_t RoundUp(int64_t bytes, int64_t step) { return (bytes + step - 1) / step * step; }

}  // namespace

int64_t SavedBlockReservation(BlockStore::Kind kind, BlockStore::Width width, int64_t count) {
  if (count < 1) count = 1;
  if (kind == BlockStore::Kind::PACKED) {
    const int64_t bytes = (width == BlockStore::Width::BITS16 ? 3 : 5) * count;
    return RoundUp(std::min(bytes, kMaxBlockBytes), 65536);
  }
  // A flag and a mask byte, seven bytes and the block headers a value.
  const int64_t raw = 9 * count;
  const int64_t bytes = 1 + raw + 8 * (raw / 65536 + 1 + kCoderChannelCount);
  return RoundUp(std::min(bytes, kMaxBlockBytes), 4096);
}

int64_t BlockStore::Reservation(int32_t i, int64_t count) const {
  if (i < 0 || i >= layout_->turn_slots) return 0;
  const LayoutTurnBoards& turn = layout_->turn_index[i];
  int64_t hands = 0, groups = 0, packed16 = 0;
  for (int32_t j = 0; j < turn.board_count; ++j) {
    const int64_t h = layout_->boards[turn.first_board + j].hand_count;
    hands += h;
    groups += (h + 7) / 8;
    packed16 += PackedArrayRoom16(h);
  }
  const int64_t passes = hands > 0 ? (std::max<int64_t>(count, 0) + hands - 1) / hands
                                   : std::max(layout_->actions, 0);
  const int64_t values = passes * hands;
  const bool sixteen = width_ == Width::BITS16;
  if (kind_ == Kind::PACKED) {
    const int64_t bytes = sixteen ? passes * packed16 : PackedArrayRoom32(values);
    return RoundUp(std::min(bytes, kMaxBlockBytes), 65536);
  }
  const int64_t arrays = passes * turn.board_count;
  const int64_t bytes = sixteen ? StreamBlockReserve16(values, arrays, passes * groups)
                                : StreamBlockReserve32(values, arrays, passes * groups);
  return RoundUp(std::min(bytes, kMaxBlockBytes), 4096);
}

BlockStore::BlockStore(const BoardLayout* layout, Kind kind, Width width)
    : ArenaStore(layout),
      caches_(static_cast<size_t>(std::max(layout->turn_slots, 0))),
      blocks_(static_cast<size_t>(std::max(layout->turn_slots, 0))),
      carried_(static_cast<size_t>(std::max(layout->turn_slots, 0)), 0),
      slot_values_(static_cast<size_t>(std::max(layout->turn_slots, 0)), 0),
      kind_(kind),
      width_(width) {
  for (int32_t i = 0; i < layout->turn_slots; ++i) {
    const LayoutTurnBoards& turn = layout->turn_index[i];
    int64_t hands = 0;
    for (int32_t j = 0; j < turn.board_count; ++j)
      hands += layout->boards[turn.first_board + j].hand_count;
    slot_values_[static_cast<size_t>(i)] = hands * layout->actions;
  }
}

BlockStore::~BlockStore() {
  for (size_t i = 0; i < caches_.size(); ++i) FreeCache(static_cast<int32_t>(i));
}

namespace {

// A block of class T on whole cache lines of its own.
template <typename T>
CompressedBlock* NewAlignedBlock(int64_t reserved, int64_t saved_reservation) {
  constexpr size_t kLine = 64;
  static_assert(alignof(T) <= kLine);
  void* memory = scalable_aligned_malloc((sizeof(T) + kLine - 1) / kLine * kLine, kLine);
  if (!memory) throw std::bad_alloc();
  try {
    return new (memory) T(reserved, saved_reservation);
  } catch (...) {
    scalable_aligned_free(memory);
    throw;
  }
}

}  // namespace

void BlockStore::BlockDeleter::operator()(CompressedBlock* block) const {
  if (!block) return;
  block->~CompressedBlock();
  scalable_aligned_free(block);
}

BlockStore::BlockPtr BlockStore::MakeBlock(int64_t reserved, int64_t saved_reservation) const {
  if (kind_ == Kind::PACKED)
    return BlockPtr(NewAlignedBlock<PackedBlock>(reserved, saved_reservation));
  return BlockPtr(NewAlignedBlock<StreamBlock>(reserved, saved_reservation));
}

CompressedBlock& BlockStore::OwnBlock(int32_t i, int64_t count) {
  BlockPtr& own = blocks_[static_cast<size_t>(i)];
  if (!own) own = MakeBlock(Reservation(i, count), SavedBlockReservation(kind_, width_, count));
  // Written only on the change: the threads of a pass open different turn
  // slots side by side.
  uint8_t& carried = carried_[static_cast<size_t>(i)];
  if (!carried) carried = 1;
  return *own;
}

void BlockStore::PrepareBlock(int32_t i, int64_t count) {
  if (i < 0 || i >= layout_->turn_slots) return;
  BlockPtr& block = blocks_[static_cast<size_t>(i)];
  if (!block) block = MakeBlock(Reservation(i, count), SavedBlockReservation(kind_, width_, count));
  block->ReserveRoom(Reservation(i, count));
}

int64_t BlockStore::BlockNeed(int32_t i, int64_t count) const {
  if (i < 0 || i >= layout_->turn_slots) return 0;
  const BlockPtr& block = blocks_[static_cast<size_t>(i)];
  const int64_t reservation = Reservation(i, count);
  return block ? block->RoomNeed(reservation) : reservation;
}

int64_t BlockStore::GetValueCount(int32_t i) {
  if (i < 0) return layout_->value_count;
  if (i >= layout_->turn_slots) return 0;
  return slot_values_[static_cast<size_t>(i)];
}

uint8_t* BlockStore::OpenCache(int32_t i, const char* what) {
  if (i < 0 || i >= layout_->turn_slots || !caches_[static_cast<size_t>(i)].data) Fail(what);
  return caches_[static_cast<size_t>(i)].data;
}

uint8_t* BlockStore::Row(int32_t i, int32_t board, int32_t action) {
  const LayoutBoard& entry = layout_->boards[board];
  const int64_t place = static_cast<int64_t>(entry.value_offset) -
                        layout_->turn_ranges[i].value_offset +
                        static_cast<int64_t>(Ceil4(entry.hand_count)) * action;
  return caches_[static_cast<size_t>(i)].data + place * ElementSize();
}

void BlockStore::FreeCache(int32_t i) {
  uint8_t*& cache = caches_[static_cast<size_t>(i)].data;
  if (cache) scalable_aligned_free(cache);
  cache = nullptr;
}

namespace {

// Rows go action by action, board by board; a board is coded against the
// previous board's row of the same action when it has no more hands.
// visit(row, reference or null, hands) for every row of turn slot i in that
// order; row_at(board, action) gives a row.
template <typename RowAt, typename Visit>
void VisitRowsInCodingOrder(const BoardLayout& layout, int32_t i, RowAt row_at, Visit visit) {
  const LayoutTurnBoards& turn = layout.turn_index[i];
  for (int32_t a = 0; a < layout.actions; ++a) {
    uint8_t* previous = nullptr;
    int32_t previous_hands = 0;
    for (int32_t j = 0; j < turn.board_count; ++j) {
      const int32_t board = turn.first_board + j;
      const int32_t hands = layout.boards[board].hand_count;
      uint8_t* row = row_at(board, a);
      visit(row, j > 0 && hands <= previous_hands ? previous : nullptr, hands);
      previous = row;
      previous_hands = hands;
    }
  }
}

}  // namespace

void BlockStore::ReadRows(CompressedBlock& block, int32_t i) {
  // The places after each row's hands, which the coded rows do not cover,
  // are cleared by one fixed store of four places just before the row that
  // follows them in the cache is read: the store reaches into that row (not
  // past it: a row with hands has at least four places), whose read then
  // overwrites it, and the cleared places are those the reading has just
  // reached, not a pass of their own over the cache. Rows lie board by board,
  // action by action within a board, and are read action by action; the last
  // row's places have kPadStore bytes of room after them.
  const LayoutTurnBoards& turn = layout_->turn_index[i];
  const int32_t actions = layout_->actions;
  const int64_t element = ElementSize();
  const bool wide = width_ == Width::BITS32;
  const auto clear_four = [wide](uint8_t* at) {
    if (wide)
      std::memset(at, 0, 16);
    else
      std::memset(at, 0, 8);
  };
  for (int32_t a = 0; a < actions; ++a) {
    uint8_t* previous = nullptr;
    int32_t previous_hands = 0;
    for (int32_t j = 0; j < turn.board_count; ++j) {
      const int32_t board = turn.first_board + j;
      const int32_t hands = layout_->boards[board].hand_count;
      uint8_t* row = Row(i, board, a);
      // The row before this one in the cache: the board's previous action,
      // or the previous board's last action. Rows without places after them
      // need no store (and rows without hands take no room, so a store for
      // them could reach a row already read).
      const int32_t before = a > 0 ? hands : j > 0 ? previous_hands : 0;
      if (before & 3) clear_four(row - (Ceil4(before) - before) * element);
      const uint8_t* reference = j > 0 && hands <= previous_hands ? previous : nullptr;
      if (wide)
        block.ReadValues32(reinterpret_cast<uint32_t*>(row),
                           reinterpret_cast<const uint32_t*>(reference), hands);
      else
        block.ReadValues16(reinterpret_cast<uint16_t*>(row),
                           reinterpret_cast<const uint16_t*>(reference), hands);
      previous = row;
      previous_hands = hands;
    }
  }
  if (actions > 0 && turn.board_count > 0) {
    const int32_t last = turn.first_board + turn.board_count - 1;
    const int32_t hands = layout_->boards[last].hand_count;
    if (hands & 3) clear_four(Row(i, last, actions - 1) + hands * element);
  }
}

void BlockStore::WriteRows(CompressedBlock& block, int32_t i) {
  const auto row_at = [&](int32_t board, int32_t a) { return Row(i, board, a); };
  const auto write = [&](const uint8_t* row, const uint8_t* reference, int32_t hands) {
    if (width_ == Width::BITS16)
      block.WriteValues16(reinterpret_cast<const uint16_t*>(row),
                          reinterpret_cast<const uint16_t*>(reference), hands);
    else
      block.WriteValues32(reinterpret_cast<const uint32_t*>(row),
                          reinterpret_cast<const uint32_t*>(reference), hands);
  };
  VisitRowsInCodingOrder(*layout_, i, row_at, write);
}

CompressedBlock* BlockStore::OpenValues(CompressedBlock* handle, int32_t i, int32_t count) {
  if (i < 0 || i >= layout_->turn_slots) Fail("turn slot out of range");
  if (caches_[static_cast<size_t>(i)].data) Fail("opened twice");
  CompressedBlock* block = handle;
  if (!block) {
    block = &OwnBlock(i, count);
    // Every write of the subtree's values fits the reservation: taken (when
    // not yet) before anything is read, a failure leaves nothing to undo.
    block->ReserveRoom(Reservation(i, count));
    if (block->HasData()) block->BeginRead();
  }
  // The padded places: rows start on multiples of four values.
  const size_t bytes =
      static_cast<size_t>(std::max(layout_->turn_ranges[i].value_places, 0)) * ElementSize();
  void* cache = scalable_aligned_malloc(bytes + kPadStore, kCacheAlignment);
  if (!cache) {
    if (!handle) block->EndRead();
    throw std::bad_alloc();
  }
  caches_[static_cast<size_t>(i)].data = static_cast<uint8_t*>(cache);
  if (!block->HasData()) {
    std::memset(cache, 0, bytes);
    return block;
  }
  try {
    ReadRows(*block, i);
  } catch (...) {
    // Nothing stays attached: the turn slot is closed and the block's read
    // ended, so the block can be read or written again.
    FreeCache(i);
    block->EndRead();
    throw;
  }
  return block;
}

CompressedBlock* BlockStore::CloseValues(CompressedBlock* handle, int32_t i, bool write_back) {
  if (i < 0 || i >= layout_->turn_slots || !caches_[static_cast<size_t>(i)].data) return nullptr;
  if (!write_back) {
    FreeCache(i);
    return handle;
  }
  CompressedBlock* block = handle;
  if (!block) {
    block = &OwnBlock(i, GetValueCount(i));
    block->BeginWrite();
  }
  try {
    WriteRows(*block, i);
  } catch (...) {
    if (!handle) block->AbandonWrite();
    throw;
  }
  FreeCache(i);
  return block;
}

std::vector<NumArray> BlockStore::GetStrategy(int32_t i, int32_t j, const float* defaults) {
  OpenCache(i, "not open");
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  const int32_t actions = layout_->actions;
  std::vector<NumArray> result = MakeNumArrays(actions);
  if (actions <= 0) return result;
  double* out[kMaxFusedActions];
  for (NumArray& r : result) r.Resize(hands);
  float fallback[kMaxFusedActions] = {};
  for (int32_t a = 0; a < std::min(actions, kMaxFusedActions); ++a)
    fallback[a] = DefaultOf(defaults, a);

  if (width_ == Width::BITS32) {
    // The given defaults, as every other store takes them (0 without any):
    // the average strategy looks for hands whose sums give 0 everywhere.
    if (actions <= kMaxFusedActions) {
      const int32_t* rows[kMaxFusedActions];
      for (int32_t a = 0; a < actions; ++a) {
        rows[a] = reinterpret_cast<const int32_t*>(Row(i, board, a));
        out[a] = result[static_cast<size_t>(a)].data;
      }
      Kernels<BlockStoreKernels>().NormalizeIntValues32(rows, actions, hands, fallback, out);
      return result;
    }
    std::vector<const int32_t*> rows(static_cast<size_t>(actions));
    std::vector<double*> outs(static_cast<size_t>(actions));
    std::vector<float> all(static_cast<size_t>(actions));
    for (int32_t a = 0; a < actions; ++a) {
      rows[static_cast<size_t>(a)] = reinterpret_cast<const int32_t*>(Row(i, board, a));
      outs[static_cast<size_t>(a)] = result[static_cast<size_t>(a)].data;
      all[static_cast<size_t>(a)] = DefaultOf(defaults, a);
    }
    Kernels<BlockStoreKernels>().NormalizeIntValues32(rows.data(), actions, hands, all.data(),
                                                      outs.data());
    return result;
  }

  auto row16 = [&](int32_t a) { return reinterpret_cast<const uint16_t*>(Row(i, board, a)); };
  const ValueKernels16& kernels = Kernels<ValueKernels16>();
  if (actions == 2) {
    kernels.NormalizeValues16x2(row16(0), row16(1), result[0].data, result[1].data, hands,
                                fallback);
    return result;
  }
  if (actions == 3) {
    kernels.NormalizeValues16x3(row16(0), row16(1), row16(2), result[0].data, result[1].data,
                                result[2].data, hands, fallback);
    return result;
  }
  if (actions == 4) {
    const uint16_t* rows[4] = {row16(0), row16(1), row16(2), row16(3)};
    for (int32_t a = 0; a < 4; ++a) out[a] = result[static_cast<size_t>(a)].data;
    Kernels<BlockStoreKernels>().NormalizeValues16x4(rows, out, hands, fallback);
    return result;
  }
  alignas(32) uint32_t sums[kStrategyChunk];
  for (int32_t start = 0; start < hands; start += kStrategyChunk) {
    const int32_t n = std::min(kStrategyChunk, hands - start);
    std::fill(sums, sums + n, 0u);
    for (int32_t a = 0; a < actions; ++a) kernels.SumValues16(sums, row16(a) + start, n);
    for (int32_t a = 0; a < actions; ++a)
      kernels.NormalizeValues16(row16(a) + start, sums, result[static_cast<size_t>(a)].data + start,
                                n, DefaultOf(defaults, a));
  }
  return result;
}

void BlockStore::SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) {
  OpenCache(i, "not open");
  if (action < 0 || action >= layout_->actions) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  uint8_t* row = Row(i, board, action);
  if (!values.data) {
    std::memset(row, 0, static_cast<size_t>(hands) * ElementSize());
    return;
  }
  const int32_t n = Covered(values.count, hands);
  if (width_ == Width::BITS16) {
    Kernels<ValueKernels16>().SetActionValues16(reinterpret_cast<uint16_t*>(row), values.data, n);
    return;
  }
  // Sums are whole non-negative numbers: truncated and held within range.
  int32_t* sums = reinterpret_cast<int32_t*>(row);
  for (int32_t h = 0; h < n; ++h) {
    const double v = values.data[h];
    sums[h] = !(v > 0.0) ? 0 : v >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(v);
  }
}

void BlockStore::UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                               const std::vector<NumArray>& action_values, CompressedBlock* handle,
                               const std::vector<int16_t>* hand_groups, double payoff_scale) {
  OpenCache(i, "not open");
  if (width_ != Width::BITS16) return;  // sums have no regrets
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  std::vector<uint8_t> padded;
  const uint8_t* mask = MaskOf(locks_[board], hands, padded);
  const int32_t actions = std::min(layout_->actions, static_cast<int32_t>(action_values.size()));
  const ValueKernels16& kernels = Kernels<ValueKernels16>();
  for (int32_t a = 0; a < actions; ++a)
    kernels.UpdateRegrets16(reinterpret_cast<uint16_t*>(Row(i, board, a)), hands, node_values,
                            action_values[static_cast<size_t>(a)], hand_groups, payoff_scale,
                            mask);
}

void BlockStore::AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                                    const NumArray& reach, double weight) {
  OpenCache(i, "not open");
  RecordAccumulationWeight(weight);
  if (!(weight > 0.0) || !reach.data || width_ != Width::BITS32) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = Covered(reach.count, layout_->boards[board].hand_count);
  std::vector<uint8_t> padded;
  const uint8_t* mask = MaskOf(locks_[board], hands, padded);
  const int32_t actions = std::min(layout_->actions, static_cast<int32_t>(strategy.size()));
  const BlockStoreKernels& kernels = Kernels<BlockStoreKernels>();
  for (int32_t a = 0; a < actions; ++a) {
    const NumArray& s = strategy[static_cast<size_t>(a)];
    if (!s.data) continue;  // an absent strategy adds zeros
    kernels.AccumulateValues32(reinterpret_cast<int32_t*>(Row(i, board, a)), s.data, reach.data,
                               weight, Covered(s.count, hands), mask);
  }
}

template <typename T>
bool BlockStore::TypedBoardRows(Width width, int32_t i, int32_t j, T** rows, int32_t* hands,
                                const NodeLockRecord** lock) {
  if (width_ != width || i < 0 || i >= layout_->turn_slots || !caches_[static_cast<size_t>(i)].data)
    return false;
  const int32_t board = layout_->BoardIndex(i, j);
  for (int32_t a = 0; a < layout_->actions; ++a) rows[a] = reinterpret_cast<T*>(Row(i, board, a));
  *hands = layout_->boards[board].hand_count;
  if (lock) *lock = &locks_[board];
  // The walk takes the river cards in order and reads a board's lock record
  // before its rows: the next board's record, cold by then, is asked for now.
  if (j + 1 < layout_->turn_index[i].board_count)
    _mm_prefetch(reinterpret_cast<const char*>(&locks_[board + 1]), _MM_HINT_T1);
  return true;
}

bool BlockStore::BoardRows16(int32_t i, int32_t j, uint16_t** rows, int32_t* hands,
                             const NodeLockRecord** lock) {
  return TypedBoardRows(Width::BITS16, i, j, rows, hands, lock);
}

bool BlockStore::BoardRows32(int32_t i, int32_t j, int32_t** rows, int32_t* hands,
                             const NodeLockRecord** lock) {
  return TypedBoardRows(Width::BITS32, i, j, rows, hands, lock);
}

int64_t BlockStore::BlockBytes() const {
  int64_t bytes = 0;
  for (const auto& block : blocks_) {
    if (const auto* packed = dynamic_cast<const PackedBlock*>(block.get()))
      bytes += packed->Capacity();
    else if (const auto* stream = dynamic_cast<const StreamBlock*>(block.get()))
      bytes += stream->DataBytes();
  }
  return bytes;
}

void BlockStore::Write(ByteWriter& out) {
  WriteLockRecords(out);
  // One record per turn slot follows the flag. A store whose blocks were made
  // for some turn slots only writes an empty block for the others, so that
  // none of what it holds is dropped.
  bool any = false;
  for (uint8_t carried : carried_) any = any || carried;
  WriteField<uint8_t>(out, any ? 1 : 0);
  if (!any) return;
  for (size_t i = 0; i < blocks_.size(); ++i) {
    if (caches_[i].data) Fail("store written while open");
    if (carried_[i]) {
      blocks_[i]->Save(out);
    } else {
      MakeBlock(0, 0)->Save(out);
    }
  }
}

void BlockStore::Read(ByteReader& in) {
  for (size_t i = 0; i < caches_.size(); ++i)
    if (caches_[i].data) Fail("store read while open");
  // Blocks only prepared hold nothing and keep their reservations for the
  // records that fill them.
  for (size_t i = 0; i < blocks_.size(); ++i) {
    if (carried_[i]) blocks_[i].reset();
    carried_[i] = 0;
  }
  ReadLockRecords(in);
  const uint8_t flag = ReadField<uint8_t>(in);
  if (flag == 0) return;
  if (flag != 1) throw CodedStreamError("bad block flag");
  try {
    for (size_t i = 0; i < blocks_.size(); ++i) {
      BlockPtr& block = blocks_[i];
      if (!block) block = MakeBlock(0, 0);
      block->Load(in);
      carried_[i] = 1;
    }
  } catch (...) {
    for (size_t i = 0; i < blocks_.size(); ++i) {
      blocks_[i].reset();
      carried_[i] = 0;
    }
    throw;
  }
}
