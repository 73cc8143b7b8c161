#include "compress/packer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "compress/coded_channels.h"
#include "compress/combo_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

void EncodeRaw(CodedChannels& channels, CoderStats& stats,
               const std::vector<std::vector<uint32_t>>& arrays, int32_t flag = 0) {
  auto encoder =
      CreateEncoder(CODER_PACKER, nullptr, nullptr, &CodedChannels::Write, &channels, &stats);
  for (const auto& a : arrays) encoder->Encode(a.data(), static_cast<int32_t>(a.size()), flag);
  encoder.reset();
}

std::vector<uint32_t> PrefixSums(const std::vector<uint32_t>& coded) {
  std::vector<uint32_t> out(coded.size());
  uint32_t value = 0;
  for (size_t i = 0; i < coded.size(); ++i) out[i] = value += Unzigzag(coded[i]);
  return out;
}

void ExpectRoundTrip(CodedChannels& channels, const std::vector<std::vector<uint32_t>>& arrays) {
  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  ASSERT_NE(decoder, nullptr);
  for (const auto& a : arrays) {
    std::vector<uint32_t> out(a.size());
    decoder->Decode(out.data(), nullptr, static_cast<int32_t>(a.size()));
    ASSERT_EQ(out, PrefixSums(a));
  }
  decoder.reset();
}

// Bit i of the bit channel.
int Bit(const CodedChannels& c, size_t i) { return (c.bytes[1][i / 8] >> (i % 8)) & 1; }

TEST(Packer, EmptyAndZeroArraysAreBitsAlone) {
  CodedChannels channels;
  CoderStats stats;
  EncodeRaw(channels, stats, {{}, std::vector<uint32_t>(20, 0)}, 1);
  EXPECT_EQ(channels.bytes[0], Bytes{CODER_PACKER});
  EXPECT_TRUE(channels.bytes[2].empty());
  ASSERT_EQ(channels.bytes[1].size(), size_t{kPackBlockBytes});
  // 1 flag, then 1 flag and 3 group bits of 0.
  EXPECT_EQ(channels.bytes[1][0], 0b00011);
  EXPECT_EQ(Bytes(channels.bytes[1].begin() + 1, channels.bytes[1].end()), Bytes(255, 0));
  EXPECT_EQ(stats.reference_arrays, 2u);
  EXPECT_EQ(stats.raw_bytes, 80u);
  ExpectRoundTrip(channels, {{}, std::vector<uint32_t>(20, 0)});
}

TEST(Packer, TokensAndEscapesAtTheirBoundaries) {
  CodedChannels channels;
  CoderStats stats;
  const std::vector<std::vector<uint32_t>> arrays = {{15, 16, 255, 256, 65535, 65536, 2}};
  EncodeRaw(channels, stats, arrays);
  // Tokens 14, 15 x 5, 1, low half first.
  EXPECT_EQ(Bytes(channels.bytes[2].begin(), channels.bytes[2].begin() + 4),
            (Bytes{0xFE, 0xFF, 0xFF, 0x01}));
  const Bytes escapes = {15, 254, 255, 255, 0, 255, 254, 255, 255, 255, 255, 255, 255, 0, 0};
  EXPECT_EQ(Bytes(channels.bytes[0].begin() + 1, channels.bytes[0].begin() + 1 + escapes.size()),
            escapes);
  // Flag 0, group 1, then seven nonzero bits.
  for (int i = 0; i < 9; ++i) EXPECT_EQ(Bit(channels, i), i == 0 ? 0 : 1) << i;
  EXPECT_EQ(stats.max_escaped_token, 65535);
  ExpectRoundTrip(channels, arrays);
}

TEST(Packer, EscapeValuesRunAcrossByteBlocks) {
  for (int split = 1; split <= 3; ++split) {
    // Single-byte escapes, then 255, the u16 65535 and the u32 of the last
    // value, which begins `split` places before the end of the first block.
    std::vector<uint32_t> values(253 - split, 100);
    values.push_back(0x12345678u);
    CodedChannels channels;
    CoderStats stats;
    EncodeRaw(channels, stats, {values});
    const Bytes& c = channels.bytes[0];
    ASSERT_EQ(c.size(), 1u + 2 * kPackBlockBytes);
    const Bytes tail = {255, 255, 0x77, 0x56, 0x34, 0x12};
    const size_t start = 1 + (253 - split) + 1;
    EXPECT_EQ(Bytes(c.begin() + start, c.begin() + start + 6), tail) << split;
    ExpectRoundTrip(channels, {values});
  }
  // A 16-bit value: low byte last in the first block, high byte first in the next.
  std::vector<uint32_t> values(254, 100);
  values.push_back(1000);
  CodedChannels channels;
  CoderStats stats;
  EncodeRaw(channels, stats, {values});
  EXPECT_EQ(channels.bytes[0][1 + 254], 255);
  EXPECT_EQ(channels.bytes[0][1 + 255], (999 & 0xFF));
  EXPECT_EQ(channels.bytes[0][1 + 256], 999 >> 8);
  ExpectRoundTrip(channels, {values});
}

TEST(Packer, TheBitAfterAFullBlockStartsTheNext) {
  // 2048 bits: per array a flag and one group bit of 0.
  CodedChannels channels;
  CoderStats stats;
  auto encoder =
      CreateEncoder(CODER_PACKER, nullptr, nullptr, &CodedChannels::Write, &channels, &stats);
  const uint32_t zeros[8] = {};
  for (int a = 0; a < 1024; ++a) encoder->Encode(zeros, 8, 1);
  EXPECT_EQ(channels.bytes[1].size(), size_t{kPackBlockBytes});
  encoder->Encode(zeros, 0, 0);
  encoder.reset();
  EXPECT_EQ(channels.bytes[1].size(), 2u * kPackBlockBytes);
  EXPECT_EQ(channels.bytes[1][kPackBlockBytes], 0);
}

TEST(Packer, Decode16RebuildsInSixteenBitsWithTheReference) {
  std::vector<uint32_t> coded(12, 0);
  coded[0] = Zigzag(5);
  coded[9] = Zigzag(0xFFFF0000u);  // -65536: nothing in 16 bits
  coded[10] = 3;
  CodedChannels channels;
  CoderStats stats;
  EncodeRaw(channels, stats, {coded, coded}, 1);
  const std::vector<uint16_t> reference = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 65535};
  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  std::vector<uint16_t> out(12);
  EXPECT_EQ(decoder->Decode16(out.data(), reference.data(), 12), 1u);
  // Offset 5 to the reference, then 5 - 2 = 3 after the 3 (that is, -2).
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(out[i], uint16_t(reference[i] + (i < 10 ? 5 : 3))) << i;
  EXPECT_EQ(decoder->Decode16(out.data(), nullptr, 12), 1u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], i < 10 ? 5 : 3) << i;
  decoder.reset();
}

}  // namespace
