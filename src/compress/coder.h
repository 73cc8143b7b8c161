#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>

// The coded-stream frame shared by every coder. A coder never touches memory or
// files itself: it moves bytes through one callback on numbered channels, and
// channel 0 begins with the coder id byte. Value arrays reach the coders as
// zigzag-coded first differences (compress/combo_codec.h).

enum CoderId : uint8_t {
  CODER_RANGE = 0,        // adaptive binary range coder, read only in the engine
  CODER_PACKER = 1,       // bit, nibble and byte packer, read only in the engine
  CODER_FSE_STREAMS = 2,  // 24 FSE-coded byte streams, the one the engine writes
};

constexpr int32_t kCoderChannelCount = 24;

// Writing: append `length` bytes from `buffer` to the channel. Reading: copy the
// next `length` bytes of the channel into `buffer`. A reading callback that
// cannot deliver throws (the coders are exception-safe and hold no resource
// outside their objects); it never returns short.
using StreamCallbackFn = void (*)(void* context, int32_t channel, uint8_t* buffer, int32_t length);
// Reading from channels that already lie in memory: the address of the next
// `length` bytes of the channel, which the read consumes; valid while the
// decoder lives. Throws like the reading callback when the channel ends first.
using StreamViewFn = const uint8_t* (*)(void* context, int32_t channel, int32_t length);

struct StreamCallback {
  StreamCallbackFn function = nullptr;
  void* context = nullptr;
  StreamViewFn view = nullptr;  // optional, reading side only

  void operator()(int32_t channel, uint8_t* buffer, int32_t length) const {
    function(context, channel, buffer, length);
  }
};

// What an encoder counts for the block that owns it. Every encoder keeps
// reference_arrays, raw_bytes, max_escaped_token and arrays; only the range
// coder fills the other five.
struct CoderStats {
  uint64_t zero_groups = 0;     // groups found all zero
  uint64_t groups = 0;          // groups coded
  uint64_t reference_arrays = 0;  // arrays coded against their reference (flag 1)
  uint64_t raw_bytes = 0;       // 4 per value coded, 16-bit values included
  uint64_t tree_values = 0;     // values coded without escape
  uint64_t escaped_values = 0;  // values coded with an escape
  uint64_t value_sum = 0;       // sum of the coded nonzero values
  int32_t max_escaped_token = 0;  // largest escaped token, compared signed
  uint32_t arrays = 0;          // arrays coded
};

class StreamEncoder {
 public:
  // Hands every byte still buffered to the callback: a stream is complete only
  // once its encoder is gone.
  virtual ~StreamEncoder() = default;
  // Codes one array of `count` zigzag deltas (at most 1326) and its flag (0
  // plain, 1 against the reference).
  virtual void Encode(const uint32_t* values, int32_t count, int32_t flag) = 0;
};

class StreamDecoder {
 public:
  virtual ~StreamDecoder() = default;
  // Reads the next array and rebuilds its values into out (prefix sums of the
  // deltas, against the reference when the array's flag says so); returns the
  // flag. The count and reference must be those of the matching write.
  virtual uint32_t Decode(uint32_t* out, const uint32_t* reference, int32_t count) = 0;
  // The same in 16-bit arithmetic.
  virtual uint32_t Decode16(uint16_t* out, const uint16_t* reference, int32_t count) = 0;
  // True: Decode applies the deltas and the reference itself.
  virtual bool AppliesReference() { return true; }
};

// A stream that cannot be decoded: a size or count out of range, a block the
// entropy decoder refuses, a channel read past its end, a wrong header. The
// decoder is left destroyable; what the stream held is lost. A tree-file load
// reports it as its error; values in the engine's own memory use
// ExitOnDamagedStream instead.
class CodedStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the encoder of coder id `id` after writing the id byte on channel 0.
// The count tables (256 entries each) are the range coder's model and gathered
// counts; null model counts stand for zeros, null gathered counts are not
// gathered. `stats` must not be null. Another id: the id byte is written and
// the result is null. Destroying the encoder finishes its stream.
std::unique_ptr<StreamEncoder> CreateEncoder(int32_t id, const uint64_t* model_counts,
                                             uint64_t* gathered_counts, StreamCallbackFn function,
                                             void* context, CoderStats* stats);

// Reads the id byte of channel 0 and builds its decoder; null for an id that
// names no coder. Throws CodedStreamError when the coder's header is wrong
// (the range coder's "compressor wrong id").
// With a view, a decoder may read coded bytes in place instead of copying
// them (the bytes consumed are the same).
std::unique_ptr<StreamDecoder> CreateDecoder(StreamCallbackFn function, void* context,
                                             StreamViewFn view = nullptr);

// A stream damaged in the engine's own memory means that memory is corrupt:
// prints the line "fse error" and ends the process with exit code 1.
[[noreturn]] void ExitOnDamagedStream();
