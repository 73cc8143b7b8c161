// The packed forms' worked examples, their size bounds, and round trips in
// both processor builds.
#include "compress/value_packing.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu_features.h"
#include "support/kernel_builds.h"

namespace {

using Build = BuildUnderTest<ValuePackingKernels>;

std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kValuePackingKernels,
                         isa_avx2::kValuePackingKernels, isa_avx512::kValuePackingKernels);
}

// Bytes placed so that the page after them cannot be read: an unpacker that
// reads one byte too far faults.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    pages_ = (bytes.size() + page - 1) / page + 1;
    size_ = pages_ * page;
    base_ = static_cast<uint8_t*>(
        mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + size_ - page, page, PROT_NONE);
    data_ = base_ + size_ - page - bytes.size();
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  }
  ~GuardedBytes() { munmap(base_, size_); }
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_;
  uint8_t* data_;
  size_t pages_, size_;
};

std::vector<uint8_t> Pack32(const Build& build, const std::vector<uint32_t>& values) {
  const int32_t n = static_cast<int32_t>(values.size());
  std::vector<uint8_t> bytes(MaxPackedBytes32(n) + 64, 0xEE);
  const uint8_t* end = build.PackValues32(bytes.data(), values.data(), n);
  EXPECT_LE(static_cast<size_t>(end - bytes.data()), MaxPackedBytes32(n));
  bytes.resize(static_cast<size_t>(end - bytes.data()));
  return bytes;
}

std::vector<uint8_t> Pack16(const Build& build, const std::vector<uint16_t>& values) {
  const int32_t n = static_cast<int32_t>(values.size());
  std::vector<uint8_t> bytes(MaxPackedBytes16(n) + 64, 0xEE);
  const uint8_t* end = build.PackValues16(bytes.data(), values.data(), n);
  bytes.resize(static_cast<size_t>(end - bytes.data()));
  return bytes;
}

// Unpacks from a buffer of exactly the packed size, so that a read past it is
// a sanitizer's finding; checks that everything and nothing more was read.
std::vector<uint32_t> Unpack32(const Build& build, const std::vector<uint8_t>& bytes, int32_t n) {
  std::vector<uint8_t> exact(bytes);
  std::vector<uint32_t> out(static_cast<size_t>(n));
  const uint8_t* end = build.UnpackValues32(out.data(), n, exact.data(), exact.size());
  EXPECT_EQ(end, exact.data() + exact.size()) << build.name;
  return out;
}

