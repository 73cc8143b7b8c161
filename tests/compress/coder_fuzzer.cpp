// libFuzzer target for the three stream decoders (not built by default; see
// tests/CMakeLists.txt, option TDX_BUILD_FUZZ, clang only). The input holds a
// few control bytes and the 24 channels; the decoder named by channel 0's
// first byte reads arrays of the counts the control bytes give, with and
// without references, 32- and 16-bit. Every outcome must be a decoded array or
// a CodedStreamError; the sanitizers catch anything else.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "compress/coder.h"
#include "compress/combo_codec.h"
#include "platform/cpu_features.h"

namespace {

struct Channels {
  std::vector<uint8_t> bytes[kCoderChannelCount];
  size_t positions[kCoderChannelCount] = {};

  static void Read(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
    auto* self = static_cast<Channels*>(context);
    const auto& c = self->bytes[channel];
    if (length < 0 || static_cast<size_t>(length) > c.size() - self->positions[channel])
      throw CodedStreamError("channel read past its end");
    std::memcpy(buffer, c.data() + self->positions[channel], length);
    self->positions[channel] += length;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool features = (InitCpuFeatures(), true);
  (void)features;
  if (size < 3) return 0;
  // Control: the array count and a seed for the counts; then per channel a
  // 16-bit length and its bytes, as long as the input lasts.
  const int arrays = 1 + data[0] % 8;
  uint32_t seed = data[1] | data[2] << 8;
  size_t at = 3;
  Channels channels;
  for (int32_t c = 0; c < kCoderChannelCount && at + 2 <= size; ++c) {
    size_t length = data[at] | data[at + 1] << 8;
    at += 2;
    length = std::min(length, size - at);
    channels.bytes[c].assign(data + at, data + at + length);
    at += length;
  }
  std::unique_ptr<StreamDecoder> decoder;
  try {
    decoder = CreateDecoder(&Channels::Read, &channels);
    std::vector<uint32_t> out(kMaxComboArray), reference(kMaxComboArray, 7);
    std::vector<uint16_t> out16(kMaxComboArray), reference16(kMaxComboArray, 7);
    for (int a = 0; a < arrays; ++a) {
      seed = seed * 1103515245u + 12345u;
      const int32_t count = static_cast<int32_t>((seed >> 8) % (kMaxComboArray + 1));
      const bool with_reference = seed & 1;
      if (seed & 2)
        DecodeComboArray(decoder.get(), out.data(), with_reference ? reference.data() : nullptr,
                         count);
      else
        DecodeComboArray16(decoder.get(), out16.data(),
                           with_reference ? reference16.data() : nullptr, count);
    }
  } catch (const CodedStreamError&) {
  }
  decoder.reset();
  return 0;
}
