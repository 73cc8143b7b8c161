#include "compress/combo_codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>
#include <vector>

#include "compress/coded_channels.h"
#include "platform/cpu_features.h"
#include "support/kernel_builds.h"

namespace {

// What the codec hands the coder: one call per array.
struct RecordingEncoder : StreamEncoder {
  struct Call {
    std::vector<uint32_t> values;
    int32_t flag;
  };
  std::vector<Call> calls;
  void Encode(const uint32_t* values, int32_t count, int32_t flag) override {
    calls.push_back({std::vector<uint32_t>(values, values + count), flag});
  }
};

// A decoder that leaves the rebuild to the codec: it hands back signed deltas.
struct DeltaDecoder : StreamDecoder {
  std::vector<uint32_t> deltas;
  uint32_t flag = 0;
  const uint32_t* seen_reference = reinterpret_cast<const uint32_t*>(1);
  uint32_t Decode(uint32_t* out, const uint32_t* reference, int32_t count) override {
    seen_reference = reference;
    for (int32_t i = 0; i < count; ++i) out[i] = deltas[i];
    return flag;
  }
  uint32_t Decode16(uint16_t*, const uint16_t*, int32_t) override { return 0; }
  bool AppliesReference() override { return false; }
};

uint32_t Zz(int64_t d) { return Zigzag(static_cast<uint32_t>(d)); }

// The rules written out plainly, for the kernels to match.
template <typename T>
bool ScalarDeltas(std::vector<uint32_t>& ref_form, std::vector<uint32_t>& plain,
                  const std::vector<T>& v, const std::vector<T>* r) {
  const size_t n = v.size();
  plain.assign(n, 0);
  ref_form.assign(n, 0);
  if (n == 0) return false;
  plain[0] = Zigzag(uint32_t{v[0]} - (r ? uint32_t{(*r)[0]} : 0));
  ref_form[0] = plain[0];
  for (size_t i = 1; i < n; ++i) {
    const uint32_t dv = uint32_t{v[i]} - uint32_t{v[i - 1]};
    plain[i] = Zigzag(dv);
    if (r) ref_form[i] = Zigzag(dv - (uint32_t{(*r)[i]} - uint32_t{(*r)[i - 1]}));
  }
  if (!r) return false;
  size_t nz_plain = 0, nz_ref = 0;
  for (size_t i = 0; i < n; ++i) nz_plain += plain[i] != 0, nz_ref += ref_form[i] != 0;
  return nz_ref < nz_plain;
}

template <typename T>
std::vector<T> RandomValues(std::mt19937& rng, size_t n, int kind) {
  std::vector<T> v(n);
  T x = static_cast<T>(rng());
  for (T& e : v) {
    switch (kind) {
      case 0:  // noise over the whole range
        e = static_cast<T>(rng());
        break;
      case 1:  // a smooth row: small steps, often none
        x = static_cast<T>(x + static_cast<T>(rng() % 4 == 0 ? rng() % 7 - 3 : 0));
        e = x;
        break;
      default:  // the extremes
        e = rng() % 2 ? T(0) : static_cast<T>(~T(0));
    }
  }
  return v;
}

using Build = BuildUnderTest<ComboCodecKernels>;
std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kComboCodecKernels,
                         isa_avx2::kComboCodecKernels, isa_avx512::kComboCodecKernels);
}

TEST(ComboCodec, ZigzagMapsSmallMagnitudesToSmallCodes) {
  const int32_t d[] = {0, -1, 1, -2, 2, INT32_MAX, INT32_MIN};
  const uint32_t e[] = {0, 1, 2, 3, 4, 0xFFFFFFFEu, 0xFFFFFFFFu};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Zigzag(static_cast<uint32_t>(d[i])), e[i]);
    EXPECT_EQ(Unzigzag(e[i]), static_cast<uint32_t>(d[i]));
  }
}