TEST(PackValues32, WorkedExamples) {
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    // 32 zeros are the single control byte 0.
    EXPECT_EQ(Pack32(build, std::vector<uint32_t>(32, 0)), std::vector<uint8_t>{0x00});

    // 32 values 1 ... 255 are 0x55 and their 32 bytes.
    std::vector<uint32_t> small(32);
    for (int k = 0; k < 32; ++k) small[k] = static_cast<uint32_t>(1 + 8 * k);
    std::vector<uint8_t> expected{0x55};
    for (uint32_t v : small) expected.push_back(static_cast<uint8_t>(v));
    EXPECT_EQ(Pack32(build, small), expected);

    // Groups holding 1 ... 8, zeros, a largest value of 300 and one of 70000:
    // control 0xE1, then 8, 16 and 32 bytes.
    std::vector<uint32_t> mixed(32, 0);
    for (int k = 0; k < 8; ++k) mixed[k] = static_cast<uint32_t>(k + 1);
    mixed[16] = 300;
    mixed[17] = 2;
    mixed[31] = 70000;
    const std::vector<uint8_t> packed = Pack32(build, mixed);
    ASSERT_EQ(packed.size(), 57u);
    EXPECT_EQ(packed[0], 0xE1);
    EXPECT_EQ(std::vector<uint8_t>(packed.begin() + 1, packed.begin() + 9),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(packed[9], 0x2C);  // 300 as u16
    EXPECT_EQ(packed[10], 0x01);
    EXPECT_EQ(packed[11], 2);
    EXPECT_EQ(std::vector<uint8_t>(packed.end() - 4, packed.end()),
              (std::vector<uint8_t>{0x70, 0x11, 0x01, 0x00}));  // 70000 as u32
    EXPECT_EQ(Unpack32(build, packed, 32), mixed);

    // 1326 values: 41 control blocks and a tail of 14 in groups of 8 and 6,
    // each with its code byte.
    std::vector<uint32_t> row(1326, 7);
    const std::vector<uint8_t> row_bytes = Pack32(build, row);
    ASSERT_EQ(row_bytes.size(), 41u * 33 + (1 + 8) + (1 + 6));
    EXPECT_EQ(row_bytes[41 * 33], 0);
    EXPECT_EQ(row_bytes[41 * 33 + 9], 0);

    // Tail groups: zeros still write their code byte and zero bytes; a group
    // holding a u16 value and a u32 value takes code 3.
    EXPECT_EQ(Pack32(build, {0, 0, 0}), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Pack32(build, {256, 1}), (std::vector<uint8_t>{1, 0, 1, 1, 0}));
    EXPECT_EQ(Pack32(build, {300, 70000}),
              (std::vector<uint8_t>{3, 0x2C, 0x01, 0, 0, 0x70, 0x11, 0x01, 0}));
    EXPECT_TRUE(Pack32(build, {}).empty());
  }
}

// Each group of eight at one magnitude, now and then at the top of its range.
template <typename T>
std::vector<T> RandomGroups(std::mt19937_64& rng, int32_t n, const std::vector<uint64_t>& limits) {
  std::vector<T> values(static_cast<size_t>(n));
  for (int32_t g = 0; g < n; g += 8) {
    const uint64_t limit = limits[rng() % limits.size()];
    for (int32_t k = g; k < std::min(n, g + 8); ++k)
      values[static_cast<size_t>(k)] = static_cast<T>(rng() % (limit + 1));
    if (rng() % 3 == 0) values[static_cast<size_t>(g)] = static_cast<T>(limit);
  }
  return values;
}

TEST(PackedSizeBound, CountsTheTailCodeBytes) {
  std::mt19937_64 rng(41);
  const std::vector<Build> builds = Builds();
  for (int32_t n = 0; n <= 100; ++n) {
    // The bound: two bytes a value, a control byte per 32, a code byte per
    // tail group of up to eight.
    const size_t bound16 = 2 * static_cast<size_t>(n) + n / 32 + (n % 32 + 7) / 8;
    EXPECT_EQ(MaxPackedBytes16(n), bound16);
    EXPECT_LE(MaxPackedBytes32(n), 5 * static_cast<size_t>(n));
    for (const Build& build : builds) {
      // Every value wide: the bound is met exactly.
      EXPECT_EQ(Pack16(build, std::vector<uint16_t>(static_cast<size_t>(n), 65535)).size(), bound16);
      EXPECT_EQ(Pack32(build, std::vector<uint32_t>(static_cast<size_t>(n), 0xFFFFFFFFu)).size(),
                MaxPackedBytes32(n));
      for (int trial = 0; trial < 20; ++trial) {
        const auto v16 = RandomGroups<uint16_t>(rng, n, {0, 255, 4095, 65535});
        EXPECT_LE(Pack16(build, v16).size(), bound16) << n;
        const auto v32 = RandomGroups<uint32_t>(rng, n, {0, 255, 65535, 0xFFFFFFFFull});
        EXPECT_LE(Pack32(build, v32).size(), MaxPackedBytes32(n)) << n;
      }
    }
  }
  // Counting only a control byte per started 32 falls short once a tail has
  // two groups.
  EXPECT_GT(MaxPackedBytes16(9), static_cast<size_t>((9 + 31) / 32 + 2 * 9));
}

