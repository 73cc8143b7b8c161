#pragma once
#include <cstdint>

#include "platform/byte_io.h"

// A compressed block: a run of value arrays (u32 or u16, one per board and
// action) written one after another and later read back in the same order.
// The owner drives one cycle at a time: BeginWrite, any number of writes,
// EndWrite; later BeginRead (only when HasData), every array that was written
// in the same order with the same widths, counts and references, EndRead.
// A block is used by one thread at a time and takes no lock.
//
// Damaged data (a block loaded from a damaged file, or memory gone bad) makes
// a read throw CodedStreamError; no read leaves the block's memory. Whether
// that ends the process (a block the engine wrote itself: ExitOnDamagedStream)
// or a command (a block just loaded) is the owner's choice.
class CompressedBlock {
 public:
  virtual ~CompressedBlock() = default;

  // Starts refilling the block from empty; the previous content is dropped
  // once the write ends. std::bad_alloc when the write cannot begin (the
  // block as it was).
  virtual void BeginWrite() = 0;
  // Finishes writing: the block now holds the arrays. std::bad_alloc when the
  // write cannot be kept, as AbandonWrite leaves it.
  virtual void EndWrite() = 0;
  // Ends a write that is not to be finished (one given up on the way): the
  // block holds what it held before BeginWrite when the write has not yet
  // overwritten it, else nothing; never a part of the write. Nothing when no
  // write is running.
  virtual void AbandonWrite() = 0;
  virtual bool HasData() const = 0;
  // Starts reading from the first array.
  virtual void BeginRead() = 0;
  virtual void EndRead() = 0;

  // Appends one array of `count` values; the reference (the previous board's
  // row, or null) must come back unchanged to the matching read.
  virtual void WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) = 0;
  virtual void WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) = 0;
  // Reads the next array.
  virtual void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) = 0;
  virtual void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) = 0;

  // Reserves the address space of `bytes` bytes of the block's memory now,
  // so that no write up to them has to reserve any: std::bad_alloc when it
  // cannot be had (the block as it was).
  virtual void ReserveRoom(int64_t bytes) = 0;
  // The address space ReserveRoom(bytes) would take anew.
  virtual int64_t RoomNeed(int64_t bytes) const = 0;

  // The block's record in a tree file, between cycles.
  virtual void Save(ByteWriter& out) const = 0;
  // Fills the block from its record, dropping what it held. A record that
  // cannot be a block's: CodedStreamError; a short input: the reader's
  // IOException; memory that cannot be had: std::bad_alloc. After any of them
  // the block holds no data.
  virtual void Load(ByteReader& in) = 0;
};
