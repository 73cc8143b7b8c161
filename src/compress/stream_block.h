#pragma once
#include <cstdint>
#include <memory>

#include "compress/block_arena.h"
#include "compress/coder.h"
#include "compress/compressed_block.h"

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
// Saved record: per channel (0 to 23) i32 size and i32 length (equal), i64
// reservation, i64 used (the sum of the lengths), then the channels' bytes.
class StreamBlock final : public CompressedBlock {
 public:
  // reserved: an upper bound of the block's size (StreamBlockReserve).
  explicit StreamBlock(int64_t reserved);
  ~StreamBlock() override;
  StreamBlock(const StreamBlock&) = delete;
  StreamBlock& operator=(const StreamBlock&) = delete;

  // BeginWrite and BeginRead while a coder is attached (a cycle not ended)
  // end the process through Fail.
  void BeginWrite() override;
  void EndWrite() override;
  // From the first BeginWrite on (the coder id byte).
  bool HasData() const override { return sizes_[0] > 0; }
  void BeginRead() override;
  void EndRead() override;
  // At most 1326 values an array (the codec's limit, Fail beyond).
  void WriteValues32(const uint32_t* values, const uint32_t* reference, int32_t count) override;
  void WriteValues16(const uint16_t* values, const uint16_t* reference, int32_t count) override;
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  void Save(ByteWriter& out) const override;
  void Load(ByteReader& in) override;

  // Bytes of the channels (the block's data).
  int64_t DataBytes() const;
  const BlockArena& Arena() const { return arena_; }

 private:
  static void AppendToScratchStream(void* context, int32_t channel, uint8_t* bytes, int32_t n);
  static void ReadFromBlockStream(void* context, int32_t channel, uint8_t* buffer, int32_t n);
  static const uint8_t* ViewBlockStream(void* context, int32_t channel, int32_t n);
  void DropData();

  // Per channel: its length (bytes written so far while writing).
  int32_t sizes_[kCoderChannelCount] = {};
  // Per channel: bytes written since BeginWrite, or read since BeginRead.
  int32_t positions_[kCoderChannelCount] = {};
  // Where each channel starts in the arena while reading.
  const uint8_t* read_pointers_[kCoderChannelCount] = {};
  std::unique_ptr<StreamEncoder> encoder_;
  std::unique_ptr<StreamDecoder> decoder_;
  CoderStats stats_;
  BlockArena arena_;
  StreamScratch* scratch_ = nullptr;  // held from BeginWrite to EndWrite
};

// A true upper bound of a stream block's size, for its reservation: `values`
// values in all, in `arrays` arrays. Per array the coder writes at most a flag
// byte, a mask byte per started 8 values and 7 bytes a value (a token and a
// 16- and a 32-bit escape); per channel a block header of 8 bytes per started
// 65536 of those bytes, whose payload is never longer than they are; and the
// coder id byte.
constexpr int64_t StreamBlockReserve(int64_t values, int64_t arrays) {
  const int64_t raw = arrays + (values + 7 * arrays) / 8 + 7 * values;
  return 1 + raw + 8 * (raw / 65536 + 1 + kCoderChannelCount);
}
