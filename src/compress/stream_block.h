#pragma once
#include <cstdint>
#include <memory>

#include "compress/block_arena.h"
#include "compress/coder.h"
#include "compress/compressed_block.h"
#include "compress/fse_stream_coder.h"

// The channel buffers a StreamBlock's encoder writes into until EndWrite
// copies them into the block: heap memory, grown in steps and kept for the
// next block. Each thread keeps a list of spare records; a write takes one and
// EndWrite gives it to the list of the thread that ends the write. A thread's
// records are freed when the thread ends.
struct StreamScratch {
  uint8_t* buffers[kCoderChannelCount] = {};
  int64_t capacities[kCoderChannelCount] = {};
};

// A block whose arrays go through the array codec and coder id 2 (24 FSE-coded
// byte streams). Its memory holds the 24 channels back to back in channel
// order, each exactly what the coder wrote on it (channel 0 begins with the
// coder id byte). Reads never leave a channel.
//
// A write collects the channels in a scratch record and copies them into the
// block's memory only at EndWrite, so the block holds its previous content
// until then: a write that cannot finish (no memory for the scratch, no
// address space for the block) leaves it as it was.
//
// Saved record: per channel (0 to 23) i32 size and i32 length (equal), i64
// reservation, i64 used (the sum of the lengths), then the channels' bytes.
class StreamBlock final : public CompressedBlock {
 public:
  // reserved: an upper bound of the block's size (StreamBlockReserve16/32).
  // saved_reservation: the reservation field of the saved record, when it is
  // not the reservation itself.
  explicit StreamBlock(int64_t reserved);
  StreamBlock(int64_t reserved, int64_t saved_reservation);
  ~StreamBlock() override;
  StreamBlock(const StreamBlock&) = delete;
  StreamBlock& operator=(const StreamBlock&) = delete;

  // BeginWrite and BeginRead while a coder is attached (a cycle not ended)
  // end the process through Fail.
  void BeginWrite() override;
  // Throws std::bad_alloc, with the block holding its previous content, when
  // the write could not be kept.
  void EndWrite() override;
  void AbandonWrite() override;
  // From the first finished write on (the coder id byte).
  bool HasData() const override { return sizes_[0] > 0; }
  void BeginRead() override;
  void EndRead() override;
  // At most 1326 values an array (the codec's limit, Fail beyond).
  void WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) override;
  void WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) override;
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  // The saved reservation field is the one the record was loaded with.
  void Save(ByteWriter& out) const override;
  void Load(ByteReader& in) override;
  void ReserveRoom(int64_t bytes) override { arena_.Reserve(bytes); }
  int64_t RoomNeed(int64_t bytes) const override { return arena_.ReserveNeed(bytes); }

  // Bytes of the channels (the block's data).
  int64_t DataBytes() const;
  const BlockArena& Arena() const { return arena_; }

 private:
  static void AppendToScratchStream(void* context, int32_t channel, uint8_t* bytes, int32_t n);
  static void ReadFromBlockStream(void* context, int32_t channel, uint8_t* buffer, int32_t n);
  static const uint8_t* ViewBlockStream(void* context, int32_t channel, int32_t n);
  void DropData();
  // Ends the write without keeping it: the coder's last bytes go nowhere and
  // the scratch record goes back.
  void DiscardWrite();

  // Per channel: its length (the block's data, also while a write runs).
  int32_t sizes_[kCoderChannelCount] = {};
  // Per channel: bytes written since BeginWrite, or read since BeginRead.
  int32_t positions_[kCoderChannelCount] = {};
  // Where each channel starts in the arena while reading.
  const uint8_t* read_pointers_[kCoderChannelCount] = {};
  std::unique_ptr<StreamEncoder> encoder_;
  std::unique_ptr<StreamDecoder> decoder_;
  CoderStats stats_;
  BlockArena arena_;
  int64_t saved_reservation_;
  StreamScratch* scratch_ = nullptr;  // held from BeginWrite to EndWrite
  // The write lost bytes (no memory for the scratch, or a channel beyond the
  // saved forms' limit): it takes no more and cannot be kept.
  bool write_failed_ = false;
};

// Bytes of a channel that carries `raw` bytes of its stream: blocks of at most
// 65536 raw bytes, each an 8-byte header and a payload no longer than its raw
// bytes (the FSE output is kept only when shorter, a run of one byte value is
// that byte).
constexpr int64_t CodedChannelBytes(int64_t raw) {
  return raw + 8 * ((raw + kStreamBlockBytes - 1) / kStreamBlockBytes);
}

// What the coder writes at most for `values` values in `arrays` arrays, whose
// groups of up to eight values (one per started 8 of each array) number
// `groups`, on every channel but the last: the coder id byte and a flag byte
// per array on channel 0, a mask byte per group on channel 1, a token byte per
// value spread over the 16 token channels (whose blocks number at most
// (values + 16 x 65535) / 65536), and two bytes of a 16-bit or the first three
// of a 32-bit escape per value on channels 18 to 22. Every FSE block is taken
// as stored raw, its largest form.
constexpr int64_t StreamBlockReserveAllButLast(int64_t values, int64_t arrays, int64_t groups) {
  constexpr int64_t kTokenChannels = 16;
  const int64_t token_blocks =
      (values + kTokenChannels * (kStreamBlockBytes - 1)) / kStreamBlockBytes;
  return 1 + CodedChannelBytes(arrays) + CodedChannelBytes(groups) + values + 8 * token_blocks +
         5 * CodedChannelBytes(values);
}

// True upper bounds of a stream block's size, for its reservation. 16-bit:
// the codec's deltas of 16-bit values (taken in 32 bits, against a reference
// too) stay below 2^18, so the last byte of a 32-bit escape is always 0 and
// each block of channel 23 is its header and one byte.
constexpr int64_t StreamBlockReserve16(int64_t values, int64_t arrays, int64_t groups) {
  return StreamBlockReserveAllButLast(values, arrays, groups) +
         9 * ((values + kStreamBlockBytes - 1) / kStreamBlockBytes);
}
constexpr int64_t StreamBlockReserve32(int64_t values, int64_t arrays, int64_t groups) {
  return StreamBlockReserveAllButLast(values, arrays, groups) + CodedChannelBytes(values);
}
