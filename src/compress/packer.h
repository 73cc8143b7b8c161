#pragma once
#include <cstdint>

#include "compress/coder.h"

// Coder id 1: arrays packed without modelling. Bits (per array the flag, per
// group of eight the group bit, per value of a marked group the nonzero bit) go
// to channel 1, LSB first; 4-bit tokens (value - 1, 15 = escape) to channel 2,
// low half first; escape bytes and 16- and 32-bit escape values (little-endian,
// free to run across blocks) to channel 0 after the coder id byte. Every
// channel travels in whole blocks of 256 bytes, the last one zero-padded. The
// engine reads such streams; the encoder writes exactly what the decoder reads.

constexpr int32_t kPackBlockBytes = 256;

class BitPackEncoder final : public StreamEncoder {
 public:
  BitPackEncoder(StreamCallback callback, CoderStats* stats);
  // Writes every started block, channels 1, 2, 0 in that order.
  ~BitPackEncoder() override;
  void Encode(const uint32_t* values, int32_t count, int32_t flag) override;

 private:
  void PutBit(uint32_t bit);
  void PutToken(uint32_t token);
  void PutByte(uint8_t byte);
  void PutValue(uint32_t value);

  StreamCallback callback_;
  uint32_t bit_position_ = 0;
  uint8_t bit_block_[kPackBlockBytes] = {};
  uint32_t token_position_ = 0;
  uint8_t token_block_[kPackBlockBytes] = {};
  uint32_t byte_position_ = 0;
  uint8_t byte_block_[kPackBlockBytes] = {};
  CoderStats* stats_;
};

class BitPackDecoder final : public StreamDecoder {
 public:
  explicit BitPackDecoder(StreamCallback callback) : callback_(callback) {}
  uint32_t Decode(uint32_t* out, const uint32_t* reference, int32_t count) override;
  uint32_t Decode16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  bool AppliesReference() override { return true; }

 private:
  template <typename T>
  uint32_t DecodeArray(T* out, const T* reference, int32_t count);
  uint32_t GetBit();
  uint32_t GetToken();
  uint32_t GetByte();
  uint32_t GetValue();

  StreamCallback callback_;
  // Every block starts used up, so the first read of a channel fetches one.
  uint32_t bit_position_ = 8 * kPackBlockBytes;
  uint8_t bit_block_[kPackBlockBytes] = {};
  uint32_t token_position_ = 2 * kPackBlockBytes;
  uint8_t token_block_[kPackBlockBytes] = {};
  uint32_t byte_position_ = kPackBlockBytes;
  uint8_t byte_block_[kPackBlockBytes] = {};
};
