#include "compress/stream_block.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "compress/combo_codec.h"
#include "compress/fse_stream_coder.h"
#include "compress/storage_counters.h"
#include "protocol/fail.h"

namespace {

// ---------------------------------------------------------------------------
// Spare scratch records of this thread. The flag outlives the list, so a
// record given back after the thread's list is gone is freed at once.

thread_local bool t_scratch_closed = false;

void FreeScratch(StreamScratch* scratch) {
  for (uint8_t* buffer : scratch->buffers) std::free(buffer);
  delete scratch;
}

struct ScratchList {
  std::vector<StreamScratch*> records;
  ~ScratchList() {
    for (StreamScratch* record : records) FreeScratch(record);
    t_scratch_closed = true;
  }
};
thread_local ScratchList t_scratch_list;

StreamScratch* TakeScratch() {
  if (!t_scratch_closed && !t_scratch_list.records.empty()) {
    StreamScratch* record = t_scratch_list.records.back();
    t_scratch_list.records.pop_back();
    return record;
  }
  return new StreamScratch();
}

void GiveBackScratch(StreamScratch* scratch) {
  if (!scratch) return;
  if (t_scratch_closed) return FreeScratch(scratch);
  try {
    t_scratch_list.records.push_back(scratch);
  } catch (const std::bad_alloc&) {
    FreeScratch(scratch);
  }
}

// Channel buffers grow in these steps: the mask stream and the stream of the
// widest tokens' context carry the most bytes.
int64_t ScratchStep(int32_t channel) { return channel == 1 || channel == 17 ? 65536 : 16384; }

[[noreturn]] void ThrowDamaged(const char* what) { throw CodedStreamError(what); }

}  // namespace

StreamBlock::StreamBlock(int64_t reserved)
    : arena_(4095, reserved), saved_reservation_(arena_.Reserved()) {}

StreamBlock::StreamBlock(int64_t reserved, int64_t saved_reservation)
    : arena_(4095, reserved), saved_reservation_(saved_reservation) {}

StreamBlock::~StreamBlock() {
  encoder_.reset();
  decoder_.reset();
  GiveBackScratch(scratch_);
}

void StreamBlock::DropData() {
  for (int32_t c = 0; c < kCoderChannelCount; ++c) sizes_[c] = positions_[c] = 0;
}

int64_t StreamBlock::DataBytes() const {
  int64_t total = 0;
  for (int32_t size : sizes_) total += size;
  return total;
}

// ---------------------------------------------------------------------------
// Writing

void StreamBlock::AppendToScratchStream(void* context, int32_t channel, uint8_t* bytes, int32_t n) {
  auto* block = static_cast<StreamBlock*>(context);
  // Nothing may leave here: the encoder's final flush comes through from its
  // destructor. A byte that cannot be kept fails the write, which EndWrite
  // then gives up.
  if (n <= 0 || block->write_failed_) return;
  StreamScratch& scratch = *block->scratch_;
  const int64_t position = block->positions_[channel];
  const int64_t length = position + n;
  // The saved record counts a channel in 32 bits.
  if (length > kMaxBlockBytes) {
    block->write_failed_ = true;
    return;
  }
  if (length > scratch.capacities[channel]) {
    const int64_t step = ScratchStep(channel);
    const int64_t need = (length + step - 1) / step * step;
    void* grown = std::realloc(scratch.buffers[channel], static_cast<size_t>(need));
    if (!grown) {
      block->write_failed_ = true;
      return;
    }
    scratch.buffers[channel] = static_cast<uint8_t*>(grown);
    scratch.capacities[channel] = need;
  }
  std::memcpy(scratch.buffers[channel] + position, bytes, static_cast<size_t>(n));
  block->positions_[channel] = static_cast<int32_t>(length);
}

void StreamBlock::BeginWrite() {
  if (encoder_ || decoder_) Fail();
  if (!scratch_) scratch_ = TakeScratch();
  for (int32_t& position : positions_) position = 0;
  write_failed_ = false;
  stats_ = CoderStats();
  try {
    encoder_ =
        CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &AppendToScratchStream, this, &stats_);
  } catch (...) {
    // No memory for the coder's buffers: the block keeps what it held.
    DiscardWrite();
    throw;
  }
}

void StreamBlock::WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) {
  EncodeComboArray(encoder_.get(), values, reference, count);
}

void StreamBlock::WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) {
  EncodeComboArray16(encoder_.get(), values, reference, count);
}

void StreamBlock::DiscardWrite() {
  write_failed_ = true;
  encoder_.reset();
  GiveBackScratch(scratch_);
  scratch_ = nullptr;
  for (int32_t& position : positions_) position = 0;
  write_failed_ = false;
}

void StreamBlock::AbandonWrite() {
  if (encoder_ || scratch_) DiscardWrite();
}

