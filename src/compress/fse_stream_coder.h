#pragma once
#include <cstdint>

#include "compress/coder.h"
#include "compress/fse.h"

// Coder id 2, the coder the engine writes: each array of zigzag deltas becomes a
// flag byte, one presence mask byte per group of eight values and one token
// byte (value - 1) per nonzero value. A token goes to one of 16 streams chosen
// by the token before it in the array (a small context model); tokens from 255
// escape to 16- or 32-bit fields on streams of their own. Stream i travels on
// channel i, cut into blocks of 65536 bytes, each FSE-coded on its own.
//
// Streams: 0 flag bytes (after the coder id byte), 1 mask bytes, 2 + c the
// tokens of context c = 0 ... 15, 18 and 19 the low and high byte of a 16-bit
// escape (255, 255: a 32-bit one follows), 20 ... 23 the bytes of a 32-bit
// escape, least significant first.
//
// Block on a channel, little-endian: u32 raw size n (1 ... 65536; every block
// but a stream's last holds 65536), i32 code, then the payload: code above 1,
// that many bytes of FSE block; code 1, one byte repeated n times; code 0 or
// negative (not compressible, or an FSE error), the n bytes raw.

constexpr int32_t kStreamBlockBytes = 65536;
constexpr int32_t kStreamCodeBound = static_cast<int32_t>(FSE_compressBound(kStreamBlockBytes));

// Whether `length` bytes are one stream's channel as the encoder leaves it
// (after the coder id byte on channel 0): whole blocks within the decoder's
// limits, every block but the last of 65536 raw bytes. The frame only; what
// the payloads decode to is not checked.
bool IsWholeCodedStream(const uint8_t* bytes, int64_t length);

// One of the 24 streams of an encoder: `used` bytes are buffered. Stream i
// travels on channel i.
struct ByteStream {
  uint32_t used = 0;
  uint8_t* buffer = nullptr;
};

// Where a decoder reads a stream: the next byte and the end of the block
// loaded into the stream's buffer (both null before the first block). Two
// pointers, so that a token's read, which waits on the token before it for its
// context, is one load for the cursor and one for the byte.
struct ByteStreamCursor {
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
};

// The 24 stream buffers and the coded-block buffer of one coder, from a small
// per-thread list of spare sets (four: the most coders a block walk keeps at
// once), so that the solver's many short-lived coders do not allocate.
class StreamBufferSet {
 public:
  StreamBufferSet();
  ~StreamBufferSet();
  StreamBufferSet(const StreamBufferSet&) = delete;
  StreamBufferSet& operator=(const StreamBufferSet&) = delete;

  uint8_t* Stream(int32_t s) const { return bytes_ + static_cast<size_t>(s) * kStreamBlockBytes; }
  // 2 x kStreamCodeBound bytes for two coded blocks.
  uint8_t* Coded() const { return bytes_ + static_cast<size_t>(kCoderChannelCount) * kStreamBlockBytes; }

 private:
  uint8_t* bytes_;
};

class FseStreamEncoder final : public StreamEncoder {
 public:
  FseStreamEncoder(StreamCallback callback, CoderStats* stats);
  // Flushes every stream holding bytes, in stream order.
  ~FseStreamEncoder() override;
  void Encode(const uint32_t* values, int32_t count, int32_t flag) override;

 private:
  void Append(int32_t s, uint8_t byte) {
    ByteStream& stream = streams_[s];
    stream.buffer[stream.used++] = byte;
    if (stream.used == kStreamBlockBytes) FlushByteStream(s);
  }
  void WriteToken(uint32_t& context, uint32_t token) {
    if (token < 255) {
      Append(2 + static_cast<int32_t>(context), static_cast<uint8_t>(token));
      context = token < 16 ? token : 15;
    } else {
      WriteEscapedToken(context, token);
    }
  }
  void WriteEscapedToken(uint32_t& context, uint32_t token);
  // The fields of a token from 255 on streams 18 to 23 (its byte 255 on the
  // context stream is the caller's).
  void WriteEscapeFields(uint32_t token);
  // The groups of an array written straight into the buffers, without a test
  // per byte, when no token or mask stream can fill its block inside the
  // array; false, with nothing written, otherwise.
  bool EncodeWithinBlocks(const uint32_t* values, int32_t count, const uint8_t* masks);
  void FlushByteStream(int32_t s);
  // The block of stream s (its `used` bytes) through the callback, its code
  // FSE_compress's result for them and `coded` that output; the stream empties.
  void EmitBlock(int32_t s, uint8_t* coded, int32_t code);

  StreamCallback callback_;
  CoderStats* stats_;
  StreamBufferSet buffers_;
  ByteStream streams_[kCoderChannelCount];
};

class FseStreamDecoder final : public StreamDecoder {
 public:
  explicit FseStreamDecoder(StreamCallback callback);
  uint32_t Decode(uint32_t* out, const uint32_t* reference, int32_t count) override;
  uint32_t Decode16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  bool AppliesReference() override { return true; }

 private:
  template <typename T>
  uint32_t DecodeArray(T* out, const T* reference, int32_t count);

  uint8_t ReadByte(int32_t s) {
    ByteStreamCursor& cursor = cursors_[s];
    if (cursor.next >= cursor.end) RefillByteStream(s);
    return *cursor.next++;
  }
  uint32_t ReadToken(uint32_t& context) {
    const uint32_t b = ReadByte(2 + static_cast<int32_t>(context));
    if (b < 255) {
      context = b < 16 ? b : 15;
      return b;
    }
    context = 15;
    return ReadEscapedToken();
  }
  // The next n bytes of stream s, across its blocks.
  void ReadBytes(int32_t s, uint8_t* out, int32_t n);
  // The fields after a token byte of 255.
  uint32_t ReadEscapedToken();
  // Loads the stream's next block; throws CodedStreamError for a block whose
  // sizes are out of range or that does not decode to its size, and for a read
  // past a stream's last block.
  void RefillByteStream(int32_t s);

  StreamCallback callback_;
  StreamBufferSet buffers_;
  ByteStreamCursor cursors_[kCoderChannelCount];
  // Raw size of each stream's block in use (0 before the first): only a
  // stream's last block is short.
  uint32_t block_sizes_[kCoderChannelCount] = {};
};
