#include "compress/fse_stream_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "compress/coded_channels.h"
#include "compress/combo_codec.h"
#include "compress/fse.h"
#include "platform/stdout_redirect.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Block {
  uint32_t n;
  int32_t code;
};

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// The stream bytes a channel carries, from its blocks (after the coder id byte
// on channel 0); the blocks' headers go to `blocks`.
Bytes StreamBytes(const CodedChannels& channels, int32_t s, std::vector<Block>* blocks = nullptr) {
  const Bytes& c = channels.bytes[s];
  Bytes out;
  size_t at = s == 0 ? 1 : 0;
  while (at < c.size()) {
    const Block block{Le32(c, at), static_cast<int32_t>(Le32(c, at + 4))};
    at += 8;
    if (blocks) blocks->push_back(block);
    if (block.code > 1) {
      Bytes raw(block.n);
      EXPECT_EQ(FSE_decompress(raw.data(), raw.size(), c.data() + at, block.code), block.n);
      out.insert(out.end(), raw.begin(), raw.end());
      at += block.code;
    } else if (block.code == 1) {
      out.insert(out.end(), block.n, c[at]);
      at += 1;
    } else {
      out.insert(out.end(), c.begin() + at, c.begin() + at + block.n);
      at += block.n;
    }
  }
  return out;
}

// Codes the arrays of coded values (zigzag deltas) straight through the coder.
void EncodeRaw(CodedChannels& channels, CoderStats& stats,
               const std::vector<std::vector<uint32_t>>& arrays, int32_t flag = 0) {
  auto encoder =
      CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &CodedChannels::Write, &channels, &stats);
  for (const auto& a : arrays) encoder->Encode(a.data(), static_cast<int32_t>(a.size()), flag);
  encoder.reset();
}

// The same values decoded without reference: the prefix sums of the deltas.
std::vector<uint32_t> PrefixSums(const std::vector<uint32_t>& coded) {
  std::vector<uint32_t> out(coded.size());
  uint32_t value = 0;
  for (size_t i = 0; i < coded.size(); ++i) out[i] = value += Unzigzag(coded[i]);
  return out;
}

std::vector<std::vector<uint32_t>> DecodeRaw(CodedChannels& channels,
                                             const std::vector<std::vector<uint32_t>>& arrays) {
  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  std::vector<std::vector<uint32_t>> out;
  for (const auto& a : arrays) {
    std::vector<uint32_t> values(a.size());
    decoder->Decode(values.data(), nullptr, static_cast<int32_t>(a.size()));
    out.push_back(values);
  }
  decoder.reset();
  return out;
}

TEST(FseStreamCoder, GroupsOfEightWriteAFlagAndOneMaskByteEach) {
  CodedChannels channels;
  CoderStats stats;
  const std::vector<std::vector<uint32_t>> arrays = {
      std::vector<uint32_t>(8, 0), {}, std::vector<uint32_t>(13, 1), std::vector<uint32_t>(16, 0)};
  EncodeRaw(channels, stats, arrays, 1);
  EXPECT_EQ(channels.bytes[0][0], CODER_FSE_STREAMS);
  EXPECT_EQ(StreamBytes(channels, 0), (Bytes{1, 1, 1, 1}));
  EXPECT_EQ(StreamBytes(channels, 1), (Bytes{0, 0xFF, 0x1F, 0, 0}));
  EXPECT_EQ(StreamBytes(channels, 2), Bytes(13, 0));
  for (int s = 3; s < kCoderChannelCount; ++s) EXPECT_TRUE(channels.bytes[s].empty()) << s;
  EXPECT_EQ(stats.arrays, 4u);
  EXPECT_EQ(stats.reference_arrays, 4u);
  EXPECT_EQ(stats.raw_bytes, 4u * 37);
  EXPECT_EQ(stats.max_escaped_token, 0);
  EXPECT_EQ(stats.groups, 0u);  // the range coder's counters stay untouched

  EXPECT_EQ(DecodeRaw(channels, arrays)[2], PrefixSums(arrays[2]));
  // An empty array reads only its flag byte.
  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels);
  uint32_t out[8];
  decoder->Decode(out, nullptr, 8);
  const size_t masks_read = channels.positions[1];
  EXPECT_EQ(decoder->Decode(out, nullptr, 0), 1u);
  EXPECT_EQ(channels.positions[1], masks_read);
  decoder.reset();
}

