#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "compress/coder.h"
#include "platform/byte_io.h"

// Load-time converters: the next array of small unsigned values of a tree
// file's coded sections (per-card values, strategies before a forgotten
// street), whichever of the two forms the section uses.

// Longest array a section may hold: the scratch areas of the node-data reader.
constexpr int32_t kMaxConvertedArray = 2048;

class BlockConverter {
 public:
  virtual ~BlockConverter() = default;
  // The next array of count values into out; a count below 1 reads nothing.
  // The reference (null from the tree-file reader) is what the stream form
  // codes against. A count above kMaxConvertedArray, or bytes that do not
  // hold count values: TreeFileError or CodedStreamError; IOException when
  // the file ends.
  virtual void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) = 0;
  virtual void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) = 0;
};

// Copy form: each array is self-contained in the file,
//   i16 size (0 or negative: no bytes follow), size bytes packed
// (compress/value_packing.h), at most 8192 bytes for 32-bit arrays and 4096
// for 16-bit ones.
class CopyConverter final : public BlockConverter {
 public:
  explicit CopyConverter(ByteReader& in) : in_(in) {}
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;

 private:
  ByteReader& in_;
};

// Stream form: 24 streams read when the converter is made,
//   24 x (u64 length, length bytes)
// with the coder id in stream 0's first byte (compress/coder.h); every array
// is then decoded from them in file order, never touching the file again.
class DecodeConverter final : public BlockConverter {
 public:
  // Reads the streams and makes the decoder. The streams grow as their bytes
  // arrive, so a length beyond the end of the file fails at that end instead
  // of reserving it. A coder id that names no coder leaves no decoder: the
  // first array then fails.
  explicit DecodeConverter(ByteReader& in);
  void ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) override;
  void ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) override;

 private:
  // The decoder's byte source; a read past a stream's end is a damaged stream.
  static void ReadStream(void* context, int32_t channel, uint8_t* buffer, int32_t length);

  std::vector<uint8_t> streams_[kCoderChannelCount];
  uint64_t positions_[kCoderChannelCount] = {};
  std::unique_ptr<StreamDecoder> decoder_;
};

// The converter of a coded section: from version 6 a byte chooses (nonzero
// copy form, zero stream form); versions 4 and 5 always use the stream form.
std::unique_ptr<BlockConverter> MakeBlockConverter(ByteReader& in);

// The writing side, always the stream form through the FSE byte-stream coder:
// arrays are coded as they come and the 24 streams go out in Finish, after the
// converter byte that selects the stream form.
class BlockEmitter {
 public:
  BlockEmitter();
  ~BlockEmitter();
  BlockEmitter(const BlockEmitter&) = delete;
  BlockEmitter& operator=(const BlockEmitter&) = delete;

  // At most kMaxComboArray values per array (TreeFileError beyond).
  void WriteValues32(const uint32_t* values, int32_t count);
  void WriteValues16(const uint16_t* values, int32_t count);
  // Ends the coding and writes the converter byte and the streams.
  void Finish(ByteWriter& out);

 private:
  static void AppendStream(void* context, int32_t channel, uint8_t* buffer, int32_t length);

  std::vector<uint8_t> streams_[kCoderChannelCount];
  CoderStats stats_;
  std::unique_ptr<StreamEncoder> encoder_;
};