TEST(ComboCodec, BothBuildsGiveTheRulesDeltasAndChoice) {
  std::mt19937 rng(21);
  for (const Build& build : Builds()) {
    for (int trial = 0; trial < 600; ++trial) {
      const size_t n = trial < 300 ? trial % 41 : kMaxComboArray - trial % 3;
      const int kind = trial % 3;
      const bool with_reference = trial % 4 != 0;
      std::vector<uint32_t> want_ref, want_plain, ref(kMaxComboArray), plain(kMaxComboArray);
      {
        auto v = RandomValues<uint32_t>(rng, n, kind);
        // References near the values, so either form can win.
        auto r = v;
        for (auto& x : r) x += rng() % 3 == 0 ? rng() % 5 : 0;
        const bool want = ScalarDeltas(want_ref, want_plain, v, with_reference ? &r : nullptr);
        const bool got = build.ComputeComboDeltas(ref.data(), plain.data(), v.data(),
                                                  with_reference ? r.data() : nullptr, int32_t(n));
        ASSERT_EQ(got, want) << build.name << " " << n;
        ASSERT_TRUE(std::equal(want_plain.begin(), want_plain.end(), plain.begin()));
        if (with_reference) {
          ASSERT_TRUE(std::equal(want_ref.begin(), want_ref.end(), ref.begin()));
        }
      }
      {
        auto v = RandomValues<uint16_t>(rng, n, kind);
        auto r = v;
        for (auto& x : r) x = static_cast<uint16_t>(x + (rng() % 3 == 0 ? rng() % 5 : 0));
        const bool want = ScalarDeltas(want_ref, want_plain, v, with_reference ? &r : nullptr);
        const bool got = build.ComputeComboDeltas16(
            ref.data(), plain.data(), v.data(), with_reference ? r.data() : nullptr, int32_t(n));
        ASSERT_EQ(got, want) << build.name << " 16-bit " << n;
        ASSERT_TRUE(std::equal(want_plain.begin(), want_plain.end(), plain.begin()));
        if (with_reference) {
          ASSERT_TRUE(std::equal(want_ref.begin(), want_ref.end(), ref.begin()));
        }
      }
      {
        auto v = RandomValues<uint32_t>(rng, n, trial % 2);
        for (auto& x : v) x = rng() % 3 ? 0 : x;
        std::vector<uint8_t> masks((n + 7) / 8 + 1, 0xEE);
        build.FindNonzeroGroups(v.data(), int32_t(n), masks.data());
        for (size_t g = 0; g < (n + 7) / 8; ++g) {
          uint32_t want = 0;
          for (size_t k = 0; k < 8 && 8 * g + k < n; ++k) want |= uint32_t{v[8 * g + k] != 0} << k;
          ASSERT_EQ(masks[g], want) << build.name << " group " << g;
        }
        ASSERT_EQ(masks.back(), 0xEE);
      }
    }
  }
}

// The decoders' running sums in every build against the sum taken value by
// value: every count up to past two vectors and the largest, sums that wrap,
// with and without a reference, and nothing written past the count.
template <typename T, typename Kernel>
void CheckPrefixSums(const Build& build, Kernel kernel, std::mt19937& rng) {
  for (int trial = 0; trial < 200; ++trial) {
    const int32_t n = trial < 150 ? trial % 50 : kMaxComboArray - trial % 7;
    const auto deltas = RandomValues<T>(rng, static_cast<size_t>(n), trial % 3);
    const auto reference = RandomValues<T>(rng, static_cast<size_t>(n), 2 - trial % 3);
    const T start = static_cast<T>(rng());
    for (const bool with_reference : {false, true}) {
      std::vector<T> want(static_cast<size_t>(n) + 3, T(0x5A)), got = want;
      T running = start;
      for (int32_t i = 0; i < n; ++i) {
        running = static_cast<T>(running + deltas[static_cast<size_t>(i)]);
        want[static_cast<size_t>(i)] =
            with_reference ? static_cast<T>(reference[static_cast<size_t>(i)] + running) : running;
      }
      (build.*kernel)(got.data(), with_reference ? reference.data() : nullptr, deltas.data(), n,
                      start);
      ASSERT_EQ(got, want) << build.name << " " << 8 * sizeof(T) << "-bit " << n;
    }
  }
}

TEST(ComboCodec, EveryBuildsRunningSumsAreTheValueByValueSums) {
  std::mt19937 rng(57);
  for (const Build& build : Builds()) {
    CheckPrefixSums<uint32_t>(build, &Build::PrefixSums32, rng);
    CheckPrefixSums<uint16_t>(build, &Build::PrefixSums16, rng);
  }
}

TEST(ComboCodec, EncodingPicksTheFormWithFewerNonzeroDeltas) {
  RecordingEncoder enc;
  const std::vector<uint32_t> constant(10, 77);
  EncodeComboArray(&enc, constant.data(), nullptr, 10);
  std::vector<uint32_t> want(10, 0);
  want[0] = Zz(77);
  EXPECT_EQ(enc.calls.back().values, want);
  EXPECT_EQ(enc.calls.back().flag, 0);

  // Equal to the reference: the reference form is all zeros.
  const std::vector<uint32_t> row = {5, 9, 2, 2, 40};
  EncodeComboArray(&enc, row.data(), row.data(), 5);
  EXPECT_EQ(enc.calls.back().values, std::vector<uint32_t>(5, 0));
  EXPECT_EQ(enc.calls.back().flag, 1);
  // ... unless the plain form is all zeros too: a tie.
  EncodeComboArray(&enc, constant.data(), constant.data(), 10);
  EXPECT_EQ(enc.calls.back().flag, 0);
  EXPECT_EQ(enc.calls.back().values, std::vector<uint32_t>(10, 0));

  // Equal nonzero counts: 2 each.
  const std::vector<uint32_t> v = {1, 2, 2, 2}, r = {0, 1, 2, 2};
  EncodeComboArray(&enc, v.data(), r.data(), 4);
  EXPECT_EQ(enc.calls.back().flag, 0);
  EXPECT_EQ(enc.calls.back().values, (std::vector<uint32_t>{Zz(1), Zz(1), 0, 0}));

  // One value against a reference: plain, measured against it.
  const uint32_t one = 3, one_ref = 8;
  EncodeComboArray(&enc, &one, &one_ref, 1);
  EXPECT_EQ(enc.calls.back().flag, 0);
  EXPECT_EQ(enc.calls.back().values, std::vector<uint32_t>{Zz(-5)});

  const std::vector<uint32_t> wrap = {0, 0xFFFFFFFFu};
  EncodeComboArray(&enc, wrap.data(), nullptr, 2);
  EXPECT_EQ(enc.calls.back().values, (std::vector<uint32_t>{0, 1}));
  const std::vector<uint16_t> wrap16 = {0, 65535, 0};
  EncodeComboArray16(&enc, wrap16.data(), nullptr, 3);
  EXPECT_EQ(enc.calls.back().values, (std::vector<uint32_t>{0, 2 * 65535, 2 * 65535 - 1}));

  EncodeComboArray(&enc, nullptr, nullptr, 0);
  EXPECT_TRUE(enc.calls.back().values.empty());
  EXPECT_EQ(enc.calls.back().flag, 0);
}

