#include "store/arena_store.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/virtual_memory.h"
#include "compress/value_packing.h"
#include "store/board_rows.h"
#include "store/lock_record_io.h"
#include "store/value_kernels16.h"
#include "store/value_kernels32.h"

namespace {

// The largest packed row a tree file carries (the readers' buffer).
constexpr int32_t kMaxPackedRowBytes = 4096;

void FillDefaults(std::vector<NumArray>& result, int32_t hands, const float* defaults) {
  for (size_t a = 0; a < result.size(); ++a) {
    result[a].Resize(hands);
    std::fill(result[a].data, result[a].data + hands,
              static_cast<double>(DefaultOf(defaults, static_cast<int32_t>(a))));
  }
}

// The strategy of one board, for both value widths: the row type's two- and
// three-action normalisers, and for other action counts the per-hand sums of
// every row, then each row over them.
template <typename Sum, typename RowOf, typename Normalize2, typename Normalize3,
          typename SumRow, typename NormalizeRow>
std::vector<NumArray> StrategyOfBoard(int32_t actions, int32_t hands, bool has_values,
                                      const float* defaults, RowOf row_of, Normalize2 normalize2,
                                      Normalize3 normalize3, SumRow sum_row,
                                      NormalizeRow normalize_row) {
  std::vector<NumArray> result = MakeNumArrays(actions);
  if (actions <= 0) return result;
  if (!has_values) {
    FillDefaults(result, hands, defaults);
    return result;
  }
  for (NumArray& out : result) out.Resize(hands);
  float fallback[3] = {};
  for (int32_t a = 0; a < std::min(actions, 3); ++a) fallback[a] = DefaultOf(defaults, a);
  if (actions == 2) {
    normalize2(row_of(0), row_of(1), result[0].data, result[1].data, hands, fallback);
    return result;
  }
  if (actions == 3) {
    normalize3(row_of(0), row_of(1), row_of(2), result[0].data, result[1].data, result[2].data,
               hands, fallback);
    return result;
  }
  alignas(32) Sum sums[kStrategyChunk];
  for (int32_t start = 0; start < hands; start += kStrategyChunk) {
    const int32_t n = std::min(kStrategyChunk, hands - start);
    std::fill(sums, sums + n, Sum{});
    for (int32_t a = 0; a < actions; ++a) sum_row(sums, row_of(a) + start, n);
    for (int32_t a = 0; a < actions; ++a)
      normalize_row(result[static_cast<size_t>(a)].data + start, row_of(a) + start, sums, n,
                    DefaultOf(defaults, a));
  }
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// ArenaStore

ArenaStore::ArenaStore(const BoardLayout* layout)
    : layout_(layout),
      locks_(std::make_unique<NodeLockRecord[]>(static_cast<size_t>(layout->board_count))) {}

int32_t ArenaStore::GetHandCount(int32_t i, int32_t j) {
  return layout_->boards[layout_->BoardIndex(i, j)].hand_count;
}

int64_t ArenaStore::GetValueCount(int32_t i) { return layout_->value_count; }

NodeLockRecord* ArenaStore::GetLockRecord(int32_t i, int32_t j) {
  return &locks_[layout_->BoardIndex(i, j)];
}

void ArenaStore::WriteLockRecords(ByteWriter& out) const {
  for (int32_t b = 0; b < layout_->board_count; ++b) WriteLockRecord(out, locks_[b]);
}

void ArenaStore::ReadLockRecords(ByteReader& in) {
  for (int32_t b = 0; b < layout_->board_count; ++b)
    ReadLockRecord(in, locks_[b], layout_->boards[b].hand_count);
}

// ---------------------------------------------------------------------------
// VirtualArenaStore

VirtualArenaStore::~VirtualArenaStore() { ReleaseBlock(values_, value_bytes_); }

uint64_t VirtualArenaStore::AllocationBytes() {
  if (values_) return 0;
  return static_cast<uint64_t>(std::max(layout_->value_places, 0)) *
         static_cast<uint64_t>(GetElementSize());
}

bool VirtualArenaStore::Allocate() {
  if (values_) {
    ZeroBlock(values_, value_bytes_);
    return true;
  }
  const uint64_t bytes = AllocationBytes();
  if (bytes == 0) return true;  // no board holds a value
  void* block = ReserveZeroedBlock(bytes);
  if (!block) return false;
  values_ = static_cast<uint8_t*>(block);
  value_bytes_ = bytes;
  return true;
}

void VirtualArenaStore::Write(ByteWriter& out) {
  WriteLockRecords(out);
  const int32_t element = GetElementSize();
  int32_t widest = 0;
  for (int32_t b = 0; b < layout_->board_count; ++b)
    widest = std::max(widest, layout_->boards[b].hand_count);
  std::vector<uint8_t> packed(element == 2 ? MaxPackedBytes16(widest) : 0);
  const ValuePackingKernels& kernels = Kernels<ValuePackingKernels>();
  // A store not allocated yet (a tree never solved) holds zeros.
  std::vector<uint8_t> zeros(values_ ? 0 : static_cast<size_t>(widest) * element, 0);

  // Boards are numbered turn slot by turn slot, so board order is the file's.
  for (int32_t b = 0; b < layout_->board_count; ++b) {
    const int32_t hands = layout_->boards[b].hand_count;
    for (int32_t a = 0; a < layout_->actions; ++a) {
      const uint8_t* row = values_ ? RowBytes(b, a) : zeros.data();
      if (element != 2) {
        if (hands > 0) out.Write(row, static_cast<uint64_t>(hands) * static_cast<uint64_t>(element));
        continue;
      }
      const uint8_t* end =
          kernels.PackValues16(packed.data(), reinterpret_cast<const uint16_t*>(row), hands);
      const int64_t size = end - packed.data();
      if (size > kMaxPackedRowBytes) throw std::runtime_error("store row too long to write");
      const int16_t size16 = static_cast<int16_t>(size);
      out.Write(&size16, sizeof size16);
      if (size > 0) out.Write(packed.data(), static_cast<uint64_t>(size));
    }
  }
}

void VirtualArenaStore::Read(ByteReader& in) {
  if (!values_ && layout_->value_places > 0) throw std::runtime_error("store values not allocated");
  ReadLockRecords(in);
  const int32_t element = GetElementSize();
  const bool packed = element == 2 && in.FormatVersion() >= 4;
  uint8_t buffer[kMaxPackedRowBytes];
  const ValuePackingKernels& kernels = Kernels<ValuePackingKernels>();
  for (int32_t b = 0; b < layout_->board_count; ++b) {
    const int32_t hands = layout_->boards[b].hand_count;
    for (int32_t a = 0; a < layout_->actions; ++a) {
      uint8_t* row = RowBytes(b, a);
      if (!packed) {
        if (hands == 0) continue;
        in.Read(row, static_cast<uint64_t>(hands) * static_cast<uint64_t>(element));
        continue;
      }
      int16_t size;
      in.Read(&size, sizeof size);
      if (size < 0 || size > kMaxPackedRowBytes || (size == 0 && hands > 0))
        throw std::runtime_error("bad packed row size");
      if (size == 0) continue;
      in.Read(buffer, static_cast<uint64_t>(size));
      if (!kernels.UnpackValues16(reinterpret_cast<uint16_t*>(row), hands, buffer,
                                  static_cast<size_t>(size)))
        throw std::runtime_error("packed row too short");
    }
  }
}

void VirtualArenaStore::PrefetchBoard(int32_t board) {
  if (!values_ || board < 0 || board >= layout_->board_count) return;
  const LayoutBoard& entry = layout_->boards[board];
  const int32_t element = GetElementSize();
  const uint8_t* begin = values_ + static_cast<int64_t>(entry.value_offset) * element;
  const uint8_t* end =
      begin + static_cast<int64_t>(Ceil4(entry.hand_count)) * layout_->actions * element;
  for (const uint8_t* line = begin; line < end; line += 64)
    _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T1);
  // The walk reads the board's lock record first.
  _mm_prefetch(reinterpret_cast<const char*>(&locks_[board]), _MM_HINT_T1);
}

// ---------------------------------------------------------------------------
// ArenaStore32

std::vector<NumArray> ArenaStore32::GetStrategy(int32_t i, int32_t j, const float* defaults) {
  const int32_t board = layout_->BoardIndex(i, j);
  PrefetchBoard(board + 1);
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  return StrategyOfBoard<float>(
      layout_->actions, layout_->boards[board].hand_count, values_ != nullptr, defaults,
      [&](int32_t a) { return Row(board, a); }, kernels.NormalizeValues32x2,
      kernels.NormalizeValues32x3, kernels.SumValues32, kernels.NormalizeValues32);
}

void ArenaStore32::SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) {
  if (!values_ || action < 0 || action >= layout_->actions) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  float* row = Row(board, action);
  if (!values.data) {
    std::fill(row, row + hands, 0.0f);
    return;
  }
  Kernels<ValueKernels32>().SetActionValues32(row, values.data, Covered(values.count, hands));
}

