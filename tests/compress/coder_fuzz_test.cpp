// The three decoders on damaged and random streams, from a fixed seed: every
// read either decodes or throws CodedStreamError (the test channels throw it
// too when a read runs past a channel's end); nothing else escapes, and in the
// sanitizer build nothing is read or written outside a buffer.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "compress/coded_channels.h"
#include "compress/combo_codec.h"

namespace {

struct Script {
  int32_t coder;
  std::vector<CodedArray<uint32_t>> arrays;
  std::vector<bool> wide;  // per array: 32-bit (else 16-bit)
};

// Arrays like the engine's rows, now and then with extreme values.
Script MakeScript(int32_t coder, std::mt19937& rng) {
  Script script{coder, {}, {}};
  const int arrays = 1 + rng() % 12;
  std::vector<uint32_t> previous;
  for (int a = 0; a < arrays; ++a) {
    const int32_t n = rng() % 8 == 0 ? 0 : 1 + rng() % (rng() % 4 ? 64 : kMaxComboArray);
    const bool wide = rng() % 2;
    std::vector<uint32_t> v(n);
    uint32_t x = rng() % 1000;
    for (uint32_t& e : v) {
      const uint32_t step = rng() % 16 == 0 ? rng() : rng() % 5 ? 0 : rng() % 300;
      x += step;
      e = wide ? x : (x & 0xFFFF);
    }
    CodedArray<uint32_t> array{v, {}};
    if (!previous.empty() && previous.size() >= v.size() && rng() % 2)
      array.reference.assign(previous.begin(), previous.begin() + n);
    previous = v;
    script.arrays.push_back(array);
    script.wide.push_back(wide);
  }
  return script;
}

void Encode(const Script& script, CodedChannels& channels) {
  CoderStats stats;
  auto encoder =
      CreateEncoder(script.coder, nullptr, nullptr, &CodedChannels::Write, &channels, &stats);
  for (size_t a = 0; a < script.arrays.size(); ++a) {
    const auto& array = script.arrays[a];
    const auto n = static_cast<int32_t>(array.values.size());
    if (script.wide[a]) {
      EncodeComboArray(encoder.get(), array.values.data(),
                       array.reference.empty() ? nullptr : array.reference.data(), n);
    } else {
      std::vector<uint16_t> v(array.values.begin(), array.values.end());
      std::vector<uint16_t> r(array.reference.begin(), array.reference.end());
      EncodeComboArray16(encoder.get(), v.data(), r.empty() ? nullptr : r.data(), n);
    }
  }
  encoder.reset();
}

// Decodes every array of the script (or random counts); true when all came out
// without an error. Outputs are guarded by canaries.
bool Decode(const Script& script, CodedChannels& channels, std::mt19937& rng, bool random_counts) {
  channels.Rewind();
  std::unique_ptr<StreamDecoder> decoder;
  bool complete = true;
  try {
    decoder = CreateDecoder(&CodedChannels::Read, &channels);
    if (!decoder) return false;
    for (size_t a = 0; a < script.arrays.size(); ++a) {
      const auto& array = script.arrays[a];
      const int32_t n = random_counts ? static_cast<int32_t>(rng() % (kMaxComboArray + 1))
                                      : static_cast<int32_t>(array.values.size());
      const bool with_reference = !array.reference.empty() && !random_counts;
      std::vector<uint32_t> out(n + 1, 0xC0FFEE), reference(array.reference);
      std::vector<uint16_t> out16(n + 1, 0xBEEF), reference16(reference.begin(), reference.end());
      if (script.wide[a] || rng() % 4 == 0) {
        DecodeComboArray(decoder.get(), out.data(), with_reference ? reference.data() : nullptr, n);
        EXPECT_EQ(out[n], 0xC0FFEEu);
      } else {
        DecodeComboArray16(decoder.get(), out16.data(),
                           with_reference ? reference16.data() : nullptr, n);
        EXPECT_EQ(out16[n], 0xBEEF);
      }
    }
  } catch (const CodedStreamError&) {
    complete = false;
  }
  decoder.reset();
  return complete;
}

void Mutate(CodedChannels& channels, std::mt19937& rng) {
  const int kind = rng() % 6;
  int32_t s = static_cast<int32_t>(rng() % kCoderChannelCount);
  for (int tries = 0; tries < 24 && channels.bytes[s].empty(); ++tries) s = (s + 1) % kCoderChannelCount;
  std::vector<uint8_t>& c = channels.bytes[s];
  if (c.empty()) return;
  const size_t at = rng() % c.size();
  switch (kind) {
    case 0:  // bit flips
      for (int k = 1 + rng() % 4; k > 0; --k) c[rng() % c.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      break;
    case 1:  // a byte set to an edge value
      c[at] = static_cast<uint8_t>(rng() % 2 ? 0xFF : 0);
      break;
    case 2:  // cut short
      c.resize(at);
      break;
    case 3:  // bytes removed inside
      c.erase(c.begin() + at, c.begin() + std::min(c.size(), at + 1 + rng() % 8));
      break;
    case 4:  // bytes inserted
      c.insert(c.begin() + at, 1 + rng() % 8, static_cast<uint8_t>(rng()));
      break;
    default:  // a 32-bit field overwritten (the block headers)
      for (size_t k = 0; k < 4 && at + k < c.size(); ++k) c[at + k] = static_cast<uint8_t>(rng() >> (8 * k));
  }
}

TEST(CoderFuzz, DamagedStreamsDecodeOrFailWithAnError) {
  std::mt19937 rng(20240611);
  int refused = 0, decoded = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const int32_t coder = trial % 10 == 0 ? CODER_RANGE : trial % 2 ? CODER_FSE_STREAMS : CODER_PACKER;
    const Script script = MakeScript(coder, rng);
    CodedChannels channels;
    Encode(script, channels);
    ASSERT_TRUE(Decode(script, channels, rng, false)) << "the undamaged stream, trial " << trial;
    for (int m = 1 + rng() % 3; m > 0; --m) Mutate(channels, rng);
    if (Decode(script, channels, rng, trial % 7 == 0))
      ++decoded;
    else
      ++refused;
  }
  EXPECT_GT(refused, 600);
  EXPECT_GT(decoded, 200);
}

TEST(CoderFuzz, RandomBytesBehindEachCoderIdFailWithAnError) {
  std::mt19937 rng(77);
  int errors = 0;
  for (int trial = 0; trial < 600; ++trial) {
    CodedChannels channels;
    for (auto& c : channels.bytes) {
      c.resize(rng() % 3 == 0 ? 0 : rng() % 600);
      for (uint8_t& b : c) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0);
    }
    const int32_t coder = trial % 8 == 0 ? CODER_RANGE : trial % 2 ? CODER_FSE_STREAMS : CODER_PACKER;
    channels.bytes[0].insert(channels.bytes[0].begin(), static_cast<uint8_t>(coder));
    if (coder == CODER_RANGE && trial % 16 == 0) {
      // Past the magic, into the count table and the coded bytes.
      const uint8_t magic[4] = {'C', 'm', 'p', 'r'};
      channels.bytes[0].resize(std::max<size_t>(channels.bytes[0].size(), 2600));
      std::copy(magic, magic + 4, channels.bytes[0].begin() + 1);
    }
    Script script = MakeScript(coder, rng);
    errors += !Decode(script, channels, rng, trial % 3 == 0);
  }
  // Most random streams are caught as damaged rather than read as values.
  EXPECT_GT(errors, 300);
}

}  // namespace
