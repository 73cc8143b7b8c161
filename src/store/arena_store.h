#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "store/board_layout.h"
#include "store/node_store.h"

// The stores of a river decision node: every (turn slot, river slot) board of a
// shared BoardLayout, board (i, j) being the layout's board first(i) + j; both
// slots must be dealt and in range. ArenaStore holds the layout and one lock
// record per board; the value-holding classes derive from it.
class ArenaStore : public NodeStore {
 public:
  explicit ArenaStore(const BoardLayout* layout);
  ~ArenaStore() override = default;
  ArenaStore(const ArenaStore&) = delete;
  ArenaStore& operator=(const ArenaStore&) = delete;

  int32_t GetHandCount(int32_t i, int32_t j) override;
  // The layout's value count, for every i.
  int64_t GetValueCount(int32_t i) override;
  NodeLockRecord* GetLockRecord(int32_t i, int32_t j) override;

  const BoardLayout* layout() const { return layout_; }

 protected:
  // Every board's lock record in board order, as the serialised forms begin.
  void WriteLockRecords(ByteWriter& out) const;
  void ReadLockRecords(ByteReader& in);

  const BoardLayout* layout_;                // shared, not owned
  std::unique_ptr<NodeLockRecord[]> locks_;  // one per board, in board order
};

// An arena store whose values lie in one block taken from the operating system
// at Allocate: board by board, each board as A rows of Ceil4(hands) places.
// Serialised form (read and written): the lock records, then the rows turn
// slot by turn slot, board by board, action by action: 16-bit rows from format
// version 4 on as a signed 16-bit byte count and the packed bytes, otherwise
// each row's hand count of raw values.
class VirtualArenaStore : public ArenaStore {
 public:
  using ArenaStore::ArenaStore;
  ~VirtualArenaStore() override;

  // A zeroed block (a block held already is zeroed again); false when the
  // system cannot give it, leaving the store without values.
  bool Allocate() override;
  // Writes the form Read accepts at the current format version (16-bit rows
  // packed); a store not allocated yet writes zeros.
  void Write(ByteWriter& out) override;
  // Needs an allocated store. Refuses data that does not fit the store (bad
  // lock records, packed sizes outside 1 ... 4096, rows that unpack short) with
  // std::runtime_error, never writing outside it.
  void Read(ByteReader& in) override;
  virtual int32_t GetElementSize() = 0;
  // The block's size until the store holds one, then 0.
  uint64_t AllocationBytes() override;

  bool HasValues() const { return values_ != nullptr; }

 protected:
  // Asks for board b's rows ahead of use: the walks visit a node's boards in
  // order, one whole river subtree apart, so the next board's rows can arrive
  // while the rest of the subtree is walked. Nothing past the last board.
  void PrefetchBoard(int32_t board);

  // Start of the row of action a on board b.
  uint8_t* RowBytes(int32_t board, int32_t action) {
    const LayoutBoard& entry = layout_->boards[board];
    return values_ + (static_cast<int64_t>(entry.value_offset) +
                      static_cast<int64_t>(Ceil4(entry.hand_count)) * action) *
                         GetElementSize();
  }
  uint8_t* values_ = nullptr;
  uint64_t value_bytes_ = 0;
};

// One float per value: the regret stores of river- and (format 5 on) turn-rooted
// trees and every uncompressed strategy-sum store.
class ArenaStore32 final : public VirtualArenaStore {
 public:
  explicit ArenaStore32(const BoardLayout* layout) : VirtualArenaStore(layout) {}

  std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) override;
  void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) override;
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                     const std::vector<NumArray>& action_values, CompressedBlock* handle,
                     const std::vector<int16_t>* hand_groups, double payoff_scale) override;
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override;
  int32_t GetElementSize() override { return 4; }
  ArenaStore32* AsArenaStore32() override { return this; }

  // The rows of board (i, j), one per action, its hand count and its lock
  // record, for the solver's kernels that work on the rows directly; false when
  // the store holds no values. Asks for the next board's rows ahead, as the
  // value operations do.
  bool BoardRows(int32_t i, int32_t j, float** rows, int32_t* hands,
                 const NodeLockRecord** lock);

 private:
  float* Row(int32_t board, int32_t action) {
    return reinterpret_cast<float*>(RowBytes(board, action));
  }
};

// One unsigned 16-bit value per value: the uncompressed river regret stores of
// flop-rooted trees. Keeps regrets only; AccumulateStrategy adds nothing.
class ArenaStore16 final : public VirtualArenaStore {
 public:
  explicit ArenaStore16(const BoardLayout* layout) : VirtualArenaStore(layout) {}

  std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) override;
  void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) override;
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                     const std::vector<NumArray>& action_values, CompressedBlock* handle,
                     const std::vector<int16_t>* hand_groups, double payoff_scale) override;
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override {}
  int32_t GetElementSize() override { return 2; }
  ArenaStore16* AsArenaStore16() override { return this; }

  // The rows of board (i, j), one per action, its hand count and (where lock
  // is not null) its lock record, for the solver's kernels that work on the
  // rows directly; false when the store holds no values. Asks for the next
  // board's rows ahead, as the value operations do.
  bool BoardRows(int32_t i, int32_t j, uint16_t** rows, int32_t* hands,
                 const NodeLockRecord** lock = nullptr);

 private:
  uint16_t* Row(int32_t board, int32_t action) {
    return reinterpret_cast<uint16_t*>(RowBytes(board, action));
  }
};