TEST(FseStreamCoder, TokensFollowTheirContextStreams) {
  CodedChannels channels;
  CoderStats stats;
  // Tokens 3, 20, 5, 7 (values one more), then 0, 0 in a second array.
  EncodeRaw(channels, stats, {{4, 21, 6, 8}, {1, 0, 1}});
  EXPECT_EQ(StreamBytes(channels, 2 + 0), (Bytes{3, 0, 0}));
  EXPECT_EQ(StreamBytes(channels, 2 + 3), (Bytes{20}));
  EXPECT_EQ(StreamBytes(channels, 2 + 15), (Bytes{5}));
  EXPECT_EQ(StreamBytes(channels, 2 + 5), (Bytes{7}));
}

TEST(FseStreamCoder, LargeTokensEscapeToTheirOwnStreams) {
  CodedChannels channels;
  CoderStats stats;
  const std::vector<std::vector<uint32_t>> arrays = {
      {255, 256, 65535, 65536, 0xFFFFFFFFu}};
  EncodeRaw(channels, stats, arrays);
  // Tokens 254 (plain), 255, 65534 (16-bit), 65535, 0xFFFFFFFE (32-bit).
  EXPECT_EQ(StreamBytes(channels, 2 + 0), (Bytes{254}));
  EXPECT_EQ(StreamBytes(channels, 2 + 15), (Bytes{255, 255, 255, 255}));
  EXPECT_EQ(StreamBytes(channels, 18), (Bytes{255, 254, 255, 255}));
  EXPECT_EQ(StreamBytes(channels, 19), (Bytes{0, 255, 255, 255}));
  EXPECT_EQ(StreamBytes(channels, 20), (Bytes{255, 0xFE}));
  EXPECT_EQ(StreamBytes(channels, 21), (Bytes{255, 0xFF}));
  EXPECT_EQ(StreamBytes(channels, 22), (Bytes{0, 0xFF}));
  EXPECT_EQ(StreamBytes(channels, 23), (Bytes{0, 0xFF}));
  EXPECT_EQ(stats.max_escaped_token, 65535);  // 0xFFFFFFFE compares as -2
  EXPECT_EQ(DecodeRaw(channels, arrays)[0], PrefixSums(arrays[0]));

  CodedChannels small;
  CoderStats small_stats;
  EncodeRaw(small, small_stats, {{255, 300, 254}});
  EXPECT_EQ(small_stats.max_escaped_token, 299);
}