void ArenaStore32::UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                                 const std::vector<NumArray>& action_values,
                                 CompressedBlock* handle, const std::vector<int16_t>* hand_groups,
                                 double payoff_scale) {
  if (!values_) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = Covered(node_values.count, layout_->boards[board].hand_count);
  std::vector<uint8_t> padded;
  const uint8_t* mask = MaskOf(locks_[board], hands, padded);
  const int32_t actions = std::min(layout_->actions, static_cast<int32_t>(action_values.size()));
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  for (int32_t a = 0; a < actions; ++a) {
    const NumArray& action = action_values[static_cast<size_t>(a)];
    const int32_t n = action.data ? Covered(action.count, hands) : hands;
    kernels.UpdateRegrets32(Row(board, a), node_values.data, action.data, n, mask);
  }
}

void ArenaStore32::AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                                      const NumArray& reach, double weight) {
  if (!(weight > 0.0) || !reach.data || !values_) return;
  const int32_t board = layout_->BoardIndex(i, j);
  PrefetchBoard(board + 1);
  const int32_t hands = Covered(reach.count, layout_->boards[board].hand_count);
  std::vector<uint8_t> padded;
  const uint8_t* mask = MaskOf(locks_[board], hands, padded);
  const int32_t actions = std::min(layout_->actions, static_cast<int32_t>(strategy.size()));
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  for (int32_t a = 0; a < actions; ++a) {
    const NumArray& s = strategy[static_cast<size_t>(a)];
    if (!s.data) continue;  // an absent strategy adds zeros
    kernels.AccumulateStrategy32(Row(board, a), s.data, reach.data, weight, Covered(s.count, hands),
                                 mask);
  }
}

