#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "compress/compressed_block.h"
#include "store/arena_store.h"

// The block-compressed river store of flop-rooted trees. Between uses a turn
// slot's values lie coded in a CompressedBlock; a pass or a command opens the
// turn slot (decoding it into a plain cache), works on the cache with the row
// kernels, and closes it (coding it back, or dropping it).
//
// Blocks are shared along a river subtree: walking the subtree's river nodes
// in one fixed order, the first node of a player opens with a null handle and
// creates (or reuses) its own block, sized for the whole subtree by `count`;
// every later node of that player receives the block as its handle and goes on
// reading or writing it. The block's address space, enough for every write of
// the subtree (Reservation), is reserved before the block is read, so that
// writes never have to reserve any. The caller ends each block's read (EndRead) after the
// opening walk and each block's write (EndWrite) after the closing walk. In a
// block, arrays follow node by node in walking order, action by action, board
// by board of the turn slot; a board's row is coded against the previous
// board's row of the same action when it has no more hands.
//
// The store takes no lock: a turn slot is used by one thread at a time, while
// different turn slots may be open on different threads.
class BlockStore final : public ArenaStore {
 public:
  enum class Kind : int32_t { PACKED = 1, STREAM = 2 };
  enum class Width : uint8_t { BITS32, BITS16 };

  // BITS16 keeps regrets (the 16-bit kernels' form), BITS32 strategy sums as
  // non-negative signed 32-bit integers.
  BlockStore(const BoardLayout* layout, Kind kind, Width width);
  // Deletes the blocks; no turn slot may be open.
  ~BlockStore() override;

  // Nothing to allocate: blocks come from OpenValues and Read.
  bool Allocate() override { return true; }
  // Needs turn slot i open ("not open" otherwise, which ends the process).
  std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) override;
  void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) override;
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                     const std::vector<NumArray>& action_values, CompressedBlock* handle,
                     const std::vector<int16_t>* hand_groups, double payoff_scale) override;
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override;
  // i < 0: the layout's value count; else hands x actions of turn slot i.
  int64_t GetValueCount(int32_t i) override;
  // The lock records, then u8 1 and every turn slot's block record, or u8 0
  // when the store holds no block yet.
  void Write(ByteWriter& out) override;
  // The form Write writes, into a store just made. Bad lock records:
  // std::runtime_error; a damaged block: CodedStreamError; a short input:
  // IOException. After an error the store holds no block.
  void Read(ByteReader& in) override;
  // A block that cannot be decoded throws CodedStreamError with the turn slot
  // closed again and the block's read ended; address space or memory that
  // cannot be had, std::bad_alloc with the turn slot closed.
  CompressedBlock* OpenValues(CompressedBlock* handle, int32_t i, int32_t count) override;
  // A write that cannot go on throws std::bad_alloc with the turn slot still
  // open; a write this call began is abandoned (the caller abandons the
  // handle's).
  CompressedBlock* CloseValues(CompressedBlock* handle, int32_t i, bool write_back) override;

  // The block of turn slot i for `count` values of a subtree (as OpenValues
  // takes them): made when absent, its whole reservation taken now, so that
  // a later pass has none to take. std::bad_alloc when the address space
  // cannot be had. A block made here is not in the store's record until a
  // walk opens it (the record stays what the walks alone would make it).
  void PrepareBlock(int32_t i, int64_t count);
  // The address space PrepareBlock(i, count) would take anew.
  int64_t BlockNeed(int32_t i, int64_t count) const;
  // A true upper bound of the size of turn slot i's block for `count` values
  // of a subtree, rounded up to the block's commit step: `count` covers whole
  // passes over the turn slot's rows (one per action of the subtree's nodes),
  // and the bound holds whatever the values are (StreamBlockReserve16/32,
  // PackedArrayRoom16/32). A turn slot without hands, whose count says
  // nothing of the arrays, is taken for this node's actions; a block beyond
  // it grows.
  int64_t Reservation(int32_t i, int64_t count) const;
  BlockStore* AsBlockStore() override { return this; }

  // The rows of board (i, j) of an open 16-bit turn slot, one per action, for
  // the solver's kernels that work on rows directly; false otherwise.
  bool BoardRows16(int32_t i, int32_t j, uint16_t** rows, int32_t* hands,
                   const NodeLockRecord** lock);
  // The same for a 32-bit store.
  bool BoardRows32(int32_t i, int32_t j, int32_t** rows, int32_t* hands,
                   const NodeLockRecord** lock);

  // Bytes the store's blocks hold (their data, or a packed block's capacity).
  int64_t BlockBytes() const;

  Kind kind() const { return kind_; }
  Width width() const { return width_; }
  bool IsOpen(int32_t i) const { return caches_[static_cast<size_t>(i)].data != nullptr; }
  // Block of turn slot i, null until made.
  CompressedBlock* Block(int32_t i) const { return blocks_[static_cast<size_t>(i)].get(); }

 private:
  int32_t ElementSize() const { return width_ == Width::BITS16 ? 2 : 4; }
  uint8_t* OpenCache(int32_t i, const char* what);
  uint8_t* Row(int32_t i, int32_t board, int32_t action);
  // BoardRows16 and BoardRows32: the rows as T, when the store has that width.
  template <typename T>
  bool TypedBoardRows(Width width, int32_t i, int32_t j, T** rows, int32_t* hands,
                      const NodeLockRecord** lock);
  // Blocks are read and written value array by value array, each array moving
  // the block's position, by the thread that has the turn slot open. Each
  // block has cache lines of its own: two blocks made one after the other
  // would otherwise share one, and two threads coding them would take turns
  // at it for every array.
  struct BlockDeleter {
    void operator()(CompressedBlock* block) const;
  };
  using BlockPtr = std::unique_ptr<CompressedBlock, BlockDeleter>;
  BlockPtr MakeBlock(int64_t reserved, int64_t saved_reservation) const;
  // Block i, made when absent for `count` values; it joins the record.
  CompressedBlock& OwnBlock(int32_t i, int64_t count);
  void ReadRows(CompressedBlock& block, int32_t i);
  void WriteRows(CompressedBlock& block, int32_t i);
  void FreeCache(int32_t i);

  // Per turn slot, null while closed. Each on a cache line of its own: the
  // threads of a pass open and close different turn slots of the same store
  // while others read theirs for every board.
  struct alignas(64) CacheSlot {
    uint8_t* data = nullptr;
  };
  std::vector<CacheSlot> caches_;
  std::vector<BlockPtr> blocks_;  // per turn slot
  // Per turn slot: the block is in the store's record (opened by a walk, or
  // read); a block only prepared holds no data and is not.
  std::vector<uint8_t> carried_;
  // Values (hands x actions) per turn slot: the opening walks ask for them
  // at every open.
  std::vector<int64_t> slot_values_;
  Kind kind_;
  Width width_;
};

// Records the weight of a strategy-sum addition for the benchmark routine
// (g_last_accumulation_weight).
void RecordAccumulationWeight(double weight);

// The reservation field of the saved record of a block made for `count`
// values of a subtree: the figure the engine has always written there (seven
// bytes and more a value, each value taken as an array of its own), so that
// tree files stay byte for byte what they were. Loading does not reserve it.
int64_t SavedBlockReservation(BlockStore::Kind kind, BlockStore::Width width, int64_t count);
