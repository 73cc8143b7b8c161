#include "compress/fse.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compress/bit_stream.h"
#include "compress/fse_block.h"
#include "platform/cpu_features.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& input, size_t* result) {
  Bytes out(FSE_compressBound(input.size()));
  *result = FSE_compress(out.data(), out.size(), input.data(), input.size());
  out.resize(FSE_isError(*result) || *result < 2 ? 0 : *result);
  return out;
}

// The decoded bytes, or an empty vector and the error code.
Bytes Decompress(const Bytes& block, size_t capacity, FseErrorCode* error) {
  Bytes out(capacity);
  const size_t n = FSE_decompress(out.data(), capacity, block.data(), block.size());
  *error = FSE_getErrorCode(n);
  out.resize(FSE_isError(n) ? 0 : n);
  return out;
}

Bytes WorkedExampleInput() {
  Bytes input;
  for (int r = 0; r < 4; ++r)
    for (char c : std::string("aaaabbbcc")) input.push_back(static_cast<uint8_t>(c));
  return input;
}

const Bytes kWorkedExampleBlock = {0x11, 0xfc, 0xff, 0xff, 0xff, 0xff, 0xff,
                                   0xff, 0xff, 0xe3, 0xd9, 0x07, 0xf0, 0x7f,
                                   0xbc, 0x1f, 0xef, 0xc7, 0xfb, 0x01, 0x0e};

// Bytes drawn from a geometric distribution: symbol k with weight ratio^k.
Bytes Geometric(size_t n, double ratio, std::mt19937& rng, uint8_t offset = 0) {
  std::geometric_distribution<int> dist(1.0 - ratio);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(offset + std::min(dist(rng), 255 - offset));
  return out;
}