void StreamBlock::EndWrite() {
  if (!encoder_) return;
  encoder_.reset();  // its last blocks reach the scratch here
  if (write_failed_) {
    DiscardWrite();
    throw std::bad_alloc();
  }
  int64_t total = 0;
  for (int32_t position : positions_) total += position;
  try {
    arena_.Grow(total);
  } catch (...) {
    DiscardWrite();
    throw;
  }
  uint8_t* to = arena_.Base();
  for (int32_t c = 0; c < kCoderChannelCount; ++c) {
    sizes_[c] = positions_[c];
    if (positions_[c] == 0) continue;
    std::memcpy(to, scratch_->buffers[c], static_cast<size_t>(positions_[c]));
    to += positions_[c];
  }
  g_storage_write_bytes.fetch_add(total, std::memory_order_relaxed);
  g_stat_compressed_bytes.fetch_add(arena_.Committed(), std::memory_order_relaxed);
  g_stat_raw_bytes.fetch_add(static_cast<int64_t>(stats_.raw_bytes), std::memory_order_relaxed);
  RaiseMaxSymbol(stats_.max_escaped_token);
  GiveBackScratch(scratch_);
  scratch_ = nullptr;
}

// ---------------------------------------------------------------------------
// Reading

void StreamBlock::ReadFromBlockStream(void* context, int32_t channel, uint8_t* buffer, int32_t n) {
  auto* block = static_cast<StreamBlock*>(context);
  const int64_t position = block->positions_[channel];
  // A decoder that asks beyond its channel reads damaged data.
  if (n < 0 || position + n > block->sizes_[channel]) ThrowDamaged("coded stream read past its end");
  std::memcpy(buffer, block->read_pointers_[channel] + position, static_cast<size_t>(n));
  block->positions_[channel] = static_cast<int32_t>(position + n);
}

const uint8_t* StreamBlock::ViewBlockStream(void* context, int32_t channel, int32_t n) {
  auto* block = static_cast<StreamBlock*>(context);
  const int64_t position = block->positions_[channel];
  if (n < 0 || position + n > block->sizes_[channel]) ThrowDamaged("coded stream read past its end");
  block->positions_[channel] = static_cast<int32_t>(position + n);
  return block->read_pointers_[channel] + position;
}

void StreamBlock::BeginRead() {
  if (encoder_ || decoder_) Fail();
  // The lengths are the sizes: a read broken off by damage leaves them as
  // they were.
  const uint8_t* at = arena_.Base();
  for (int32_t c = 0; c < kCoderChannelCount; ++c) {
    read_pointers_[c] = at;
    positions_[c] = 0;
    at += sizes_[c];
  }
  decoder_ = CreateDecoder(&ReadFromBlockStream, this, &ViewBlockStream);
}

void StreamBlock::ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) {
  DecodeComboArray(decoder_.get(), out, reference, count);
}

void StreamBlock::ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) {
  DecodeComboArray16(decoder_.get(), out, reference, count);
}

void StreamBlock::EndRead() {
  if (!decoder_) return;
  decoder_.reset();
  int64_t consumed = 0;
  for (int32_t position : positions_) consumed += position;
  g_storage_read_bytes.fetch_add(consumed, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Saved record

void StreamBlock::Save(ByteWriter& out) const {
  if (encoder_ || decoder_) Fail();
  for (int32_t size : sizes_) {
    WriteField<int32_t>(out, size);
    WriteField<int32_t>(out, size);
  }
  const int64_t used = DataBytes();
  WriteField<int64_t>(out, saved_reservation_);
  WriteField<int64_t>(out, used);
  out.Write(arena_.Base(), static_cast<uint64_t>(used));
}

void StreamBlock::Load(ByteReader& in) {
  if (encoder_ || decoder_) Fail();
  DropData();
  int32_t sizes[kCoderChannelCount];
  int64_t total = 0;
  bool sound = true;
  for (int32_t c = 0; c < kCoderChannelCount; ++c) {
    sizes[c] = ReadField<int32_t>(in);
    const int32_t length = ReadField<int32_t>(in);
    sound = sound && sizes[c] >= 0 && length == sizes[c];
    total += sizes[c];
  }
  const int64_t reserved = ReadField<int64_t>(in);
  const int64_t used = ReadField<int64_t>(in);
  // Data begins with the coder id byte on channel 0, or there is none.
  if (!sound || used != total || reserved < used || used > kMaxBlockBytes ||
      (used > 0 && sizes[0] == 0))
    ThrowDamaged("damaged stream block");
  // The record's reservation is kept for the record only: reserving it would
  // let a figure written by an older engine fail the load, and the owner
  // reserves what the block's writes can need (ReserveRoom).
  arena_.ResetForSize(used);
  arena_.Grow(used);
  const uint8_t* data = arena_.Base();
  in.Read(arena_.Base(), static_cast<uint64_t>(used));
  if (used > 0) {
    if (data[0] != CODER_FSE_STREAMS || !IsWholeCodedStream(data + 1, sizes[0] - 1))
      ThrowDamaged("damaged stream block");
    const uint8_t* at = data + sizes[0];
    for (int32_t c = 1; c < kCoderChannelCount; at += sizes[c], ++c)
      if (!IsWholeCodedStream(at, sizes[c])) ThrowDamaged("damaged stream block");
  }
  std::memcpy(sizes_, sizes, sizeof sizes_);
  saved_reservation_ = reserved;
}