TEST(PackValues32, RoundTripsEveryValueInBothBuilds) {
  std::mt19937_64 rng(5);
  const std::vector<Build> builds = Builds();
  for (int32_t blocks : {0, 1, 3, 42})
    for (int32_t tail = 0; tail < 32; ++tail) {
      const int32_t n = 32 * blocks + tail;
      // Values of 2^31 and more too: the packer compares unsigned.
      const auto values = RandomGroups<uint32_t>(rng, n, {0, 255, 65535, 0x7FFFFFFF, 0xFFFFFFFF});
      std::vector<uint8_t> first;
      for (const Build& build : builds) {
        const std::vector<uint8_t> bytes = Pack32(build, values);
        if (first.empty()) first = bytes;
        EXPECT_EQ(bytes, first) << "builds pack alike, n " << n;
        for (const Build& reader : builds) EXPECT_EQ(Unpack32(reader, bytes, n), values) << n;
      }
    }
}

TEST(UnpackValues32, RefusesShortInputAndAcceptsEveryCode) {
  std::mt19937_64 rng(9);
  const auto values = RandomGroups<uint32_t>(rng, 32 * 3 + 13, {0, 255, 65535, 0xFFFFFFFF});
  const int32_t n = static_cast<int32_t>(values.size());
  for (const Build& build : Builds()) {
    const std::vector<uint8_t> bytes = Pack32(build, values);
    for (size_t length = 0; length < bytes.size(); ++length) {
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
      std::vector<uint32_t> out(values.size());
      EXPECT_EQ(build.UnpackValues32(out.data(), n, cut.data(), cut.size()), nullptr) << length;
    }
    // Codes wider than the packer would choose, and tail code 2 for u32.
    std::vector<uint8_t> wide{0xFF};
    for (uint32_t k = 0; k < 32; ++k)
      for (int b = 0; b < 4; ++b) wide.push_back(static_cast<uint8_t>(k >> (8 * b)));
    wide.push_back(2);
    for (int b = 0; b < 4; ++b) wide.push_back(b == 0 ? 9 : 0);
    std::vector<uint32_t> expected(33);
    for (uint32_t k = 0; k < 32; ++k) expected[k] = k;
    expected[32] = 9;
    EXPECT_EQ(Unpack32(build, wide, 33), expected);
  }
}

}  // namespace

