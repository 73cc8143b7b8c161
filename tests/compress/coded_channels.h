#pragma once
// The 24 channels of a coded stream in memory, with the writing and the
// reading callback of the coder frame, and round trips of value arrays through
// any coder. A read past a channel's end throws CodedStreamError, as the
// engine's own bounded readers do.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "compress/coder.h"
#include "compress/combo_codec.h"

struct CodedChannels {
  std::vector<uint8_t> bytes[kCoderChannelCount];
  size_t positions[kCoderChannelCount] = {};
  // Every write and read as (channel, length), for the tests of call shapes.
  std::vector<std::pair<int32_t, int32_t>> calls;

  static void Write(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
    auto* self = static_cast<CodedChannels*>(context);
    self->calls.emplace_back(channel, length);
    self->bytes[channel].insert(self->bytes[channel].end(), buffer, buffer + length);
  }

  static void Read(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
    auto* self = static_cast<CodedChannels*>(context);
    self->calls.emplace_back(channel, length);
    if (channel < 0 || channel >= kCoderChannelCount || length < 0 ||
        static_cast<size_t>(length) > self->bytes[channel].size() - self->positions[channel])
      throw CodedStreamError("channel read past its end");
    std::memcpy(buffer, self->bytes[channel].data() + self->positions[channel], length);
    self->positions[channel] += length;
  }

  // The reading side in place, as a block's channels are read.
  static const uint8_t* View(void* context, int32_t channel, int32_t length) {
    auto* self = static_cast<CodedChannels*>(context);
    self->calls.emplace_back(channel, length);
    if (channel < 0 || channel >= kCoderChannelCount || length < 0 ||
        static_cast<size_t>(length) > self->bytes[channel].size() - self->positions[channel])
      throw CodedStreamError("channel read past its end");
    const uint8_t* at = self->bytes[channel].data() + self->positions[channel];
    self->positions[channel] += length;
    return at;
  }

  void Rewind() {
    for (size_t& p : positions) p = 0;
    calls.clear();
  }

  size_t TotalBytes() const {
    size_t total = 0;
    for (const auto& b : bytes) total += b.size();
    return total;
  }
};

// One array to code: its values and, optionally, its reference.
template <typename T>
struct CodedArray {
  std::vector<T> values;
  std::vector<T> reference;  // empty: none
};

template <typename T>
void EncodeArrays(int32_t coder_id, const std::vector<CodedArray<T>>& arrays,
                  CodedChannels& channels, CoderStats& stats,
                  const uint64_t* model_counts = nullptr) {
  std::vector<uint64_t> gathered(256);
  auto encoder = CreateEncoder(coder_id, model_counts, gathered.data(), &CodedChannels::Write,
                               &channels, &stats);
  for (const CodedArray<T>& a : arrays) {
    const T* reference = a.reference.empty() ? nullptr : a.reference.data();
    const auto count = static_cast<int32_t>(a.values.size());
    if constexpr (sizeof(T) == 4)
      EncodeComboArray(encoder.get(), a.values.data(), reference, count);
    else
      EncodeComboArray16(encoder.get(), a.values.data(), reference, count);
  }
  encoder.reset();
}

// The decoded arrays, read with each array's count and reference.
template <typename T>
std::vector<std::vector<T>> DecodeArrays(const std::vector<CodedArray<T>>& arrays,
                                         CodedChannels& channels) {
  channels.Rewind();
  std::vector<std::vector<T>> out;
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  for (const CodedArray<T>& a : arrays) {
    std::vector<T> values(a.values.size() + 1, T(0x5A5A));
    const T* reference = a.reference.empty() ? nullptr : a.reference.data();
    const auto count = static_cast<int32_t>(a.values.size());
    if constexpr (sizeof(T) == 4)
      DecodeComboArray(decoder.get(), values.data(), reference, count);
    else
      DecodeComboArray16(decoder.get(), values.data(), reference, count);
    // A value written past the count stays and spoils the comparison.
    if (values.back() == T(0x5A5A)) values.pop_back();
    out.push_back(values);
  }
  decoder.reset();
  return out;
}
