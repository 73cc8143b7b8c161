#include "compress/range_coder.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "compress/coded_channels.h"
#include "compress/combo_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The symbol the tree reaches by comparing with each split, as a coder walks it.
int32_t Walk(const ValueTreeNode* nodes, int32_t symbol, int32_t* depth) {
  int32_t node = 0, lo = 0, hi = kRangeTreeSymbols;
  *depth = 0;
  while (hi - lo > 1) {
    const int32_t split = nodes[node].split;
    if (split <= lo || split >= hi) return -1;
    ++*depth;
    if (symbol >= split) {
      lo = split;
      node = nodes[node].right;
    } else {
      hi = split;
      node = node + 1;
    }
  }
  return lo;
}

std::unique_ptr<StreamEncoder> RangeEncoder(CodedChannels& channels, CoderStats& stats,
                                            const uint64_t* model, uint64_t* gathered) {
  return CreateEncoder(CODER_RANGE, model, gathered, &CodedChannels::Write, &channels, &stats);
}

TEST(RangeCoder, ValueTreesReachEverySymbolAndFollowTheCounts) {
  ValueTreeNode nodes[kRangeTreeSymbols];
  uint64_t counts[kRangeCountEntries] = {};
  CreateOptimalTree(counts, nodes);
  EXPECT_EQ(nodes[0].split, 512);
  counts[0] = 1000;
  CreateOptimalTree(counts, nodes);
  EXPECT_EQ(nodes[0].split, 1);

  std::mt19937_64 rng(41);
  for (int trial = 0; trial < 50; ++trial) {
    for (uint64_t& c : counts) c = trial % 3 == 0 ? rng() : rng() % (trial % 2 ? 1000 : 3);
    CreateOptimalTree(counts, nodes);
    int32_t depth;
    for (int32_t t = 0; t < kRangeTreeSymbols; ++t) ASSERT_EQ(Walk(nodes, t, &depth), t) << t;
    // Weighted symbols sit high: the most frequent one is reached quickly.
    if (trial % 3 == 1) {
      int32_t top = 0;
      for (int32_t s = 0; s < 255; ++s)
        if (counts[s] > counts[top]) top = s;
      Walk(nodes, top, &depth);
      EXPECT_LT(depth, 10);
    }
  }
}

// A stream worked out by hand: the flag bit 1 at probability one half, then
// the five flush shifts.
TEST(RangeCoder, CodesTheHandWorkedStream) {
  CodedChannels channels;
  CoderStats stats;
  auto encoder = RangeEncoder(channels, stats, nullptr, nullptr);
  encoder->Encode(nullptr, 0, 1);
  encoder.reset();
  const Bytes& c = channels.bytes[0];
  ASSERT_EQ(c.size(), 2053u + 5);
  EXPECT_EQ(Bytes(c.begin(), c.begin() + 5), (Bytes{0, 'C', 'm', 'p', 'r'}));
  EXPECT_EQ(Bytes(c.begin() + 5, c.begin() + 2053), Bytes(2048, 0));
  EXPECT_EQ(Bytes(c.begin() + 2053, c.end()), (Bytes{0x00, 0x7F, 0xFF, 0xFC, 0x00}));
  for (int s = 1; s < kCoderChannelCount; ++s) EXPECT_TRUE(channels.bytes[s].empty());

  CodedChannels plain;
  encoder = RangeEncoder(plain, stats, nullptr, nullptr);
  encoder->Encode(nullptr, 0, 0);
  encoder.reset();
  EXPECT_EQ(Bytes(plain.bytes[0].begin() + 2053, plain.bytes[0].end()), Bytes(5, 0));

  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  ASSERT_NE(decoder, nullptr);
  EXPECT_EQ(decoder->Decode(nullptr, nullptr, 0), 1u);
  decoder.reset();
}

TEST(RangeCoder, AWrongMagicIsRefused) {
  for (const Bytes& magic : {Bytes{'C', 'm', 'p', 'x'}, Bytes{'C', 'm', 'p', 0}}) {
    CodedChannels channels;
    channels.bytes[0] = {CODER_RANGE, magic[0], magic[1], magic[2], magic[3]};
    channels.bytes[0].resize(5 + 2048 + 5);
    try {
      CreateDecoder(&CodedChannels::Read, &channels);
      ADD_FAILURE() << "decoder made";
    } catch (const CodedStreamError& e) {
      EXPECT_STREQ(e.what(), "compressor wrong id");
    }
  }
}

