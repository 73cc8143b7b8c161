#include "treefile/block_converter.h"

#include <algorithm>
#include <cstring>

#include "compress/combo_codec.h"
#include "compress/value_packing.h"
#include "treefile/tree_file_error.h"

namespace {

// Scratch of one copy-form array: the largest packed size the form allows.
constexpr int32_t kCopyScratch32 = 8192;
constexpr int32_t kCopyScratch16 = 4096;
// A stream arrives in pieces of this size, so its memory follows the file.
constexpr uint64_t kStreamPiece = 1 << 20;

void CheckCount(int32_t count) {
  if (count > kMaxConvertedArray) throw TreeFileError("value array too long");
}

// Reads one copy-form array's bytes into scratch; returns their number.
int32_t ReadPacked(ByteReader& in, uint8_t* scratch, int32_t capacity) {
  const int16_t size = ReadField<int16_t>(in);
  if (size <= 0) return 0;
  if (size > capacity) throw TreeFileError("packed array too long");
  in.Read(scratch, static_cast<uint64_t>(size));
  return size;
}

}  // namespace

void CopyConverter::ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) {
  if (count < 1) return;
  CheckCount(count);
  uint8_t scratch[kCopyScratch32];
  const int32_t size = ReadPacked(in_, scratch, kCopyScratch32);
  if (!Kernels<ValuePackingKernels>().UnpackValues32(out, count, scratch, static_cast<size_t>(size)))
    throw TreeFileError("packed array too short");
}

void CopyConverter::ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) {
  if (count < 1) return;
  CheckCount(count);
  uint8_t scratch[kCopyScratch16];
  const int32_t size = ReadPacked(in_, scratch, kCopyScratch16);
  if (!Kernels<ValuePackingKernels>().UnpackValues16(out, count, scratch, static_cast<size_t>(size)))
    throw TreeFileError("packed array too short");
}

DecodeConverter::DecodeConverter(ByteReader& in) {
  for (std::vector<uint8_t>& stream : streams_) {
    const uint64_t length = ReadField<uint64_t>(in);
    for (uint64_t done = 0; done < length;) {
      const uint64_t piece = std::min(kStreamPiece, length - done);
      stream.resize(static_cast<size_t>(done + piece));
      in.Read(stream.data() + done, piece);
      done += piece;
    }
  }
  decoder_ = CreateDecoder(&DecodeConverter::ReadStream, this);
}

void DecodeConverter::ReadStream(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
  auto* self = static_cast<DecodeConverter*>(context);
  if (channel < 0 || channel >= kCoderChannelCount || length < 0)
    throw CodedStreamError("bad stream read");
  const std::vector<uint8_t>& stream = self->streams_[channel];
  uint64_t& position = self->positions_[channel];
  if (static_cast<uint64_t>(length) > stream.size() - position)
    throw CodedStreamError("stream read past its end");
  if (length > 0) std::memcpy(buffer, stream.data() + position, static_cast<size_t>(length));
  position += static_cast<uint64_t>(length);
}

// The codec stops the process on a count above 1326, which only the engine's
// own memory could hand it; from a file that is a bad file.
void DecodeConverter::ReadValues32(uint32_t* out, const uint32_t* reference, int32_t count) {
  if (count < 1) return;
  if (count > kMaxComboArray) throw TreeFileError("coded array too long");
  DecodeComboArray(decoder_.get(), out, reference, count);
}

void DecodeConverter::ReadValues16(uint16_t* out, const uint16_t* reference, int32_t count) {
  if (count < 1) return;
  if (count > kMaxComboArray) throw TreeFileError("coded array too long");
  DecodeComboArray16(decoder_.get(), out, reference, count);
}

std::unique_ptr<BlockConverter> MakeBlockConverter(ByteReader& in) {
  if (in.FormatVersion() >= 6 && ReadField<uint8_t>(in) != 0)
    return std::make_unique<CopyConverter>(in);
  return std::make_unique<DecodeConverter>(in);
}

BlockEmitter::BlockEmitter()
    : encoder_(CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &BlockEmitter::AppendStream,
                             this, &stats_)) {}

BlockEmitter::~BlockEmitter() = default;

void BlockEmitter::AppendStream(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
  auto* self = static_cast<BlockEmitter*>(context);
  if (length > 0) self->streams_[channel].insert(self->streams_[channel].end(), buffer, buffer + length);
}

void BlockEmitter::WriteValues32(const uint32_t* values, int32_t count) {
  if (count < 1) return;
  if (count > kMaxComboArray) throw TreeFileError("value array too long to write");
  EncodeComboArray(encoder_.get(), values, nullptr, count);
}

void BlockEmitter::WriteValues16(const uint16_t* values, int32_t count) {
  if (count < 1) return;
  if (count > kMaxComboArray) throw TreeFileError("value array too long to write");
  EncodeComboArray16(encoder_.get(), values, nullptr, count);
}

void BlockEmitter::Finish(ByteWriter& out) {
  encoder_.reset();  // the encoder's last bytes reach the streams as it goes
  WriteField<uint8_t>(out, 0);
  for (const std::vector<uint8_t>& stream : streams_) {
    WriteField<uint64_t>(out, stream.size());
    if (!stream.empty()) out.Write(stream.data(), stream.size());
  }
}