// A header for the counts of two symbols sharing 2^t cells, written bit by bit
// from the header rules for table logs the writer refuses (13 to 15).
Bytes TwoSymbolHeader(uint32_t table_log) {
  std::vector<bool> bits;
  auto put = [&](uint32_t v, uint32_t n) {
    for (uint32_t k = 0; k < n; ++k) bits.push_back((v >> k) & 1);
  };
  put(table_log - 5, 4);
  int remaining = (1 << table_log) + 1, threshold = 1 << table_log;
  uint32_t nb = table_log + 1;
  for (int count : {1 << (table_log - 1), 1 << (table_log - 1)}) {
    const int max = 2 * threshold - 1 - remaining;
    remaining -= count;
    int v = count + 1;
    if (v < max) {
      put(v, nb - 1);
    } else {
      if (v >= threshold) v += max;
      put(v, nb);
    }
    while (remaining < threshold) --nb, threshold >>= 1;
  }
  Bytes out((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i) out[i / 8] |= bits[i] << (i % 8);
  return out;
}

TEST(Fse, WorkedExampleEncodesToItsHeaderAndBlock) {
  const Bytes input = WorkedExampleInput();
  uint32_t count[256];
  uint32_t max_symbol = 255;
  EXPECT_EQ(FSE_count(count, &max_symbol, input.data(), input.size(), false), 16u);
  EXPECT_EQ(max_symbol, 99u);
  int16_t norm[256];
  ASSERT_EQ(FSE_normalizeCount(norm, 6, count, input.size(), max_symbol), 6u);
  EXPECT_EQ(norm[97], 29);
  EXPECT_EQ(norm[98], 21);
  EXPECT_EQ(norm[99], 14);
  Bytes header(64);
  ASSERT_EQ(FSE_writeNCount(header.data(), header.size(), norm, max_symbol, 6), 12u);
  header.resize(12);
  EXPECT_EQ(header, Bytes(kWorkedExampleBlock.begin(), kWorkedExampleBlock.begin() + 12));

  size_t result;
  EXPECT_EQ(Compress(input, &result), kWorkedExampleBlock);
  EXPECT_EQ(result, 21u);

  int16_t read[256];
  uint32_t read_max = 255, table_log = 0;
  EXPECT_EQ(FSE_readNCount(read, &read_max, &table_log, kWorkedExampleBlock.data(),
                           kWorkedExampleBlock.size()),
            12u);
  EXPECT_EQ(read_max, 99u);
  EXPECT_EQ(table_log, 6u);
  for (uint32_t s = 0; s <= 99; ++s) EXPECT_EQ(read[s], norm[s]) << s;
}

TEST(Fse, WorkedExampleDecodesAndRefusesDamage) {
  FseErrorCode error;
  EXPECT_EQ(Decompress(kWorkedExampleBlock, 36, &error), WorkedExampleInput());
  EXPECT_EQ(Decompress(kWorkedExampleBlock, 100, &error), WorkedExampleInput());
  EXPECT_EQ(error, FSE_OK_NoError);

  EXPECT_TRUE(Decompress(kWorkedExampleBlock, 35, &error).empty());
  EXPECT_EQ(error, FSE_ERROR_dstSize_tooSmall);
  Bytes no_mark = kWorkedExampleBlock;
  no_mark.back() = 0;
  Decompress(no_mark, 36, &error);
  EXPECT_EQ(error, FSE_ERROR_GENERIC);
  for (size_t n : {1, 2, 3}) {
    Decompress(Bytes(kWorkedExampleBlock.begin(), kWorkedExampleBlock.begin() + n), 36, &error);
    EXPECT_EQ(error, FSE_ERROR_srcSize_wrong) << n;
  }
  // The header alone leaves no bit stream.
  Decompress(Bytes(kWorkedExampleBlock.begin(), kWorkedExampleBlock.begin() + 12), 36, &error);
  EXPECT_EQ(error, FSE_ERROR_srcSize_wrong);
  // A block cut short in its bit stream does not end cleanly.
  Bytes cut(kWorkedExampleBlock.begin(), kWorkedExampleBlock.end() - 1);
  cut.back() |= 0x80;
  Decompress(cut, 36, &error);
  EXPECT_TRUE(error == FSE_ERROR_corruptionDetected || error == FSE_ERROR_GENERIC) << error;
}

TEST(Fse, CompressAnswersRawOrRunForBlocksThatCannotShrink) {
  size_t result;
  Compress({}, &result);
  EXPECT_EQ(result, 0u);
  Compress({7}, &result);
  EXPECT_EQ(result, 0u);
  for (size_t n : {2, 3, 100, 65536}) {
    Compress(Bytes(n, 0xAB), &result);
    EXPECT_EQ(result, 1u) << n;
  }
  Bytes distinct(200);
  for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<uint8_t>(i);
  Compress(distinct, &result);
  EXPECT_EQ(result, 0u);
  Bytes flat(65536);
  for (size_t i = 0; i < flat.size(); ++i) flat[i] = static_cast<uint8_t>(i * 7);
  Compress(flat, &result);
  EXPECT_EQ(result, 0u);
  Compress({5, 5, 9}, &result);
  EXPECT_EQ(result, 0u);
}

TEST(Fse, HeaderTableLogsAboveTheLimitsAreRefused) {
  FseErrorCode error;
  for (uint32_t t = 13; t <= 15; ++t) {
    Bytes block = TwoSymbolHeader(t);
    int16_t norm[256];
    uint32_t max_symbol = 255, table_log = 0;
    ASSERT_EQ(FSE_readNCount(norm, &max_symbol, &table_log, block.data(), block.size()),
              block.size());
    EXPECT_EQ(table_log, t);
    FseDTable table;
    EXPECT_EQ(FSE_getErrorCode(FSE_buildDTable(&table, norm, max_symbol, t)),
              FSE_ERROR_tableLog_tooLarge);
    block.push_back(0x80);
    Decompress(block, 100, &error);
    EXPECT_EQ(error, FSE_ERROR_tableLog_tooLarge) << t;
  }
  for (uint8_t field = 11; field <= 15; ++field) {
    Decompress(Bytes{field, 0, 0, 0, 0, 0x80}, 100, &error);
    EXPECT_EQ(error, FSE_ERROR_tableLog_tooLarge) << int(field);
  }
  // The table log of 12 is the largest a table takes.
  const Bytes twelve = TwoSymbolHeader(12);
  int16_t norm[256];
  uint32_t max_symbol = 255, table_log = 0;
  ASSERT_FALSE(FSE_isError(FSE_readNCount(norm, &max_symbol, &table_log, twelve.data(), twelve.size())));
  FseDTable table;
  EXPECT_EQ(FSE_buildDTable(&table, norm, max_symbol, table_log), 0u);
}

TEST(Fse, BothDecodingModesReturnTheInput) {
  std::mt19937 rng(11);
  // One value holding most bytes: cells that read no bit.
  Bytes skewed = Geometric(5000, 0.08, rng);
  // Flatter counts: every cell reads a bit.
  Bytes flat = Geometric(5000, 0.9, rng);
  for (const Bytes* input : {&skewed, &flat}) {
    size_t result;
    const Bytes block = Compress(*input, &result);
    ASSERT_GT(result, 1u);
    int16_t norm[256];
    uint32_t max_symbol = 255, table_log = 0;
    ASSERT_FALSE(FSE_isError(FSE_readNCount(norm, &max_symbol, &table_log, block.data(), block.size())));
    FseDTable table;
    ASSERT_EQ(FSE_buildDTable(&table, norm, max_symbol, table_log), 0u);
    EXPECT_EQ(table.fast_mode, input == &flat ? 1 : 0);
    FseErrorCode error;
    EXPECT_EQ(Decompress(block, input->size(), &error), *input);
  }
}

// The steps on their own, with a table log that FSE_compress never picks.
TEST(Fse, FullBlocksWithTableLogTwelveRoundTrip) {
  std::mt19937 rng(12);
  for (double ratio : {0.5, 0.8, 0.97}) {
    const Bytes input = Geometric(65536, ratio, rng);
    uint32_t count[256];
    uint32_t max_symbol = 255;
    FSE_count(count, &max_symbol, input.data(), input.size(), true);
    int16_t norm[256];
    ASSERT_EQ(FSE_normalizeCount(norm, 12, count, input.size(), max_symbol), 12u);
    Bytes block(FSE_compressBound(input.size()));
    const size_t header = FSE_writeNCount(block.data(), block.size(), norm, max_symbol, 12);
    ASSERT_FALSE(FSE_isError(header));
    FseCTable table;
    ASSERT_EQ(FSE_buildCTable(&table, norm, max_symbol, 12), 0u);
    const size_t body = FSE_compress_usingCTable(block.data() + header, block.size() - header,
                                                 input.data(), input.size(), &table);
    ASSERT_GT(body, 0u);
    block.resize(header + body);
    FseErrorCode error;
    EXPECT_EQ(Decompress(block, input.size(), &error), input) << ratio;
  }
}

TEST(Fse, RandomBlocksRoundTripAtEveryLength) {
  std::mt19937 rng(13);
  size_t coded = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const size_t n = trial < 100 ? trial + 2 : 1 + rng() % 65536;
    const double ratio = 0.05 + 0.9 * (rng() % 1000) / 1000.0;
    const Bytes input = Geometric(n, ratio, rng, static_cast<uint8_t>(rng() % 200));
    size_t result;
    const Bytes block = Compress(input, &result);
    ASSERT_FALSE(FSE_isError(result));
    if (result < 2) continue;
    ++coded;
    EXPECT_LT(result, n - 1);
    FseErrorCode error;
    ASSERT_EQ(Decompress(block, n, &error), input) << n << " " << ratio;
    // One byte less of room is not enough.
    Decompress(block, n - 1, &error);
    EXPECT_EQ(error, FSE_ERROR_dstSize_tooSmall);
  }
  EXPECT_GT(coded, 300u);
}