TEST(RangeCoder, ValuesAtTheEscapeBoundariesRoundTrip) {
  // Coded values (zigzag deltas) straight through the coder.
  const std::vector<std::vector<uint32_t>> arrays = {
      {1, 1023, 1024, 1025, 66559, 66560, 0xFFFFFFFFu, 0, 0, 7},
      std::vector<uint32_t>(40, 0),
      {5},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0x80000000u}};
  CodedChannels channels;
  CoderStats stats;
  std::vector<uint64_t> gathered(256, 99);
  auto encoder = RangeEncoder(channels, stats, nullptr, gathered.data());
  EXPECT_EQ(gathered, std::vector<uint64_t>(256, 0));
  for (const auto& a : arrays) encoder->Encode(a.data(), int32_t(a.size()), 0);
  encoder.reset();

  EXPECT_EQ(stats.arrays, 4u);
  EXPECT_EQ(stats.groups, 1u + 3 + 1 + 2);
  EXPECT_EQ(stats.zero_groups, 3u + 1);
  EXPECT_EQ(stats.tree_values, 5u);
  EXPECT_EQ(stats.escaped_values, 6u);
  EXPECT_EQ(stats.max_escaped_token, 0x7FFFFFFF);  // 0xFFFFFFFE counts as -2
  EXPECT_EQ(stats.value_sum, 1ull + 1023 + 1024 + 1025 + 66559 + 66560 + 0xFFFFFFFFull + 7 + 5 +
                                 3 + 0x80000000ull);
  EXPECT_EQ(gathered[0], 1u);
  EXPECT_EQ(gathered[255], 7u);
  EXPECT_EQ(gathered[6], 1u);

  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  for (const auto& a : arrays) {
    std::vector<uint32_t> out(a.size());
    decoder->Decode(out.data(), nullptr, int32_t(a.size()));
    uint32_t value = 0;
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(out[i], value += Unzigzag(a[i])) << i;
  }
  decoder.reset();
}

// A group coded all zero keeps the distance to the reference with flag 1, and
// repeats the previous value with flag 0; Decode16 rebuilds the same values in
// 16 bits.
TEST(RangeCoder, ZeroGroupsFollowTheFlagAndDecode16Decodes) {
  std::vector<uint32_t> coded(40, 0);
  coded[0] = Zigzag(3);
  coded[20] = Zigzag(static_cast<uint32_t>(-2));
  std::vector<uint32_t> reference(40);
  for (uint32_t i = 0; i < 40; ++i) reference[i] = 1000 + i * i;
  CodedChannels channels;
  CoderStats stats;
  auto encoder = RangeEncoder(channels, stats, nullptr, nullptr);
  encoder->Encode(coded.data(), 40, 1);
  encoder->Encode(coded.data(), 40, 0);
  encoder->Encode(coded.data(), 40, 1);
  encoder.reset();
  EXPECT_EQ(stats.reference_arrays, 2u);

  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  std::vector<uint32_t> out(40);
  EXPECT_EQ(decoder->Decode(out.data(), reference.data(), 40), 1u);
  for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(out[i], reference[i] + (i < 20 ? 3 : 1)) << i;
  EXPECT_EQ(decoder->Decode(out.data(), reference.data(), 40), 0u);
  for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(out[i], 1003u - (i < 20 ? 0 : 2)) << i;
  std::vector<uint16_t> out16(40, 0xBEEF), reference16(reference.begin(), reference.end());
  EXPECT_EQ(decoder->Decode16(out16.data(), reference16.data(), 40), 1u);
  for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(out16[i], uint16_t(reference[i] + (i < 20 ? 3 : 1)));
  decoder.reset();
}

// A stream coded with the counts gathered from an earlier one as its model.
TEST(RangeCoder, AGatheredTableServesAsTheNextModel) {
  std::mt19937 rng(42);
  std::vector<CodedArray<uint32_t>> arrays;
  for (int a = 0; a < 60; ++a) {
    std::vector<uint32_t> v(1 + rng() % kMaxComboArray);
    uint32_t x = rng();
    for (auto& e : v) e = x += rng() % 3 ? 0 : rng() % 40 - 20;
    arrays.push_back({v, {}});
  }
  CodedChannels first, second;
  CoderStats stats;
  std::vector<uint64_t> gathered(256);
  auto encoder = RangeEncoder(first, stats, nullptr, gathered.data());
  for (const auto& a : arrays)
    EncodeComboArray(encoder.get(), a.values.data(), nullptr, int32_t(a.values.size()));
  encoder.reset();
  EncodeArrays(CODER_RANGE, arrays, second, stats, gathered.data());
  EXPECT_EQ(Bytes(second.bytes[0].begin() + 5, second.bytes[0].begin() + 13),
            (Bytes{uint8_t(gathered[0]), uint8_t(gathered[0] >> 8), uint8_t(gathered[0] >> 16),
                   uint8_t(gathered[0] >> 24), 0, 0, 0, 0}));
  const auto decoded = DecodeArrays(arrays, second);
  for (size_t i = 0; i < arrays.size(); ++i) ASSERT_EQ(decoded[i], arrays[i].values);
  EXPECT_EQ(DecodeArrays(arrays, first).back(), arrays.back().values);
}

}  // namespace
