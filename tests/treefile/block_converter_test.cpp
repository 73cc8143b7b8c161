// The two forms of a tree file's coded sections: what the writer codes reads
// back, both forms stop at the bytes they own, and damaged sections fail the
// load instead of reading beyond them.
#include "treefile/block_converter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "compress/combo_codec.h"
#include "compress/value_packing.h"
#include "treefile/tree_file_error.h"

namespace {

std::vector<uint32_t> RandomValues32(std::mt19937& random, int32_t n) {
  std::vector<uint32_t> values(static_cast<size_t>(n));
  for (uint32_t& v : values) v = random() % 4 == 0 ? 0 : Zigzag(static_cast<uint32_t>(random() % 20001) - 10000u);
  return values;
}

std::vector<uint16_t> RandomValues16(std::mt19937& random, int32_t n) {
  std::vector<uint16_t> values(static_cast<size_t>(n));
  for (uint16_t& v : values) v = static_cast<uint16_t>(random() % 1001);
  return values;
}

void AppendCopyArray32(MemoryWriter& out, const std::vector<uint32_t>& values) {
  std::vector<uint8_t> packed(MaxPackedBytes32(static_cast<int64_t>(values.size())));
  const uint8_t* end = Kernels<ValuePackingKernels>().PackValues32(
      packed.data(), values.data(), static_cast<int32_t>(values.size()));
  const int16_t size = static_cast<int16_t>(end - packed.data());
  WriteField(out, size);
  out.Write(packed.data(), static_cast<uint64_t>(size));
}

void AppendCopyArray16(MemoryWriter& out, const std::vector<uint16_t>& values) {
  std::vector<uint8_t> packed(MaxPackedBytes16(static_cast<int64_t>(values.size())));
  const uint8_t* end = Kernels<ValuePackingKernels>().PackValues16(
      packed.data(), values.data(), static_cast<int32_t>(values.size()));
  const int16_t size = static_cast<int16_t>(end - packed.data());
  WriteField(out, size);
  out.Write(packed.data(), static_cast<uint64_t>(size));
}

TEST(CopyConverter, ReadsPackedArraysInOrderAndSkipsEmptyOnes) {
  std::mt19937 random(7);
  const auto a = RandomValues32(random, 1326);
  const auto b = RandomValues16(random, 45);
  const auto c = RandomValues32(random, 3);
  MemoryWriter out;
  WriteField<uint8_t>(out, 1);  // the copy form
  AppendCopyArray32(out, a);
  AppendCopyArray16(out, b);
  AppendCopyArray32(out, c);
  MemoryReader in(out.Bytes());
  in.SetFormatVersion(6);
  auto converter = MakeBlockConverter(in);
  std::vector<uint32_t> a2(a.size()), c2(c.size());
  std::vector<uint16_t> b2(b.size());
  converter->ReadValues32(a2.data(), nullptr, 1326);
  // A count of 0 reads no size field.
  converter->ReadValues16(b2.data(), nullptr, 0);
  converter->ReadValues16(b2.data(), nullptr, 45);
  converter->ReadValues32(c2.data(), nullptr, -5);
  converter->ReadValues32(c2.data(), nullptr, 3);
  EXPECT_EQ(a2, a);
  EXPECT_EQ(b2, b);
  EXPECT_EQ(c2, c);
  EXPECT_EQ(in.Position(), out.Bytes().size());
}

TEST(CopyConverter, RefusesSizesItCannotHoldAndBytesThatEndEarly) {
  uint32_t out32[8];
  uint16_t out16[8];
  {
    // 8193 bytes would overrun the 32-bit scratch: refused before any is read.
    MemoryWriter out;
    WriteField<int16_t>(out, 8193);
    MemoryReader in(out.Bytes());
    CopyConverter converter(in);
    EXPECT_THROW(converter.ReadValues32(out32, nullptr, 8), TreeFileError);
    EXPECT_EQ(in.Position(), 2u);
  }
  {
    MemoryWriter out;
    WriteField<int16_t>(out, 4097);
    MemoryReader in(out.Bytes());
    CopyConverter converter(in);
    EXPECT_THROW(converter.ReadValues16(out16, nullptr, 8), TreeFileError);
  }
  {
    // A size of 0 or below reads no bytes, and holds no values.
    MemoryWriter out;
    WriteField<int16_t>(out, -3);
    WriteField<int16_t>(out, 0);
    MemoryReader in(out.Bytes());
    CopyConverter converter(in);
    EXPECT_THROW(converter.ReadValues32(out32, nullptr, 1), TreeFileError);
    EXPECT_THROW(converter.ReadValues16(out16, nullptr, 1), TreeFileError);
    EXPECT_EQ(in.Position(), 4u);
  }
  {
    // A size too small for the count: the unpacker stops at the size.
    MemoryWriter out;
    WriteField<int16_t>(out, 2);
    WriteField<uint8_t>(out, 1);
    WriteField<uint8_t>(out, 5);
    MemoryReader in(out.Bytes());
    CopyConverter converter(in);
    EXPECT_THROW(converter.ReadValues16(out16, nullptr, 8), TreeFileError);
  }
  {
    // The file ends inside the packed bytes.
    MemoryWriter out;
    WriteField<int16_t>(out, 40);
    MemoryReader in(out.Bytes());
    CopyConverter converter(in);
    EXPECT_THROW(converter.ReadValues32(out32, nullptr, 8), IOException);
  }
  MemoryReader none(nullptr, 0);
  CopyConverter converter(none);
  EXPECT_THROW(converter.ReadValues32(out32, nullptr, kMaxConvertedArray + 1), TreeFileError);
}

// What the writer codes, the stream form reads back, in versions 4 to 6.
TEST(DecodeConverter, ReadsWhatTheEmitterWrote) {
  std::mt19937 random(11);
  std::vector<std::vector<uint32_t>> arrays32;
  std::vector<std::vector<uint16_t>> arrays16;
  BlockEmitter emitter;
  for (int32_t n : {1326, 1, 0, 45, 1176, 7}) {
    arrays32.push_back(RandomValues32(random, n));
    emitter.WriteValues32(arrays32.back().data(), n);
    arrays16.push_back(RandomValues16(random, n));
    emitter.WriteValues16(arrays16.back().data(), n);
  }
  MemoryWriter out;
  emitter.Finish(out);
  ASSERT_EQ(out.Bytes()[0], 0);  // the stream form's byte
  for (int32_t version : {4, 5, 6}) {
    const std::vector<uint8_t> bytes(out.Bytes().begin() + (version >= 6 ? 0 : 1), out.Bytes().end());
    MemoryReader in(bytes);
    in.SetFormatVersion(version);
    auto converter = MakeBlockConverter(in);
    EXPECT_EQ(in.Position(), bytes.size()) << "all streams are read up front";
    for (size_t k = 0; k < arrays32.size(); ++k) {
      const int32_t n = static_cast<int32_t>(arrays32[k].size());
      std::vector<uint32_t> v32(static_cast<size_t>(n));
      std::vector<uint16_t> v16(static_cast<size_t>(n));
      converter->ReadValues32(v32.data(), nullptr, n);
      converter->ReadValues16(v16.data(), nullptr, n);
      EXPECT_EQ(v32, arrays32[k]) << "version " << version << " array " << k;
      EXPECT_EQ(v16, arrays16[k]) << "version " << version << " array " << k;
    }
  }
}

TEST(DecodeConverter, TwoSectionsKeepTheirOwnStreams) {
  std::vector<uint32_t> first(300, 4), second(300, 9);
  MemoryWriter out;
  for (const auto* values : {&first, &second}) {
    BlockEmitter emitter;
    emitter.WriteValues32(values->data(), 300);
    emitter.Finish(out);
  }
  MemoryReader in(out.Bytes());
  in.SetFormatVersion(6);
  std::vector<uint32_t> got(300);
  auto a = MakeBlockConverter(in);
  a->ReadValues32(got.data(), nullptr, 300);
  EXPECT_EQ(got, first);
  auto b = MakeBlockConverter(in);
  b->ReadValues32(got.data(), nullptr, 300);
  EXPECT_EQ(got, second);
  EXPECT_EQ(in.Position(), out.Bytes().size());
}

// Streams as a file holds them, lengths first.
std::vector<uint8_t> StreamBlock(const std::vector<std::vector<uint8_t>>& streams) {
  MemoryWriter out;
  for (int32_t c = 0; c < kCoderChannelCount; ++c) {
    const std::vector<uint8_t> empty;
    const auto& s = c < static_cast<int32_t>(streams.size()) ? streams[static_cast<size_t>(c)] : empty;
    WriteField<uint64_t>(out, s.size());
    if (!s.empty()) out.Write(s.data(), s.size());
  }
  return out.Bytes();
}

TEST(DecodeConverter, DamagedSectionsFailTheLoad) {
  uint32_t out[1326];
  {
    // Empty streams read as empty: no coder id, so the first array fails.
    const auto bytes = StreamBlock({});
    MemoryReader in(bytes);
    in.SetFormatVersion(5);
    EXPECT_THROW(MakeBlockConverter(in)->ReadValues32(out, nullptr, 3), CodedStreamError);
  }
  {
    // A coder id that names no coder.
    const auto bytes = StreamBlock({{9, 1, 2, 3}});
    MemoryReader in(bytes);
    in.SetFormatVersion(5);
    auto converter = MakeBlockConverter(in);
    EXPECT_THROW(converter->ReadValues32(out, nullptr, 3), CodedStreamError);
    // No count reads nothing, even with no decoder.
    converter->ReadValues32(out, nullptr, 0);
  }
  {
    // The coder asks for more than its streams hold.
    const auto bytes = StreamBlock({{CODER_FSE_STREAMS}});
    MemoryReader in(bytes);
    in.SetFormatVersion(5);
    EXPECT_ANY_THROW(MakeBlockConverter(in)->ReadValues32(out, nullptr, 100));
  }
  {
    // A stream longer than the file: the read fails at the file's end, without
    // taking the length's memory first.
    MemoryWriter w;
    WriteField<uint64_t>(w, std::numeric_limits<uint64_t>::max() / 2);
    w.Write("abc", 3);
    MemoryReader in(w.Bytes());
    in.SetFormatVersion(5);
    EXPECT_THROW(MakeBlockConverter(in), IOException);
  }
  {
    // A count the codec would stop the process on.
    BlockEmitter emitter;
    MemoryWriter w;
    emitter.Finish(w);
    MemoryReader in(w.Bytes());
    in.SetFormatVersion(6);
    auto converter = MakeBlockConverter(in);
    EXPECT_THROW(converter->ReadValues32(out, nullptr, 1327), TreeFileError);
    EXPECT_THROW(converter->ReadValues16(reinterpret_cast<uint16_t*>(out), nullptr, 2000), TreeFileError);
  }
}

}  // namespace