TEST(ComboCodec, RebuildAppliesTheReferenceOnlyWithTheFlag) {
  const std::vector<uint32_t> coded = {Zz(2), 0, Zz(-1), 0};
  const std::vector<uint32_t> r = {10, 20, 25, 5};
  std::vector<uint32_t> out(4);
  RebuildComboValues(out.data(), r.data(), coded.data(), 4, 1);
  EXPECT_EQ(out, (std::vector<uint32_t>{12, 22, 26, 6}));
  RebuildComboValues(out.data(), r.data(), coded.data(), 4, 0);
  EXPECT_EQ(out, (std::vector<uint32_t>{12, 12, 11, 11}));
  RebuildComboValues(out.data(), nullptr, coded.data(), 4, 1);
  EXPECT_EQ(out, (std::vector<uint32_t>{2, 2, 1, 1}));
  std::vector<uint16_t> out16(2);
  const std::vector<uint32_t> coded16 = {0, Zz(65535)};
  RebuildComboValues(out16.data(), nullptr, coded16.data(), 2, 0);
  EXPECT_EQ(out16, (std::vector<uint16_t>{0, 65535}));
}

TEST(ComboCodec, ADecoderThatHandsBackDeltasIsRebuiltByTheCodec) {
  DeltaDecoder dec;
  dec.deltas = {3, static_cast<uint32_t>(-1), 0, 4};
  dec.flag = 1;
  const std::vector<uint32_t> r = {100, 90, 95, 95};
  std::vector<uint32_t> out(4);
  DecodeComboArray(&dec, out.data(), r.data(), 4);
  EXPECT_EQ(dec.seen_reference, nullptr);
  EXPECT_EQ(out, (std::vector<uint32_t>{103, 92, 97, 101}));
  const std::vector<uint16_t> r16 = {1, 1, 1, 1};
  std::vector<uint16_t> out16(4);
  dec.flag = 0;
  DecodeComboArray16(&dec, out16.data(), r16.data(), 4);
  EXPECT_EQ(out16, (std::vector<uint16_t>{4, 3, 3, 7}));
}

TEST(ComboCodec, FactoriesWriteAndReadTheCoderIdByte) {
  CodedChannels channels;
  CoderStats stats;
  EXPECT_EQ(CreateEncoder(7, nullptr, nullptr, &CodedChannels::Write, &channels, &stats), nullptr);
  EXPECT_EQ(channels.bytes[0], std::vector<uint8_t>{7});
  EXPECT_EQ(CreateDecoder(&CodedChannels::Read, &channels), nullptr);
  uint32_t out = 0;
  EXPECT_THROW(DecodeComboArray(nullptr, &out, nullptr, 1), CodedStreamError);

  CodedChannels fse;
  auto encoder =
      CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &CodedChannels::Write, &fse, &stats);
  ASSERT_NE(encoder, nullptr);
  encoder.reset();
  EXPECT_EQ(fse.bytes[0], std::vector<uint8_t>{2});
  // An empty channel 0 after the id byte: the decoder is made and reads nothing.
  auto decoder = CreateDecoder(&CodedChannels::Read, &fse);
  ASSERT_NE(decoder, nullptr);
  EXPECT_TRUE(decoder->AppliesReference());
  decoder.reset();
}

TEST(ComboCodecDeathTest, MoreThan1326ValuesEndTheProcess) {
  std::vector<uint32_t> values(kMaxComboArray + 1, 1);
  RecordingEncoder enc;
  EXPECT_EXIT(EncodeComboArray(&enc, values.data(), nullptr, kMaxComboArray + 1),
              ::testing::ExitedWithCode(1), "");
  std::vector<uint16_t> values16(kMaxComboArray + 1, 1);
  EXPECT_EXIT(EncodeComboArray16(&enc, values16.data(), nullptr, kMaxComboArray + 1),
              ::testing::ExitedWithCode(1), "");
  DeltaDecoder dec;
  EXPECT_EXIT(DecodeComboArray(&dec, values.data(), nullptr, kMaxComboArray + 1),
              ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(DecodeComboArray16(&dec, values16.data(), nullptr, kMaxComboArray + 1),
              ::testing::ExitedWithCode(1), "");
}

}  // namespace
