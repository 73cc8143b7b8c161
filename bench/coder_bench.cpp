// Coder id 2 on realistic 16-bit rows (support/river_rows.h). Encode and
// decode throughput in MB of 16-bit values per second, and the coded size as a
// fraction of those 2-byte values.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "compress/coder.h"
#include "compress/combo_codec.h"
#include "support/kernel_bench.h"
#include "support/river_rows.h"

namespace {

// The channels of one block in memory; their buffers are kept between runs.
struct Channels {
  std::vector<uint8_t> bytes[kCoderChannelCount];
  size_t positions[kCoderChannelCount] = {};

  static void Write(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
    auto& c = static_cast<Channels*>(context)->bytes[channel];
    c.insert(c.end(), buffer, buffer + length);
  }
  static void Read(void* context, int32_t channel, uint8_t* buffer, int32_t length) {
    auto* self = static_cast<Channels*>(context);
    const auto& c = self->bytes[channel];
    if (static_cast<size_t>(length) > c.size() - self->positions[channel])
      throw CodedStreamError("channel read past its end");
    std::memcpy(buffer, c.data() + self->positions[channel], length);
    self->positions[channel] += length;
  }
  void Clear() {
    for (auto& c : bytes) c.clear();
  }
  void Rewind() {
    for (size_t& p : positions) p = 0;
  }
  size_t Size() const {
    size_t n = 0;
    for (const auto& c : bytes) n += c.size();
    return n;
  }
};

struct Fixture : RiverRows {
  void Encode(Channels& channels) const {
    CoderStats stats;
    auto encoder =
        CreateEncoder(CODER_FSE_STREAMS, nullptr, nullptr, &Channels::Write, &channels, &stats);
    for (const RiverRow& row : rows)
      EncodeComboArray16(encoder.get(), row.values.data(), Reference(row),
                         static_cast<int32_t>(row.values.size()));
    encoder.reset();
  }

  // Decodes into out, rows back to back; false when a row differs.
  bool Decode(Channels& channels, std::vector<uint16_t>& out) const {
    channels.Rewind();
    auto decoder = CreateDecoder(&Channels::Read, &channels);
    size_t at = 0;
    std::vector<size_t> starts;
    for (const RiverRow& row : rows) {
      const uint16_t* reference = row.reference < 0 ? nullptr : out.data() + starts[row.reference];
      starts.push_back(at);
      DecodeComboArray16(decoder.get(), out.data() + at, reference,
                         static_cast<int32_t>(row.values.size()));
      at += row.values.size();
    }
    decoder.reset();
    return true;
  }
};

const Fixture& TheFixture() {
  static const Fixture fixture;
  return fixture;
}

void Describe(benchmark::State& state, const Fixture& f, const Channels& channels) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.values * 2));
  state.counters["rows"] = static_cast<double>(f.rows.size());
  state.counters["values"] = static_cast<double>(f.values);
  state.counters["coded_fraction"] = static_cast<double>(channels.Size()) / (2.0 * f.values);
}

void BM_FseEncode16(benchmark::State& state) {
  const Fixture& f = TheFixture();
  if (!f.ok) return state.SkipWithError("no rows");
  Channels channels;
  for (auto _ : state) {
    channels.Clear();
    f.Encode(channels);
  }
  Describe(state, f, channels);
}
BENCHMARK(BM_FseEncode16)->Unit(benchmark::kMillisecond);

void BM_FseDecode16(benchmark::State& state) {
  const Fixture& f = TheFixture();
  if (!f.ok) return state.SkipWithError("no rows");
  Channels channels;
  f.Encode(channels);
  std::vector<uint16_t> out(f.values);
  for (auto _ : state) {
    f.Decode(channels, out);
    benchmark::ClobberMemory();
  }
  // The rows came back.
  size_t at = 0;
  for (const RiverRow& row : f.rows) {
    if (!std::equal(row.values.begin(), row.values.end(), out.begin() + at))
      return state.SkipWithError("decoded rows differ");
    at += row.values.size();
  }
  Describe(state, f, channels);
}
BENCHMARK(BM_FseDecode16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunKernelBenchmarks(argc, argv, false); }