// The reference vectors: every input encodes to the code and block of its
// line, and every block decodes to the input.
TEST(Fse, ReferenceVectorsMatchByteForByte) {
  const std::string path = std::string(TDX_TESTDATA_DIR) + "/fse-reference-vectors.txt";
  std::ifstream file(path);
  ASSERT_TRUE(file) << "missing reference vectors " << path;
  auto hex = [](const std::string& text) {
    Bytes out(text.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = std::stoi(text.substr(2 * i, 2), nullptr, 16);
    return out;
  };
  std::string line;
  int lines = 0, coded = 0;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    size_t length;
    long code;
    std::string block_text, input_text;
    ASSERT_TRUE(fields >> length >> code >> block_text >> input_text) << line.substr(0, 40);
    ++lines;
    const Bytes input = hex(input_text);
    ASSERT_EQ(input.size(), length);
    size_t result;
    const Bytes block = Compress(input, &result);
    EXPECT_EQ(static_cast<long>(result), code) << "line " << lines;
    if (code < 2) continue;
    ++coded;
    EXPECT_EQ(block, hex(block_text)) << "line " << lines;
    FseErrorCode error;
    EXPECT_EQ(Decompress(hex(block_text), length, &error), input) << "line " << lines;
  }
  EXPECT_EQ(lines, 144);
  EXPECT_GT(coded, 50);
}

