#pragma once
#include <cstdint>

#include "compress/block_arena.h"
#include "compress/compressed_block.h"
#include "compress/value_packing.h"

// A block whose arrays are packed into byte widths (compress/value_packing.h)
// straight into its memory, back to back in write order; references are
// ignored. Each write first makes sure the array's room (PackedArrayRoom16/32)
// fits: when it does not, the capacity grows by that room and the arena
// commits it.
//
// Arrays overwrite the previous content in place, so a write must not fail
// half way: BeginWrite reserves the block's planned address space, and a
// reservation that holds every write's rooms (ReserveRoom) leaves no write
// anything to reserve.
//
// Saved record: i32 capacity, i64 reservation, i64 used (= capacity), then the
// capacity's bytes (the arrays, then zero filler). The filler is written by
// Save, not kept in memory: the worst-case room of a write is about twice
// what small regrets pack to, and zeroing it would make every page of it
// resident and cost a second pass over the block's memory.
class PackedBlock final : public CompressedBlock {
 public:
  // reserved: an upper bound of the block's size (the sum of its arrays'
  // rooms). saved_reservation: the reservation field of the saved record,
  // when it is not the reservation itself.
  explicit PackedBlock(int64_t reserved);
  PackedBlock(int64_t reserved, int64_t saved_reservation);

  void BeginWrite() override;
  void EndWrite() override;
  void AbandonWrite() override;
  bool HasData() const override { return capacity_ > 0; }
  void BeginRead() override { position_ = 0; }
  void EndRead() override;
  // A room that outgrows the reservation and cannot be had throws
  // std::bad_alloc; the owner then abandons the write.
  void WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) override;
  void WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) override;
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  // The saved reservation field is the one the record was loaded with.
  void Save(ByteWriter& out) const override;
  void Load(ByteReader& in) override;
  void ReserveRoom(int64_t bytes) override { arena_.Reserve(bytes); }
  int64_t RoomNeed(int64_t bytes) const override { return arena_.ReserveNeed(bytes); }

  int64_t Capacity() const { return capacity_; }
  int64_t Position() const { return position_; }
  const BlockArena& Arena() const { return arena_; }

 private:
  // Grows the capacity, when needed, so that `need` more bytes fit.
  void MakeRoom(int64_t need);

  BlockArena arena_;
  int64_t saved_reservation_;
  int64_t capacity_ = 0;   // bytes requested from the arena in the current write
  int64_t position_ = 0;   // write or read position in the arena
  int64_t raw_bytes_ = 0;  // 4 per 32-bit and 2 per 16-bit value written
  int64_t data_end_ = 0;   // end of the arrays (a loaded block: the capacity)
  // While a write runs: the capacity the block held before it, which stays
  // good until the first array is written over it.
  int64_t kept_capacity_ = 0;
  bool writing_ = false;
};

// The room a write of n values asks for, so that a packed block's size never
// exceeds the sum of its arrays' rooms: the largest packed size of 16-bit
// values, tail code bytes included; five bytes a 32-bit value.
constexpr int64_t PackedArrayRoom16(int64_t n) { return static_cast<int64_t>(MaxPackedBytes16(n)); }
constexpr int64_t PackedArrayRoom32(int64_t n) { return n > 0 ? 5 * n : 0; }
