#include "compress/packed_block.h"

#include <cstring>

#include "compress/coder.h"
#include "compress/storage_counters.h"
#include "compress/value_packing.h"
#include "protocol/fail.h"

namespace {

void CheckCount(int32_t count) {
  if (count < 0) Fail();
}

[[noreturn]] void ThrowDamaged(const char* what) { throw CodedStreamError(what); }

}  // namespace

PackedBlock::PackedBlock(int64_t reserved)
    : arena_(65535, reserved), saved_reservation_(arena_.Reserved()) {}

PackedBlock::PackedBlock(int64_t reserved, int64_t saved_reservation)
    : arena_(65535, reserved), saved_reservation_(saved_reservation) {}

void PackedBlock::BeginWrite() {
  AbandonWrite();
  // Reserved before anything changes: a write that had to reserve would fail
  // with the block half overwritten.
  arena_.Reserve(0);
  kept_capacity_ = capacity_;
  writing_ = true;
  position_ = 0;
  capacity_ = 0;
  raw_bytes_ = 0;
  arena_.ResetUse();
}

void PackedBlock::AbandonWrite() {
  if (!writing_) return;
  writing_ = false;
  // Nothing written yet: the previous arrays are whole (a growth that moved
  // the bytes took them along).
  capacity_ = position_ == 0 ? kept_capacity_ : 0;
  data_end_ = position_ == 0 ? data_end_ : 0;
  position_ = 0;
}

void PackedBlock::MakeRoom(int64_t need) {
  // position <= capacity always holds, so one growth by `need` suffices.
  if (capacity_ >= position_ + need) return;
  arena_.Grow(capacity_ + need);
  capacity_ += need;
}

void PackedBlock::WriteValues32(const uint32_t* values, const uint32_t*, int32_t count) {
  CheckCount(count);
  MakeRoom(PackedArrayRoom32(count));
  uint8_t* base = arena_.Base();
  if (count > 0) position_ = Kernels<ValuePackingKernels>().PackValues32(base + position_, values, count) - base;
  raw_bytes_ += 4 * int64_t{count};
}

void PackedBlock::WriteValues16(const uint16_t* values, const uint16_t*, int32_t count) {
  CheckCount(count);
  MakeRoom(PackedArrayRoom16(count));
  uint8_t* base = arena_.Base();
  if (count > 0) position_ = Kernels<ValuePackingKernels>().PackValues16(base + position_, values, count) - base;
  raw_bytes_ += 2 * int64_t{count};
}

void PackedBlock::EndWrite() {
  if (!writing_) return;
  writing_ = false;
  data_end_ = position_;
  g_storage_write_bytes.fetch_add(position_, std::memory_order_relaxed);
  g_stat_compressed_bytes.fetch_add(arena_.Committed(), std::memory_order_relaxed);
  g_stat_raw_bytes.fetch_add(raw_bytes_, std::memory_order_relaxed);
}

void PackedBlock::ReadValues32(uint32_t* out, const uint32_t*, int32_t count) {
  CheckCount(count);
  const uint8_t* base = arena_.Base();
  const uint8_t* end = Kernels<ValuePackingKernels>().UnpackValues32(out, count, base + position_, capacity_ - position_);
  if (!end) ThrowDamaged("packed block read past its end");
  position_ = end - base;
}

void PackedBlock::ReadValues16(uint16_t* out, const uint16_t*, int32_t count) {
  CheckCount(count);
  const uint8_t* base = arena_.Base();
  const uint8_t* end = Kernels<ValuePackingKernels>().UnpackValues16(out, count, base + position_, capacity_ - position_);
  if (!end) ThrowDamaged("packed block read past its end");
  position_ = end - base;
}

void PackedBlock::EndRead() { g_storage_read_bytes.fetch_add(position_, std::memory_order_relaxed); }

void PackedBlock::Save(ByteWriter& out) const {
  WriteField<int32_t>(out, static_cast<int32_t>(capacity_));
  WriteField<int64_t>(out, saved_reservation_);
  WriteField<int64_t>(out, capacity_);
  out.Write(arena_.Base(), static_cast<uint64_t>(data_end_));
  // The filler: zeros, not what an earlier write left past the arrays.
  static constexpr uint8_t kZeros[4096] = {};
  for (int64_t left = capacity_ - data_end_; left > 0; left -= sizeof kZeros)
    out.Write(kZeros, static_cast<uint64_t>(left < static_cast<int64_t>(sizeof kZeros) ? left : sizeof kZeros));
}

void PackedBlock::Load(ByteReader& in) {
  writing_ = false;
  position_ = capacity_ = raw_bytes_ = data_end_ = 0;
  const int32_t capacity = ReadField<int32_t>(in);
  const int64_t reserved = ReadField<int64_t>(in);
  const int64_t used = ReadField<int64_t>(in);
  // Written blocks save their capacity as the used size.
  if (capacity < 0 || used != capacity || reserved < used) ThrowDamaged("damaged packed block");
  // The record's reservation is kept for the record only: reserving it would
  // let a figure written by an older engine fail the load, and the owner
  // reserves what the block's writes can need (ReserveRoom).
  arena_.ResetForSize(used);
  arena_.Grow(used);
  in.Read(arena_.Base(), static_cast<uint64_t>(used));
  capacity_ = capacity;
  data_end_ = capacity;
  saved_reservation_ = reserved;
}