// The reader's window starts at its pointer: 16 bytes with the end mark in the
// last byte's lowest bit read back as they were written, then complete.
TEST(Fse, BitReaderWalksBackToACompletedStream) {
  Bytes bytes(16);
  for (size_t i = 0; i < 15; ++i) bytes[i] = static_cast<uint8_t>(0x11 * (i + 1));
  bytes[15] = 0x01;
  BitReader reader;
  ASSERT_EQ(BIT_initDStream(&reader, bytes.data(), bytes.size()), 16u);
  EXPECT_EQ(reader.consumed, 8u);
  uint64_t high = 0;
  for (int k = 0; k < 7; ++k) high = high << 8 | BIT_readBits(&reader, 8);
  EXPECT_EQ(high, 0xFFEEDDCCBBAA99u);
  EXPECT_EQ(BIT_reloadDStream(&reader), BIT_UNFINISHED);
  EXPECT_EQ(reader.ptr, bytes.data());
  uint64_t low = uint64_t{BIT_readBits(&reader, 32)} << 32;
  low |= BIT_readBits(&reader, 32);
  EXPECT_EQ(low, 0x8877665544332211u);
  EXPECT_EQ(BIT_reloadDStream(&reader), BIT_COMPLETED);
  BIT_readBits(&reader, 1);
  EXPECT_EQ(BIT_reloadDStream(&reader), BIT_OVERFLOW);

  // Short streams: the missing bytes count as read.
  const Bytes three = {0x34, 0x12, 0x03};
  ASSERT_EQ(BIT_initDStream(&reader, three.data(), three.size()), 3u);
  EXPECT_EQ(reader.consumed, 5 * 8 + 7u);
  EXPECT_EQ(BIT_readBits(&reader, 1), 1u);
  EXPECT_EQ(BIT_readBits(&reader, 16), 0x1234u);
  EXPECT_EQ(BIT_reloadDStream(&reader), BIT_COMPLETED);
  EXPECT_EQ(FSE_getErrorCode(BIT_initDStream(&reader, three.data(), 0)), FSE_ERROR_srcSize_wrong);
  const Bytes unmarked = {0x34, 0x00};
  EXPECT_EQ(FSE_getErrorCode(BIT_initDStream(&reader, unmarked.data(), 2)), FSE_ERROR_GENERIC);
}

// Arbitrary bytes as blocks: every answer is a size within the capacity or an
// error, and nothing outside the buffers is touched (the sanitizer build
// checks that).
TEST(Fse, ArbitraryBlocksDecodeOrAnswerAnError) {
  std::mt19937 rng(14);
  const Bytes valid = kWorkedExampleBlock;
  for (int trial = 0; trial < 20000; ++trial) {
    Bytes block;
    if (trial % 2) {
      block.resize(rng() % 64);
      for (uint8_t& b : block) b = static_cast<uint8_t>(rng());
    } else {
      block = valid;
      for (int k = 1 + rng() % 3; k > 0; --k) block[rng() % block.size()] ^= 1 << (rng() % 8);
    }
    const size_t capacity = rng() % 80;
    Bytes out(capacity);
    const size_t n = FSE_decompress(out.data(), capacity, block.data(), block.size());
    if (!FSE_isError(n)) {
      EXPECT_LE(n, capacity);
    }
  }
}

