#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "compress/fse.h"

// The backward bit reader of FSE blocks. A block's bit stream is written LSB
// first from its start and read from its end: a 64-bit little-endian window
// over the 8 bytes that begin at the read pointer, with a count of the bits
// consumed from the window's top. The writer closes the stream with a 1 bit,
// so the last byte is never 0.

enum BitStreamStatus : uint32_t {
  BIT_UNFINISHED = 0,     // at least 8 bytes remained: the window is full again
  BIT_END_OF_BUFFER = 1,  // the pointer reached the start with bits still unread
  BIT_COMPLETED = 2,      // every bit read, exactly
  BIT_OVERFLOW = 3,       // more bits read than the stream holds
};

struct BitReader {
  uint64_t window = 0;
  uint32_t consumed = 0;
  const uint8_t* ptr = nullptr;
  const uint8_t* start = nullptr;
};

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // x86-64 is little-endian
}

// Returns srcSize, or an error: srcSize_wrong for an empty stream, GENERIC when
// the last byte holds no end mark.
inline size_t BIT_initDStream(BitReader* reader, const void* src, size_t srcSize) {
  if (srcSize < 1) return FseError(FSE_ERROR_srcSize_wrong);
  const auto* bytes = static_cast<const uint8_t*>(src);
  const uint8_t last = bytes[srcSize - 1];
  if (last == 0) return FseError(FSE_ERROR_GENERIC);
  reader->start = bytes;
  const uint32_t mark_bits = 8 - (31 - static_cast<uint32_t>(__builtin_clz(last)));
  if (srcSize >= 8) {
    reader->ptr = bytes + srcSize - 8;
    reader->window = LoadLE64(reader->ptr);
    reader->consumed = mark_bits;
  } else {
    // Fewer than 8 bytes: zero-extended, the missing top bytes count as read.
    reader->ptr = bytes;
    uint64_t window = 0;
    for (size_t i = 0; i < srcSize; ++i) window |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    reader->window = window;
    reader->consumed = static_cast<uint32_t>(8 - srcSize) * 8 + mark_bits;
  }
  return srcSize;
}

// The next n bits (0 <= n <= 32), later-written bits high. Defined for any
// consumed count, so a damaged stream reads garbage instead of faulting.
inline uint32_t BIT_readBits(BitReader* reader, uint32_t n) {
  const uint64_t value = ((reader->window << (reader->consumed & 63)) >> 1) >> ((63 - n) & 63);
  reader->consumed += n;
  return static_cast<uint32_t>(value);
}

// The same for 1 <= n and consumed + n <= 64, one shift shorter.
inline uint32_t BIT_readBitsFast(BitReader* reader, uint32_t n) {
  const uint64_t value = (reader->window << (reader->consumed & 63)) >> (64 - n);
  reader->consumed += n;
  return static_cast<uint32_t>(value);
}

inline BitStreamStatus BIT_reloadDStream(BitReader* reader) {
  if (reader->consumed > 64) return BIT_OVERFLOW;
  if (reader->ptr - reader->start >= 8) {
    reader->ptr -= reader->consumed >> 3;
    reader->consumed &= 7;
    reader->window = LoadLE64(reader->ptr);
    return BIT_UNFINISHED;
  }
  if (reader->ptr == reader->start)
    return reader->consumed < 64 ? BIT_END_OF_BUFFER : BIT_COMPLETED;
  uint32_t bytes = reader->consumed >> 3;
  BitStreamStatus status = BIT_UNFINISHED;
  const uint32_t before = static_cast<uint32_t>(reader->ptr - reader->start);
  if (bytes > before) {
    bytes = before;
    status = BIT_END_OF_BUFFER;
  }
  reader->ptr -= bytes;
  reader->consumed -= bytes * 8;
  reader->window = LoadLE64(reader->ptr);
  return status;
}

inline bool BIT_endOfDStream(const BitReader* reader) {
  return reader->ptr == reader->start && reader->consumed == 64;
}