TEST(FseStreamCoder, FullBlocksAreFlushedAtOnceAndRunsStoreOneByte) {
  CodedChannels channels;
  CoderStats stats;
  const std::vector<std::vector<uint32_t>> arrays(kStreamBlockBytes, std::vector<uint32_t>(8, 0));
  auto encoder =
      CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &CodedChannels::Write, &channels, &stats);
  for (int i = 0; i < kStreamBlockBytes - 1; ++i) encoder->Encode(arrays[i].data(), 8, 0);
  EXPECT_TRUE(channels.bytes[1].empty());
  encoder->Encode(arrays.back().data(), 8, 0);
  // The 65536th mask byte completes the block: it is out before the end.
  EXPECT_EQ(channels.bytes[1], (Bytes{0, 0, 1, 0, 1, 0, 0, 0, 0}));
  encoder.reset();
  EXPECT_EQ(channels.bytes[1].size(), 9u);  // no further block
  std::vector<Block> blocks;
  EXPECT_EQ(StreamBytes(channels, 0, &blocks), Bytes(kStreamBlockBytes, 0));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].code, 1);
  const auto decoded = DecodeRaw(channels, arrays);
  EXPECT_EQ(decoded.back(), std::vector<uint32_t>(8, 0));

  // A single byte is stored raw.
  CodedChannels one;
  EncodeRaw(one, stats, {{}});
  EXPECT_EQ(one.bytes[0], (Bytes{2, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FseStreamCoder, StreamsOfManyBlocksRoundTrip) {
  std::mt19937 rng(31);
  std::vector<CodedArray<uint16_t>> arrays;
  std::vector<uint16_t> previous;
  for (int a = 0; a < 900; ++a) {
    const int n = 1 + rng() % kMaxComboArray;
    std::vector<uint16_t> v(n);
    uint16_t x = static_cast<uint16_t>(rng());
    for (auto& e : v) e = x = static_cast<uint16_t>(x + (rng() % 5 == 0 ? rng() % 600 : rng() % 3));
    CodedArray<uint16_t> array{v, {}};
    if (previous.size() >= v.size()) array.reference.assign(previous.begin(), previous.begin() + n);
    previous = v;
    arrays.push_back(array);
  }
  CodedChannels channels;
  CoderStats stats;
  EncodeArrays(CODER_FSE_STREAMS, arrays, channels, stats);
  std::vector<Block> blocks;
  StreamBytes(channels, 1, &blocks);
  EXPECT_GT(channels.TotalBytes(), 0u);
  const auto decoded = DecodeArrays(arrays, channels);
  for (size_t i = 0; i < arrays.size(); ++i) ASSERT_EQ(decoded[i], arrays[i].values) << i;
  // Some context stream spans blocks.
  size_t most = 0;
  for (int s = 2; s < 18; ++s) most = std::max(most, StreamBytes(channels, s).size());
  EXPECT_GT(most, size_t{kStreamBlockBytes});
}

// The 24 streams written value by value from the coder's definition.
std::vector<Bytes> ModelStreams(const std::vector<std::vector<uint32_t>>& arrays, int32_t flag) {
  std::vector<Bytes> streams(kCoderChannelCount);
  for (const auto& a : arrays) {
    streams[0].push_back(static_cast<uint8_t>(flag));
    uint32_t context = 0;
    for (size_t g = 0; g < a.size(); g += 8) {
      uint8_t mask = 0;
      for (size_t k = g; k < std::min(a.size(), g + 8); ++k) {
        if (a[k] == 0) continue;
        mask = static_cast<uint8_t>(mask | 1 << (k - g));
        const uint32_t token = a[k] - 1;
        streams[2 + context].push_back(static_cast<uint8_t>(token < 255 ? token : 255));
        context = token < 16 ? token : 15;
        if (token < 255) continue;
        if (token < 65535) {
          streams[18].push_back(static_cast<uint8_t>(token));
          streams[19].push_back(static_cast<uint8_t>(token >> 8));
        } else {
          streams[18].push_back(255);
          streams[19].push_back(255);
          for (int b = 0; b < 4; ++b) streams[20 + b].push_back(static_cast<uint8_t>(token >> (8 * b)));
        }
      }
      streams[1].push_back(mask);
    }
  }
  return streams;
}

// Streams driven across several block ends, so that arrays are written both
// straight into the buffers and byte by byte near a full block: every stream
// carries the defined bytes, in full blocks but the last.
TEST(FseStreamCoder, StreamsCrossingBlockEndsCarryTheDefinedBytes) {
  std::mt19937 rng(32);
  std::vector<std::vector<uint32_t>> arrays;
  for (int a = 0; a < 1000; ++a) {
    std::vector<uint32_t> v(1 + rng() % kMaxComboArray);
    for (auto& e : v) {
      const uint32_t pick = rng() % 100;
      e = pick < 55 ? 0 : pick < 80 ? 1 + rng() % 16 : pick < 97 ? 1 + rng() % 300 : rng();
    }
    arrays.push_back(v);
  }
  CodedChannels channels;
  CoderStats stats;
  EncodeRaw(channels, stats, arrays, 1);
  const std::vector<Bytes> model = ModelStreams(arrays, 1);
  EXPECT_GT(model[1].size(), size_t{kStreamBlockBytes});
  EXPECT_GT(model[17].size(), size_t{kStreamBlockBytes});
  for (int32_t s = 0; s < kCoderChannelCount; ++s) {
    std::vector<Block> blocks;
    ASSERT_EQ(StreamBytes(channels, s, &blocks), model[s]) << "stream " << s;
    for (size_t b = 0; b + 1 < blocks.size(); ++b) EXPECT_EQ(blocks[b].n, uint32_t{kStreamBlockBytes});
  }
  const auto decoded = DecodeRaw(channels, arrays);
  for (size_t i = 0; i < arrays.size(); ++i) ASSERT_EQ(decoded[i], PrefixSums(arrays[i])) << i;
  // Read in place, raw blocks included, the same values come back.
  channels.Rewind();
  auto decoder = CreateDecoder(&CodedChannels::Read, &channels, &CodedChannels::View);
  for (const auto& a : arrays) {
    std::vector<uint32_t> values(a.size());
    decoder->Decode(values.data(), nullptr, static_cast<int32_t>(a.size()));
    ASSERT_EQ(values, PrefixSums(a));
  }
}

// Damaged blocks: each is refused with an error, nothing read beyond it.
TEST(FseStreamCoder, DamagedBlocksAreRefused) {
  // The arrays' first tokens (2 or 4, context 0) make an FSE block of 300 bytes.
  CodedChannels good;
  CoderStats stats;
  std::vector<std::vector<uint32_t>> many(300, {3, 3, 3, 3, 3, 3, 3, 3, 5, 3, 3, 3});
  for (size_t a = 0; a < many.size(); a += 5) many[a][0] = 5;
  EncodeRaw(good, stats, many);
  std::vector<Block> blocks;
  StreamBytes(good, 2, &blocks);
  ASSERT_EQ(blocks.size(), 1u);
  ASSERT_GT(blocks[0].code, 1);  // an FSE block on the token stream of context 0

  // Each damage is refused alike whether the blocks are copied out of their
  // channel or read in place.
  auto expect_refused = [&](const std::function<void(Bytes&)>& damage, const char* what) {
    for (StreamViewFn view : {static_cast<StreamViewFn>(nullptr), &CodedChannels::View}) {
      CodedChannels bad = good;
      damage(bad.bytes[2]);
      bad.Rewind();
      auto decoder = CreateDecoder(&CodedChannels::Read, &bad, view);
      std::vector<uint32_t> out(12);
      try {
        for (size_t a = 0; a < many.size(); ++a) decoder->Decode(out.data(), nullptr, 12);
        ADD_FAILURE() << what << ": decoded";
      } catch (const CodedStreamError& e) {
        EXPECT_STREQ(e.what(), what);
      }
      decoder.reset();
    }
  };
  expect_refused([](Bytes& c) { c[0] = c[1] = c[2] = c[3] = 0; }, "coded block size out of range");
  expect_refused([](Bytes& c) { c[0] = 1, c[1] = 0, c[2] = 1, c[3] = 0; },
                 "coded block size out of range");
  expect_refused([](Bytes& c) { c[4] = 0x01, c[5] = 0x04, c[6] = 0x01, c[7] = 0; },
                 "coded block size out of range");
  expect_refused([](Bytes& c) { c.back() = 0; }, "fse error");
  expect_refused([](Bytes& c) { c[8] |= 0x0F; }, "fse error");  // table log 20
  // A shorter block than the reads need: its last block ends early.
  expect_refused([](Bytes& c) { c[0] = static_cast<uint8_t>(c[0] - 1); }, "fse error");
  expect_refused(
      [](Bytes& c) {
        // Stored raw, one byte short of the 300 tokens.
        c = {43, 1, 0, 0, 0, 0, 0, 0};
        c.resize(8 + 299, 2);
      },
      "coded stream read past its end");
  expect_refused([](Bytes& c) { c.pop_back(); }, "channel read past its end");
}

TEST(FseStreamCoderDeathTest, DamageInTheEnginesOwnMemoryEndsTheProcess) {
  const std::string path = ::testing::TempDir() + "tdx_fse_error_" +
                           std::to_string(std::hash<std::string>{}(program_invocation_name)) +
                           ".txt";
  EXPECT_EXIT(
      {
        RedirectStdoutToFile(path, false);
        ExitOnDamagedStream();
      },
      ::testing::ExitedWithCode(1), "");
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "fse error\n");
}

}  // namespace