// The block loops of both builds write the same bytes and decode alike, damaged
// blocks and short outputs included.
TEST(Fse, BothBuildsCodeAndDecodeBlocksAlike) {
  if (!CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(15);
  std::vector<const FseBlockKernels*> builds = {&isa_avx::kFseBlockKernels,
                                                &isa_avx2::kFseBlockKernels};
  if (CpuHasAvx512()) builds.push_back(&isa_avx512::kFseBlockKernels);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t n = trial < 60 ? trial + 2 : 1 + rng() % 65536;
    const double ratio = trial % 3 == 0 ? 0.02 : 0.05 + 0.9 * (rng() % 1000) / 1000.0;
    const Bytes input = Geometric(n, ratio, rng);
    uint32_t count[256];
    uint32_t max_symbol = 255;
    const size_t largest = FSE_count(count, &max_symbol, input.data(), n, true);
    if (largest == n) continue;
    const uint32_t table_log = 5 + trial % 8;
    int16_t norm[256];
    if (FSE_isError(FSE_normalizeCount(norm, table_log, count, n, max_symbol))) continue;
    FseCTable ctable;
    ASSERT_EQ(FSE_buildCTable(&ctable, norm, max_symbol, table_log), 0u);
    FseDTable dtable;
    ASSERT_EQ(FSE_buildDTable(&dtable, norm, max_symbol, table_log), 0u);
    // A capacity too small now and then: both answer 0.
    const size_t capacity = trial % 7 == 0 ? n / 4 + 8 : FSE_compressBound(n);
    std::vector<Bytes> blocks;
    for (const FseBlockKernels* build : builds) {
      Bytes coded(capacity);
      coded.resize(build->EncodeBlock(coded.data(), capacity, input.data(), n, &ctable));
      blocks.push_back(coded);
      ASSERT_EQ(blocks.back(), blocks[0]) << trial;
    }
    if (blocks[0].empty()) continue;
    Bytes block = blocks[0];
    if (trial % 5 == 4) block[rng() % block.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
    for (size_t room : {n, n - 1, n + 3}) {
      std::vector<Bytes> outs;
      std::vector<size_t> results;
      for (const FseBlockKernels* build : builds) {
        outs.emplace_back(room + 1);
        results.push_back(build->DecodeBlock(outs.back().data(), room, block.data(), block.size(), &dtable));
        ASSERT_EQ(results.back(), results[0]) << trial << " " << room;
        ASSERT_EQ(outs.back(), outs[0]) << trial;
      }
      if (FSE_isError(results[0])) continue;
      if (trial % 5 != 4 && room >= n) {
        EXPECT_EQ(Bytes(outs[0].begin(), outs[0].begin() + n), input);
      }
    }
  }
}

// Two blocks coded side by side give what each gives alone: every build's
// pair kernel against its single one (lengths of every remainder mod 4, one
// much longer than the other, capacities too small for one or both), and
// FSE_compressPair against FSE_compress, raw and run answers included.
TEST(Fse, BlocksCodedInPairsAreTheBlocksCodedAlone) {
  std::mt19937 rng(33);
  std::vector<const FseBlockKernels*> builds = {&isa_avx::kFseBlockKernels};
  if (CpuHasAvx2Fma()) builds.push_back(&isa_avx2::kFseBlockKernels);
  if (CpuHasAvx512()) builds.push_back(&isa_avx512::kFseBlockKernels);
  struct Prepared {
    Bytes input;
    FseCTable table;
    size_t capacity;
  };
  const auto prepare = [&](Prepared& p, size_t n, int trial) {
    p.input = Geometric(n, trial % 3 == 0 ? 0.02 : 0.3, rng);
    uint32_t count[256];
    uint32_t max_symbol = 255;
    if (FSE_count(count, &max_symbol, p.input.data(), n, true) == n) return false;
    const uint32_t table_log = 5 + trial % 8;
    int16_t norm[256];
    if (FSE_isError(FSE_normalizeCount(norm, table_log, count, n, max_symbol))) return false;
    EXPECT_EQ(FSE_buildCTable(&p.table, norm, max_symbol, table_log), 0u);
    p.capacity = trial % 7 == 0 ? n / 4 + 8 : FSE_compressBound(n);
    return true;
  };
  for (int trial = 0; trial < 200; ++trial) {
    const size_t n1 = trial < 40 ? trial + 2 : 1 + rng() % 20000;
    const size_t n2 = trial % 4 == 0 ? 2 + rng() % 9 : 1 + rng() % 20000;
    Prepared a, b;
    if (!prepare(a, n1, trial) || !prepare(b, n2, trial + 1)) continue;
    for (const FseBlockKernels* build : builds) {
      Bytes alone_a(a.capacity), alone_b(b.capacity), pair_a(a.capacity), pair_b(b.capacity);
      alone_a.resize(build->EncodeBlock(alone_a.data(), a.capacity, a.input.data(), n1, &a.table));
      alone_b.resize(build->EncodeBlock(alone_b.data(), b.capacity, b.input.data(), n2, &b.table));
      FseBlockJob x{pair_a.data(), a.capacity, a.input.data(), n1, &a.table, 0};
      FseBlockJob y{pair_b.data(), b.capacity, b.input.data(), n2, &b.table, 0};
      build->EncodeBlockPair(&x, &y);
      pair_a.resize(x.result);
      pair_b.resize(y.result);
      ASSERT_EQ(pair_a, alone_a) << trial;
      ASSERT_EQ(pair_b, alone_b) << trial;
    }
  }
  for (int trial = 0; trial < 200; ++trial) {
    Bytes inputs[2];
    for (Bytes& input : inputs) {
      const int kind = static_cast<int>(rng() % 5);
      const size_t n = kind == 0 ? rng() % 3 : 1 + rng() % 30000;
      input = kind == 1 ? Bytes(n, 7) : Geometric(n, kind == 2 ? 0.98 : 0.2, rng);
    }
    Bytes alone[2], pair[2];
    size_t alone_results[2];
    FseCompressRequest requests[2];
    for (int k = 0; k < 2; ++k) {
      const size_t capacity = FSE_compressBound(inputs[k].size());
      alone[k].assign(capacity, 0);
      pair[k].assign(capacity, 0);
      alone_results[k] = FSE_compress(alone[k].data(), capacity, inputs[k].data(), inputs[k].size());
      requests[k] = {pair[k].data(), capacity, inputs[k].data(), inputs[k].size(), 0};
    }
    FSE_compressPair(&requests[0], &requests[1]);
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(requests[k].result, alone_results[k]) << trial;
      if (!FSE_isError(alone_results[k]) && alone_results[k] > 1) {
        ASSERT_TRUE(std::equal(alone[k].begin(), alone[k].begin() + alone_results[k], pair[k].begin()))
            << trial;
      }
    }
  }
}