bool ArenaStore32::BoardRows(int32_t i, int32_t j, float** rows, int32_t* hands,
                             const NodeLockRecord** lock) {
  if (!values_) return false;
  const int32_t board = layout_->BoardIndex(i, j);
  PrefetchBoard(board + 1);
  for (int32_t a = 0; a < layout_->actions; ++a) rows[a] = Row(board, a);
  *hands = layout_->boards[board].hand_count;
  *lock = &locks_[board];
  return true;
}

// ---------------------------------------------------------------------------
// ArenaStore16

std::vector<NumArray> ArenaStore16::GetStrategy(int32_t i, int32_t j, const float* defaults) {
  const int32_t board = layout_->BoardIndex(i, j);
  PrefetchBoard(board + 1);
  const ValueKernels16& kernels = Kernels<ValueKernels16>();
  return StrategyOfBoard<uint32_t>(
      layout_->actions, layout_->boards[board].hand_count, values_ != nullptr, defaults,
      [&](int32_t a) { return Row(board, a); }, kernels.NormalizeValues16x2,
      kernels.NormalizeValues16x3, kernels.SumValues16,
      [&](double* out, const uint16_t* row, const uint32_t* sums, int32_t n, float fallback) {
        kernels.NormalizeValues16(row, sums, out, n, fallback);
      });
}

void ArenaStore16::SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) {
  if (!values_ || action < 0 || action >= layout_->actions) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  uint16_t* row = Row(board, action);
  if (!values.data) {
    std::fill(row, row + hands, uint16_t{0});
    return;
  }
  Kernels<ValueKernels16>().SetActionValues16(row, values.data, Covered(values.count, hands));
}

void ArenaStore16::UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                                 const std::vector<NumArray>& action_values,
                                 CompressedBlock* handle, const std::vector<int16_t>* hand_groups,
                                 double payoff_scale) {
  if (!values_) return;
  const int32_t board = layout_->BoardIndex(i, j);
  const int32_t hands = layout_->boards[board].hand_count;
  std::vector<uint8_t> padded;
  const uint8_t* mask = MaskOf(locks_[board], hands, padded);
  const int32_t actions = std::min(layout_->actions, static_cast<int32_t>(action_values.size()));
  const ValueKernels16& kernels = Kernels<ValueKernels16>();
  for (int32_t a = 0; a < actions; ++a)
    kernels.UpdateRegrets16(Row(board, a), hands, node_values,
                            action_values[static_cast<size_t>(a)], hand_groups, payoff_scale, mask);
}

bool ArenaStore16::BoardRows(int32_t i, int32_t j, uint16_t** rows, int32_t* hands,
                             const NodeLockRecord** lock) {
  if (!values_) return false;
  const int32_t board = layout_->BoardIndex(i, j);
  PrefetchBoard(board + 1);
  for (int32_t a = 0; a < layout_->actions; ++a) rows[a] = Row(board, a);
  *hands = layout_->boards[board].hand_count;
  if (lock) *lock = &locks_[board];
  return true;
}
