#pragma once
#include <cstdint>

#include "compress/block_arena.h"
#include "compress/compressed_block.h"

// A block whose arrays are packed into byte widths (compress/value_packing.h)
// straight into its memory, back to back in write order; references are
// ignored. Each write first makes sure the array's largest packed size fits:
// when it does not, the capacity grows by that size and the arena commits it.
//
// Saved record: i32 capacity, i64 reservation, i64 used (= capacity), then the
// capacity's bytes (the arrays, then zero filler). The filler is written by
// Save, not kept in memory: the worst-case room of a write is about twice
// what small regrets pack to, and zeroing it would make every page of it
// resident and cost a second pass over the block's memory.
class PackedBlock final : public CompressedBlock {
 public:
  // reserved: an upper bound of the block's size (PackedBlockReserve16/32).
  explicit PackedBlock(int64_t reserved);

  void BeginWrite() override;
  void EndWrite() override;
  bool HasData() const override { return capacity_ > 0; }
  void BeginRead() override { position_ = 0; }
  void EndRead() override;
  void WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) override;
  void WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) override;
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  void Save(ByteWriter& out) const override;
  void Load(ByteReader& in) override;

  int64_t Capacity() const { return capacity_; }
  int64_t Position() const { return position_; }
  const BlockArena& Arena() const { return arena_; }

 private:
  // Grows the capacity, when needed, so that `need` more bytes fit.
  void MakeRoom(int64_t need);

  BlockArena arena_;
  int64_t capacity_ = 0;   // bytes requested from the arena in the current write
  int64_t position_ = 0;   // write or read position in the arena
  int64_t raw_bytes_ = 0;  // 4 per 32-bit and 2 per 16-bit value written
  int64_t data_end_ = 0;   // end of the arrays (a loaded block: the capacity)
};

// True upper bounds of a packed block's size, for its reservation: `values`
// values in all, in `arrays` arrays. 16-bit: each array's largest packed size
// is at most 2 bytes a value and one byte per started 8.
constexpr int64_t PackedBlockReserve16(int64_t values, int64_t arrays) {
  return 2 * values + (values + 7 * arrays) / 8;
}
constexpr int64_t PackedBlockReserve32(int64_t values) { return 5 * values; }
