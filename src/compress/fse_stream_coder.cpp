#include "compress/fse_stream_coder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "compress/combo_codec.h"
#include "protocol/fail.h"

namespace {

constexpr int32_t kMaskBytes = (kMaxComboArray + 7) / 8;

constexpr size_t kBufferSetBytes =
    static_cast<size_t>(kCoderChannelCount) * kStreamBlockBytes + 2 * size_t{kStreamCodeBound};

// Spare buffer sets of this thread: a block's walk keeps up to four coders
// alive at once (two players, regrets and strategy sums). The flag outlives
// the list, so a coder destroyed after the thread's list is gone frees its set.
constexpr int kSpareSets = 4;
thread_local bool t_spares_closed = false;
struct SpareSets {
  uint8_t* sets[kSpareSets] = {};
  ~SpareSets() {
    for (uint8_t* set : sets) std::free(set);
    t_spares_closed = true;
  }
};
thread_local SpareSets t_spares;

uint8_t* TakeBufferSet() {
  if (!t_spares_closed)
    for (uint8_t*& set : t_spares.sets)
      if (set) {
        uint8_t* taken = set;
        set = nullptr;
        return taken;
      }
  void* set = std::malloc(kBufferSetBytes);
  if (!set) throw std::bad_alloc();
  return static_cast<uint8_t*>(set);
}

void GiveBackBufferSet(uint8_t* given) {
  if (!t_spares_closed)
    for (uint8_t*& set : t_spares.sets)
      if (!set) {
        set = given;
        return;
      }
  std::free(given);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

bool IsWholeCodedStream(const uint8_t* bytes, int64_t length) {
  int64_t at = 0;
  uint32_t last_raw = kStreamBlockBytes;
  while (at < length) {
    if (last_raw != kStreamBlockBytes || length - at < 8) return false;
    const uint32_t n = LoadLE32(bytes + at);
    const int32_t code = static_cast<int32_t>(LoadLE32(bytes + at + 4));
    if (n == 0 || n > kStreamBlockBytes || code > kStreamCodeBound) return false;
    const int64_t payload = code > 1 ? code : code == 1 ? 1 : n;
    if (length - at - 8 < payload) return false;
    at += 8 + payload;
    last_raw = n;
  }
  return true;
}

StreamBufferSet::StreamBufferSet() : bytes_(TakeBufferSet()) {}
StreamBufferSet::~StreamBufferSet() { GiveBackBufferSet(bytes_); }

FseStreamEncoder::FseStreamEncoder(StreamCallback callback, CoderStats* stats)
    : callback_(callback), stats_(stats) {
  for (int32_t s = 0; s < kCoderChannelCount; ++s) streams_[s].buffer = buffers_.Stream(s);
}

FseStreamEncoder::~FseStreamEncoder() {
  // The streams holding bytes, two at a time, the longest together: their
  // blocks are coded side by side (the same bytes as one by one). Channels
  // are independent, so the order in which they receive their last blocks
  // does not matter.
  int32_t order[kCoderChannelCount];
  int32_t waiting = 0;
  for (int32_t s = 0; s < kCoderChannelCount; ++s) {
    if (streams_[s].used == 0) continue;
    int32_t at = waiting++;
    for (; at > 0 && streams_[order[at - 1]].used < streams_[s].used; --at) order[at] = order[at - 1];
    order[at] = s;
  }
  int32_t k = 0;
  for (; k + 1 < waiting; k += 2) {
    ByteStream& first = streams_[order[k]];
    ByteStream& second = streams_[order[k + 1]];
    FseCompressRequest a{buffers_.Coded(), kStreamCodeBound, first.buffer, first.used, 0};
    FseCompressRequest b{buffers_.Coded() + kStreamCodeBound, kStreamCodeBound, second.buffer,
                         second.used, 0};
    FSE_compressPair(&a, &b);
    EmitBlock(order[k], static_cast<uint8_t*>(a.dst), static_cast<int32_t>(a.result));
    EmitBlock(order[k + 1], static_cast<uint8_t*>(b.dst), static_cast<int32_t>(b.result));
  }
  if (k < waiting) FlushByteStream(order[k]);
}

void FseStreamEncoder::Encode(const uint32_t* values, int32_t count, int32_t flag) {
  if (count < 0 || count > kMaxComboArray) Fail();
  Append(0, static_cast<uint8_t>(flag));
  // Zeros after the last group: the tokens are found eight groups at a time.
  uint8_t masks[kMaskBytes + 8];
  const int32_t groups = (count + 7) >> 3;
  Kernels<ComboCodecKernels>().FindNonzeroGroups(values, count, masks);
  std::memset(masks + groups, 0, 8);
  if (!EncodeWithinBlocks(values, count, masks)) {
    uint32_t context = 0;
    for (int32_t g = 0, group = 0; g < count; g += 8, ++group) {
      // Tokens of the group's nonzero values, lowest position first.
      for (uint32_t mask = masks[group]; mask; mask &= mask - 1)
        WriteToken(context, values[g + __builtin_ctz(mask)] - 1);
      Append(1, masks[group]);
    }
  }
  stats_->raw_bytes += 4 * static_cast<uint64_t>(count);
  stats_->arrays += 1;
  if (flag) stats_->reference_arrays += 1;
}

bool FseStreamEncoder::EncodeWithinBlocks(const uint32_t* values, int32_t count,
                                          const uint8_t* masks) {
  // Room for every mask byte, and for a token per value on each token
  // stream, below the full block: no flush can fall inside the array.
  const int32_t groups = (count + 7) >> 3;
  if (streams_[1].used + static_cast<uint32_t>(groups) >= kStreamBlockBytes) return false;
  uint8_t* next[16];
  for (int32_t c = 0; c < 16; ++c) {
    ByteStream& stream = streams_[2 + c];
    if (stream.used + static_cast<uint32_t>(count) >= kStreamBlockBytes) return false;
    next[c] = stream.buffer + stream.used;
  }
  // The streams are independent: the mask bytes go at once, and the tokens
  // are found from the masks of eight groups at a time (the token order is
  // the order of the positions either way), so that a group's varying token
  // count costs no branch of its own.
  std::memcpy(streams_[1].buffer + streams_[1].used, masks, static_cast<size_t>(groups));
  streams_[1].used += static_cast<uint32_t>(groups);
  uint32_t context = 0;
  for (int32_t group = 0; group < groups; group += 8) {
    uint64_t bits;
    std::memcpy(&bits, masks + group, sizeof bits);
    const uint32_t* eight_groups = values + 8 * group;
    for (; bits; bits &= bits - 1) {
      const uint32_t token = eight_groups[__builtin_ctzll(bits)] - 1;
      if (token < 255) {
        *next[context]++ = static_cast<uint8_t>(token);
        context = token < 16 ? token : 15;
      } else {
        *next[context]++ = 255;
        context = 15;
        WriteEscapeFields(token);
      }
    }
  }
  for (int32_t c = 0; c < 16; ++c)
    streams_[2 + c].used = static_cast<uint32_t>(next[c] - streams_[2 + c].buffer);
  return true;
}

void FseStreamEncoder::WriteEscapedToken(uint32_t& context, uint32_t token) {
  Append(2 + static_cast<int32_t>(context), 255);
  context = 15;
  WriteEscapeFields(token);
}

void FseStreamEncoder::WriteEscapeFields(uint32_t token) {
  if (static_cast<int32_t>(token) > stats_->max_escaped_token)
    stats_->max_escaped_token = static_cast<int32_t>(token);
  if (token < 65535) {
    Append(18, static_cast<uint8_t>(token));
    Append(19, static_cast<uint8_t>(token >> 8));
    return;
  }
  // 255, 255 on streams 18 and 19 announce the 32-bit form.
  Append(18, 255);
  Append(19, 255);
  for (int32_t k = 0; k < 4; ++k) Append(20 + k, static_cast<uint8_t>(token >> (8 * k)));
}

void FseStreamEncoder::FlushByteStream(int32_t s) {
  uint8_t* coded = buffers_.Coded();
  const int32_t code = static_cast<int32_t>(
      FSE_compress(coded, kStreamCodeBound, streams_[s].buffer, streams_[s].used));
  EmitBlock(s, coded, code);
}

void FseStreamEncoder::EmitBlock(int32_t s, uint8_t* coded, int32_t code) {
  ByteStream& stream = streams_[s];
  const uint32_t n = stream.used;
  uint8_t header[8];
  StoreLE32(header, n);
  StoreLE32(header + 4, static_cast<uint32_t>(code));
  callback_(s, header, sizeof header);
  if (code > 1)
    callback_(s, coded, code);
  else if (code == 1)
    callback_(s, stream.buffer, 1);
  else
    callback_(s, stream.buffer, static_cast<int32_t>(n));  // raw, an FSE error included
  stream.used = 0;
}

FseStreamDecoder::FseStreamDecoder(StreamCallback callback) : callback_(callback) {}

uint32_t FseStreamDecoder::Decode(uint32_t* out, const uint32_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}

uint32_t FseStreamDecoder::Decode16(uint16_t* out, const uint16_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}

template <typename T>
uint32_t FseStreamDecoder::DecodeArray(T* out, const T* reference, int32_t count) {
  if (count < 0 || count > kMaxComboArray) Fail();
  const uint32_t flag = ReadByte(0);
  if (count == 0) return flag;
  // The array's mask bytes at once (zeros after them); a short group's mask
  // has no bits past its end, ignore any.
  const int32_t groups = (count + 7) >> 3;
  uint8_t masks[kMaskBytes + 8];
  ReadBytes(1, masks, groups);
  if (count & 7) masks[groups - 1] &= static_cast<uint8_t>((1u << (count & 7)) - 1);
  std::memset(masks + groups, 0, 8);
  // The coded values in place, 0 where none was coded; the tokens found from
  // the masks of eight groups at a time, lowest position first.
  T deltas[kMaxComboArray];
  std::memset(deltas, 0, sizeof(T) * static_cast<size_t>(count));
  uint32_t context = 0;
  for (int32_t group = 0; group < groups; group += 8) {
    uint64_t bits;
    std::memcpy(&bits, masks + group, sizeof bits);
    T* eight_groups = deltas + 8 * group;
    for (; bits; bits &= bits - 1)
      eight_groups[__builtin_ctzll(bits)] = static_cast<T>(Unzigzag(ReadToken(context) + 1));
  }
  // The rebuild rule: against the reference the running distance to it takes
  // each delta, otherwise the running value (from the reference's first value
  // when there is one).
  const ComboCodecKernels& kernels = Kernels<ComboCodecKernels>();
  const T* applied = reference && flag ? reference : nullptr;
  const T start = reference && !flag ? reference[0] : T(0);
  if constexpr (sizeof(T) == 4)
    kernels.PrefixSums32(out, applied, deltas, count, start);
  else
    kernels.PrefixSums16(out, applied, deltas, count, start);
  return flag;
}

void FseStreamDecoder::ReadBytes(int32_t s, uint8_t* out, int32_t n) {
  ByteStreamCursor& cursor = cursors_[s];
  while (n > 0) {
    if (cursor.next >= cursor.end) RefillByteStream(s);
    const int32_t available = static_cast<int32_t>(cursor.end - cursor.next);
    const int32_t taken = available < n ? available : n;
    std::memcpy(out, cursor.next, static_cast<size_t>(taken));
    cursor.next += taken;
    out += taken;
    n -= taken;
  }
}

uint32_t FseStreamDecoder::ReadEscapedToken() {
  const uint32_t low = ReadByte(18);
  const uint32_t high = ReadByte(19);
  const uint32_t token = low | high << 8;
  if (token < 65535) return token;
  uint32_t wide = 0;
  for (int32_t k = 0; k < 4; ++k) wide |= uint32_t{ReadByte(20 + k)} << (8 * k);
  return wide;
}

void FseStreamDecoder::RefillByteStream(int32_t s) {
  ByteStreamCursor& cursor = cursors_[s];
  uint8_t* buffer = buffers_.Stream(s);
  // Only a stream's last block is short: a read past it is not the writer's.
  if (block_sizes_[s] != 0 && block_sizes_[s] < kStreamBlockBytes)
    throw CodedStreamError("coded stream read past its end");
  uint8_t header[8];
  callback_(s, header, sizeof header);
  const uint32_t n = LoadLE32(header);
  const int32_t code = static_cast<int32_t>(LoadLE32(header + 4));
  if (n == 0 || n > kStreamBlockBytes || code > kStreamCodeBound)
    throw CodedStreamError("coded block size out of range");
  block_sizes_[s] = n;
  if (code > 1) {
    // Channels in memory are decoded where they lie.
    const uint8_t* coded = callback_.view ? callback_.view(callback_.context, s, code) : nullptr;
    if (!coded) {
      callback_(s, buffers_.Coded(), code);
      coded = buffers_.Coded();
    }
    const size_t decoded = FSE_decompress(buffer, n, coded, static_cast<size_t>(code));
    if (FSE_isError(decoded) || decoded != n) throw CodedStreamError("fse error");
  } else if (code == 1) {
    callback_(s, buffer, 1);
    std::memset(buffer + 1, buffer[0], n - 1);
  } else if (callback_.view) {
    // A raw block is read where it lies.
    const uint8_t* raw = callback_.view(callback_.context, s, static_cast<int32_t>(n));
    cursor.next = raw;
    cursor.end = raw + n;
    return;
  } else {
    callback_(s, buffer, static_cast<int32_t>(n));
  }
  cursor.next = buffer;
  cursor.end = buffer + n;
}
