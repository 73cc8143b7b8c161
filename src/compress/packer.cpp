#include "compress/packer.h"

#include <cstring>

#include "compress/combo_codec.h"
#include "protocol/fail.h"

namespace {

constexpr int32_t kBitChannel = 1;
constexpr int32_t kTokenChannel = 2;
constexpr int32_t kByteChannel = 0;
constexpr uint32_t kBitsPerBlock = 8 * kPackBlockBytes;
constexpr uint32_t kTokensPerBlock = 2 * kPackBlockBytes;
constexpr uint32_t kEscapeToken = 15;

}  // namespace

BitPackEncoder::BitPackEncoder(StreamCallback callback, CoderStats* stats)
    : callback_(callback), stats_(stats) {}

BitPackEncoder::~BitPackEncoder() {
  if (bit_position_) callback_(kBitChannel, bit_block_, kPackBlockBytes);
  if (token_position_) callback_(kTokenChannel, token_block_, kPackBlockBytes);
  if (byte_position_) callback_(kByteChannel, byte_block_, kPackBlockBytes);
}

// Blocks start cleared, so zero bits and tokens need no store.
void BitPackEncoder::PutBit(uint32_t bit) {
  if (bit) bit_block_[bit_position_ >> 3] |= static_cast<uint8_t>(1u << (bit_position_ & 7));
  if (++bit_position_ == kBitsPerBlock) {
    callback_(kBitChannel, bit_block_, kPackBlockBytes);
    std::memset(bit_block_, 0, sizeof bit_block_);
    bit_position_ = 0;
  }
}

void BitPackEncoder::PutToken(uint32_t token) {
  if (token)
    token_block_[token_position_ >> 1] |= static_cast<uint8_t>(token << (4 * (token_position_ & 1)));
  if (++token_position_ == kTokensPerBlock) {
    callback_(kTokenChannel, token_block_, kPackBlockBytes);
    std::memset(token_block_, 0, sizeof token_block_);
    token_position_ = 0;
  }
}

void BitPackEncoder::PutByte(uint8_t byte) {
  byte_block_[byte_position_] = byte;
  if (++byte_position_ == kPackBlockBytes) {
    callback_(kByteChannel, byte_block_, kPackBlockBytes);
    std::memset(byte_block_, 0, sizeof byte_block_);
    byte_position_ = 0;
  }
}

// Token t = value - 1 below 15; else 15 and the byte t below 255; else the byte
// 255 and t in 16 bits below 65535; else 65535 in 16 bits and t in 32.
void BitPackEncoder::PutValue(uint32_t value) {
  const uint32_t token = value - 1;
  if (token < kEscapeToken) {
    PutToken(token);
    return;
  }
  PutToken(kEscapeToken);
  if (token < 255) {
    PutByte(static_cast<uint8_t>(token));
    return;
  }
  PutByte(255);
  if (static_cast<int32_t>(token) > stats_->max_escaped_token)
    stats_->max_escaped_token = static_cast<int32_t>(token);
  const uint32_t wide = token < 65535 ? token : 65535;
  PutByte(static_cast<uint8_t>(wide));
  PutByte(static_cast<uint8_t>(wide >> 8));
  if (token < 65535) return;
  for (int32_t k = 0; k < 4; ++k) PutByte(static_cast<uint8_t>(token >> (8 * k)));
}

void BitPackEncoder::Encode(const uint32_t* values, int32_t count, int32_t flag) {
  if (count < 0 || count > kMaxComboArray) Fail();
  PutBit(flag != 0);
  uint8_t masks[(kMaxComboArray + 7) / 8];
  Kernels<ComboCodecKernels>().FindNonzeroGroups(values, count, masks);
  for (int32_t g = 0, group = 0; g < count; g += 8, ++group) {
    PutBit(masks[group] != 0);
    if (!masks[group]) continue;
    const int32_t end = count - g < 8 ? count : g + 8;
    for (int32_t i = g; i < end; ++i) {
      PutBit(values[i] != 0);
      if (values[i]) PutValue(values[i]);
    }
  }
  stats_->raw_bytes += 4 * static_cast<uint64_t>(count);
  stats_->arrays += 1;
  if (flag) stats_->reference_arrays += 1;
}

uint32_t BitPackDecoder::GetBit() {
  if (bit_position_ >= kBitsPerBlock) {
    callback_(kBitChannel, bit_block_, kPackBlockBytes);
    bit_position_ = 0;
  }
  const uint32_t bit = (bit_block_[bit_position_ >> 3] >> (bit_position_ & 7)) & 1;
  ++bit_position_;
  return bit;
}

uint32_t BitPackDecoder::GetToken() {
  if (token_position_ >= kTokensPerBlock) {
    callback_(kTokenChannel, token_block_, kPackBlockBytes);
    token_position_ = 0;
  }
  const uint32_t token = (token_block_[token_position_ >> 1] >> (4 * (token_position_ & 1))) & 15;
  ++token_position_;
  return token;
}

uint32_t BitPackDecoder::GetByte() {
  if (byte_position_ >= kPackBlockBytes) {
    callback_(kByteChannel, byte_block_, kPackBlockBytes);
    byte_position_ = 0;
  }
  return byte_block_[byte_position_++];
}

uint32_t BitPackDecoder::GetValue() {
  uint32_t token = GetToken();
  if (token == kEscapeToken) {
    token = GetByte();
    if (token == 255) {
      token = GetByte();
      token |= GetByte() << 8;
      if (token == 65535) {
        token = 0;
        for (int32_t k = 0; k < 4; ++k) token |= GetByte() << (8 * k);
      }
    }
  }
  return token + 1;
}

template <typename T>
uint32_t BitPackDecoder::DecodeArray(T* out, const T* reference, int32_t count) {
  if (count < 0 || count > kMaxComboArray) Fail();
  const uint32_t flag = GetBit();
  uint32_t coded[kMaxComboArray];
  for (int32_t g = 0; g < count; g += 8) {
    const int32_t end = count - g < 8 ? count : g + 8;
    const uint32_t any = GetBit();
    for (int32_t i = g; i < end; ++i) coded[i] = any && GetBit() ? GetValue() : 0;
  }
  RebuildComboValues(out, reference, coded, count, flag);
  return flag;
}

uint32_t BitPackDecoder::Decode(uint32_t* out, const uint32_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}

uint32_t BitPackDecoder::Decode16(uint16_t* out, const uint16_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}