namespace {

std::vector<uint8_t> PackExactly16(const Build& build, const std::vector<uint16_t>& values) {
  std::vector<uint8_t> bytes(MaxPackedBytes16(static_cast<int32_t>(values.size())) + 16, 0xEE);
  const uint8_t* end =
      build.PackValues16(bytes.data(), values.data(), static_cast<int32_t>(values.size()));
  bytes.resize(static_cast<size_t>(end - bytes.data()));
  return bytes;
}

TEST(PackValues16, PackedByteExamples) {
  for (const Build& build : Builds()) {
    EXPECT_EQ(PackExactly16(build, {1, 2, 3, 4, 5, 6, 7, 8}),
              (std::vector<uint8_t>{1, 1, 2, 3, 4, 5, 6, 7, 8}));
    std::vector<uint16_t> one(32, 0);
    one[0] = 256;
    EXPECT_EQ(PackExactly16(build, one), (std::vector<uint8_t>{0x02, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(PackExactly16(build, std::vector<uint16_t>(32, 0)), std::vector<uint8_t>{0x00});
    std::vector<uint16_t> small(32, 200);
    EXPECT_EQ(PackExactly16(build, small).size(), 33u);
    EXPECT_EQ(PackExactly16(build, small)[0], 0x55);
    std::vector<uint16_t> widths(32, 0);
    widths[8] = 4095;   // group 1: 12 bytes
    widths[16] = 4096;  // group 2: 16 bytes
    widths[24] = 255;   // group 3: 8 bytes
    const std::vector<uint8_t> packed = PackExactly16(build, widths);
    EXPECT_EQ(packed.size(), 1u + 12 + 16 + 8);
    EXPECT_EQ(packed[0], (2 << 2) | (3 << 4) | (1 << 6));
    // A tail group with a value of 256 or more is written as u16 with flag 3.
    EXPECT_EQ(PackExactly16(build, {300, 1}), (std::vector<uint8_t>{3, 0x2C, 0x01, 1, 0}));
    EXPECT_TRUE(PackExactly16(build, {}).empty());
  }
}

TEST(PackValues16, PackUnpackRoundTripsAllMagnitudesAndTails) {
  std::mt19937_64 rng(3);
  const uint16_t limits[4] = {0, 255, 4095, 65535};
  const std::vector<Build> builds = Builds();
  for (int32_t blocks : {0, 1, 3, 34})
    for (int32_t tail = 0; tail < 32; ++tail) {
      const int32_t n = 32 * blocks + tail;
      std::vector<uint16_t> values(static_cast<size_t>(n));
      for (int32_t g = 0; g < n; g += 8) {
        // Each group of eight at one magnitude, its largest value at the top
        // of the range now and then.
        const uint16_t limit = limits[rng() % 4];
        for (int32_t k = g; k < std::min(n, g + 8); ++k)
          values[static_cast<size_t>(k)] = static_cast<uint16_t>(rng() % (uint32_t{limit} + 1));
        if (rng() % 3 == 0) values[static_cast<size_t>(g)] = limit;
      }
      std::vector<uint8_t> first;
      for (const Build& build : builds) {
        const std::vector<uint8_t> bytes = PackExactly16(build, values);
        ASSERT_LE(bytes.size(), MaxPackedBytes16(n));
        if (first.empty()) first = bytes;
        EXPECT_EQ(bytes, first) << "builds pack alike, n " << n;
        for (const Build& reader : builds) {
          const GuardedBytes guarded(bytes);
          std::vector<uint16_t> out(static_cast<size_t>(n) + 1, 0xBEEF);
          const uint8_t* end = reader.UnpackValues16(out.data(), n, guarded.data(), bytes.size());
          ASSERT_EQ(end, guarded.data() + bytes.size()) << reader.name << " n " << n;
          EXPECT_EQ(std::vector<uint16_t>(out.begin(), out.end() - 1), values) << reader.name;
          EXPECT_EQ(out.back(), 0xBEEF);
        }
      }
    }
}

TEST(PackValues16, UnpackRefusesShortInputWithoutReadingPastIt) {
  std::vector<uint16_t> values(32 * 3 + 13);
  for (size_t k = 0; k < values.size(); ++k) values[k] = static_cast<uint16_t>((k * 977) % (k % 3 ? 300 : 65536));
  values[40] = 0;
  for (const Build& build : Builds()) {
    const std::vector<uint8_t> bytes = PackExactly16(build, values);
    for (size_t length = 0; length < bytes.size(); ++length) {
      const GuardedBytes guarded(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
      std::vector<uint16_t> out(values.size() + 1, 0xBEEF);
      EXPECT_EQ(build.UnpackValues16(out.data(), static_cast<int32_t>(values.size()),
                                     guarded.data(), length),
                nullptr)
          << build.name << " length " << length;
      EXPECT_EQ(out.back(), 0xBEEF);
    }
  }
}

TEST(PackValues16, UnpackAcceptsEveryCode) {
  // A block whose groups take codes 3, 2, 1, 0 (not what the packer would pick
  // for these values), then tail groups with flags 0 and 2 meaning u16.
  std::vector<uint8_t> bytes = {0x1B};
  for (int k = 0; k < 8; ++k) bytes.insert(bytes.end(), {static_cast<uint8_t>(k), 0});
  // Values 0 ... 7 as 12-bit fields.
  const uint32_t w[3] = {1u << 12 | 2u << 24, 3u << 4 | 4u << 16 | 5u << 28, 5u >> 4 | 6u << 8 | 7u << 20};
  bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(w), reinterpret_cast<const uint8_t*>(w) + 12);
  for (int k = 0; k < 8; ++k) bytes.push_back(static_cast<uint8_t>(10 + k));
  bytes.insert(bytes.end(), {0, 0x34, 0x12, 7, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  bytes.insert(bytes.end(), {2, 9, 0});
  std::vector<uint16_t> expected;
  for (int k = 0; k < 8; ++k) expected.push_back(static_cast<uint16_t>(k));
  for (int k = 0; k < 8; ++k) expected.push_back(static_cast<uint16_t>(k));
  for (int k = 0; k < 8; ++k) expected.push_back(static_cast<uint16_t>(10 + k));
  for (int k = 0; k < 8; ++k) expected.push_back(0);
  expected.insert(expected.end(), {0x1234, 7, 1, 0, 0, 0, 0, 0, 9});
  for (const Build& build : Builds()) {
    std::vector<uint16_t> out(expected.size());
    EXPECT_EQ(build.UnpackValues16(out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                                   bytes.size()),
              bytes.data() + bytes.size())
        << build.name;
    EXPECT_EQ(out, expected) << build.name;
  }
}

// The 16-bit form written value by value from its definition: the vector
// packers must give these bytes exactly.
std::vector<uint8_t> ReferencePack16(const std::vector<uint16_t>& values) {
  std::vector<uint8_t> out;
  const size_t n = values.size();
  size_t at = 0;
  for (; at + 32 <= n; at += 32) {
    int codes[4];
    uint8_t control = 0;
    for (int g = 0; g < 4; ++g) {
      const uint16_t top = *std::max_element(values.begin() + at + 8 * g, values.begin() + at + 8 * g + 8);
      codes[g] = top == 0 ? 0 : top < 256 ? 1 : top < 4096 ? 2 : 3;
      control = static_cast<uint8_t>(control | codes[g] << (2 * g));
    }
    out.push_back(control);
    for (int g = 0; g < 4; ++g) {
      const uint16_t* x = values.data() + at + 8 * g;
      if (codes[g] == 1) {
        for (int m = 0; m < 8; ++m) out.push_back(static_cast<uint8_t>(x[m]));
      } else if (codes[g] == 2) {
        uint8_t bits[12] = {};
        for (int b = 0; b < 96; ++b)
          if (x[b / 12] >> (b % 12) & 1) bits[b / 8] = static_cast<uint8_t>(bits[b / 8] | 1 << (b % 8));
        out.insert(out.end(), bits, bits + 12);
      } else if (codes[g] == 3) {
        for (int m = 0; m < 8; ++m) out.insert(out.end(), {static_cast<uint8_t>(x[m]), static_cast<uint8_t>(x[m] >> 8)});
      }
    }
  }
  for (; at < n; at += 8) {
    const size_t end = std::min(n, at + 8);
    const bool bytes = *std::max_element(values.begin() + at, values.begin() + end) < 256;
    out.push_back(bytes ? 1 : 3);
    for (size_t k = at; k < end; ++k) {
      out.push_back(static_cast<uint8_t>(values[k]));
      if (!bytes) out.push_back(static_cast<uint8_t>(values[k] >> 8));
    }
  }
  return out;
}

TEST(PackValues16, BothBuildsGiveTheDefinedBytes) {
  std::mt19937_64 rng(17);
  for (int32_t n : {0, 7, 32, 45, 96, 1326})
    for (int trial = 0; trial < 30; ++trial) {
      const auto values = RandomGroups<uint16_t>(rng, n, {0, 255, 256, 4095, 4096, 65535});
      const std::vector<uint8_t> expected = ReferencePack16(values);
      for (const Build& build : Builds()) EXPECT_EQ(Pack16(build, values), expected) << build.name << " n " << n;
    }
}

}  // namespace