// The encoding table's next states against the definition's walk, for counts
// with and without low-probability symbols (cells skipped by the walk).
TEST(Fse, EncodingTablesFollowTheDefinitionsSpread) {
  std::mt19937 rng(16);
  for (int trial = 0; trial < 400; ++trial) {
    const uint32_t table_log = 5 + trial % 8;
    const int32_t size = 1 << table_log;
    const uint32_t max_symbol = rng() % 256;
    // Random counts filling the table: some -1, the rest split at random.
    std::vector<int16_t> norm(max_symbol + 1, 0);
    int32_t left = size;
    for (uint32_t s = 0; s <= max_symbol && left > 0; ++s) {
      const uint32_t pick = rng() % 4;
      if (pick == 0) continue;
      if (pick == 1 && trial % 3) {
        norm[s] = -1;
        left -= 1;
      } else {
        norm[s] = static_cast<int16_t>(1 + rng() % std::max(1, left / 3));
        left -= norm[s];
      }
    }
    if (left < 0) continue;
    uint32_t last = max_symbol;
    while (last > 0 && norm[last] == 0) --last;
    // The rest to the last symbol present (a low-probability one becomes
    // an ordinary count when cells are left).
    norm[last] = static_cast<int16_t>(norm[last] == -1 ? (left > 0 ? 1 + left : -1) : norm[last] + left);
    // The definition: low-probability symbols from the top, then the walk.
    std::vector<int32_t> cells(size, -1);
    int32_t high = size - 1;
    std::vector<uint32_t> start(max_symbol + 2, 0);
    for (uint32_t s = 0; s <= max_symbol; ++s) {
      if (norm[s] == -1) {
        start[s + 1] = start[s] + 1;
        cells[high--] = static_cast<int32_t>(s);
      } else {
        start[s + 1] = start[s] + static_cast<uint32_t>(norm[s]);
      }
    }
    const uint32_t step = (size >> 1) + (size >> 3) + 3;
    uint32_t position = 0;
    for (uint32_t s = 0; s <= max_symbol; ++s)
      for (int32_t i = 0; i < norm[s]; ++i) {
        cells[position] = static_cast<int32_t>(s);
        do position = (position + step) & (size - 1);
        while (static_cast<int32_t>(position) > high);
      }
    ASSERT_EQ(position, 0u) << trial;
    std::vector<uint16_t> next(size);
    for (int32_t i = 0; i < size; ++i) next[start[cells[i]]++] = static_cast<uint16_t>(size + i);
    FseCTable table;
    ASSERT_EQ(FSE_buildCTable(&table, norm.data(), max_symbol, table_log), 0u) << trial;
    EXPECT_EQ(std::vector<uint16_t>(table.next_state, table.next_state + size), next) << trial;
    // The decoding table holds the same symbols cell by cell.
    FseDTable dtable;
    ASSERT_EQ(FSE_buildDTable(&dtable, norm.data(), max_symbol, table_log), 0u) << trial;
    for (int32_t i = 0; i < size; ++i) ASSERT_EQ(dtable.cells[i].symbol, cells[i]) << trial << " " << i;
  }
}

}  // namespace
