// The FSE block loops, compiled once per instruction set. Everything here is
// local to the build's namespace: the bit reader and writer are the ones of
// compress/bit_stream.h and fse.cpp, restated so that no inline function is
// shared between the two builds.
#include <cstring>

#include "compress/fse_block.h"

#if defined(TDX_ISA_AVX2)
namespace isa_avx2 {
#elif defined(TDX_ISA_AVX)
namespace isa_avx {
#else
#error "fse_block.isa.cpp is built only with TDX_ISA_AVX2 or TDX_ISA_AVX"
#endif

namespace {

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // x86-64 is little-endian
}

// The forward bit stream: a 64-bit accumulator flushed as whole bytes by
// 8-byte stores; the last 8 bytes of the capacity are the stores' reserve.
struct Writer {
  uint8_t* start;
  uint8_t* ptr;
  uint8_t* limit;
  uint64_t accumulator = 0;
  uint32_t bits = 0;

  // The low n bits of value (n <= 32; 56 pending bits at most between flushes).
  void Add(uint32_t value, uint32_t n) {
    accumulator |= (static_cast<uint64_t>(value) & ((uint64_t{1} << n) - 1)) << bits;
    bits += n;
  }
  void Flush() {
    std::memcpy(ptr, &accumulator, sizeof accumulator);
    const uint32_t bytes = bits >> 3;
    ptr += bytes;
    if (ptr > limit) ptr = limit;
    bits &= 7;
    accumulator >>= bytes * 8;
  }
};

inline void Encode(Writer& writer, uint32_t& state, uint8_t symbol, const FseCTable* table) {
  const FseSymbolTransform transform = table->transforms[symbol];
  const uint32_t bits = (state + transform.bit_count_delta) >> 16;
  writer.Add(state, bits);
  // The mask only matters for a symbol the table lacks (a caller's mistake).
  state = table->next_state[((state >> bits) + transform.next_state_offset) &
                            ((1u << kFseMaxTableLog) - 1)];
}

// One block's encoding, in the steps that two blocks can take side by side.
struct BlockEncoder {
  Writer writer;
  const uint8_t* first;
  const uint8_t* ip;
  const FseCTable* table;
  uint32_t state1;
  uint32_t state2;

  BlockEncoder(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
               const FseCTable* t)
      : writer{static_cast<uint8_t*>(dst), static_cast<uint8_t*>(dst),
               static_cast<uint8_t*>(dst) + dstCapacity - sizeof(uint64_t)},
        first(static_cast<const uint8_t*>(src)),
        ip(first + srcSize),
        table(t),
        state1(1u << t->table_log),
        state2(1u << t->table_log) {}

  // Both states start at 2^t; the bytes go in from the last, even positions
  // on state 1 and odd ones on state 2, so the decoder reads them first to
  // last. The odd bytes first, so that four remain a step.
  void Begin(size_t srcSize) {
    if (srcSize & 1) {
      Encode(writer, state1, *--ip, table);
      writer.Flush();
    }
    if (srcSize & 2) {
      Encode(writer, state2, *--ip, table);
      Encode(writer, state1, *--ip, table);
      writer.Flush();
    }
  }
  bool More() const { return ip > first; }
  void Step() {
    Encode(writer, state2, ip[-1], table);
    Encode(writer, state1, ip[-2], table);
    Encode(writer, state2, ip[-3], table);
    Encode(writer, state1, ip[-4], table);
    ip -= 4;
    writer.Flush();
  }
  // The end mark, then the length in bytes, or 0 when the reserve was reached.
  size_t End() {
    writer.Add(state2, table->table_log);
    writer.Flush();
    writer.Add(state1, table->table_log);
    writer.Flush();
    writer.Add(1, 1);
    writer.Flush();
    if (writer.ptr >= writer.limit) return 0;
    return static_cast<size_t>(writer.ptr - writer.start) + (writer.bits > 0);
  }
};

size_t EncodeBlock(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                   const FseCTable* table) {
  if (dstCapacity < 8) return 0;
  BlockEncoder block(dst, dstCapacity, src, srcSize, table);
  block.Begin(srcSize);
  while (block.More()) block.Step();
  return block.End();
}

// Two blocks side by side: each state update waits on the table load of the
// one before it, so one block leaves the processor idle between them.
void EncodeBlockPair(FseBlockJob* a, FseBlockJob* b) {
  if (a->dstCapacity < 8 || b->dstCapacity < 8) {
    a->result = EncodeBlock(a->dst, a->dstCapacity, a->src, a->srcSize, a->table);
    b->result = EncodeBlock(b->dst, b->dstCapacity, b->src, b->srcSize, b->table);
    return;
  }
  BlockEncoder x(a->dst, a->dstCapacity, a->src, a->srcSize, a->table);
  BlockEncoder y(b->dst, b->dstCapacity, b->src, b->srcSize, b->table);
  x.Begin(a->srcSize);
  y.Begin(b->srcSize);
  while (x.More() && y.More()) {
    x.Step();
    y.Step();
  }
  while (x.More()) x.Step();
  while (y.More()) y.Step();
  a->result = x.End();
  b->result = y.End();
}

// The backward reader: a 64-bit window over the 8 bytes at ptr and the count
// of bits consumed from its top (compress/bit_stream.h has the same rules).
struct Reader {
  uint64_t window;
  uint32_t consumed;
  const uint8_t* ptr;
  const uint8_t* start;

  uint32_t Read(uint32_t n) {
    const uint64_t value = ((window << (consumed & 63)) >> 1) >> ((63 - n) & 63);
    consumed += n;
    return static_cast<uint32_t>(value);
  }
  // 1 <= n and consumed + n <= 64.
  uint32_t ReadFast(uint32_t n) {
    const uint64_t value = (window << (consumed & 63)) >> (64 - n);
    consumed += n;
    return static_cast<uint32_t>(value);
  }
  enum Status : uint32_t { UNFINISHED = 0, END_OF_BUFFER = 1, COMPLETED = 2, OVERFLOW = 3 };
  Status Reload() {
    if (consumed > 64) return OVERFLOW;
    if (ptr - start >= 8) {
      ptr -= consumed >> 3;
      consumed &= 7;
      window = Load64(ptr);
      return UNFINISHED;
    }
    if (ptr == start) return consumed < 64 ? END_OF_BUFFER : COMPLETED;
    uint32_t bytes = consumed >> 3;
    Status status = UNFINISHED;
    const uint32_t before = static_cast<uint32_t>(ptr - start);
    if (bytes > before) {
      bytes = before;
      status = END_OF_BUFFER;
    }
    ptr -= bytes;
    consumed -= bytes * 8;
    window = Load64(ptr);
    return status;
  }
  // Reload of the main loop, where at least 8 bytes remained before ptr at the
  // last reload: only the distance to the start is tested.
  bool ReloadUnfinished() {
    if (consumed > 64) return false;
    const uint8_t* next = ptr - (consumed >> 3);
    if (next < start + 8) return false;
    ptr = next;
    consumed &= 7;
    window = Load64(ptr);
    return true;
  }
};

template <bool kFast>
inline uint8_t Decode(Reader& reader, uint32_t& state, const FseDCell* cells) {
  const FseDCell cell = cells[state];
  state = cell.next_state_base + (kFast ? reader.ReadFast(cell.bit_count) : reader.Read(cell.bit_count));
  return cell.symbol;
}

template <bool kFast>
size_t DecodeWith(uint8_t* dst, size_t capacity, const uint8_t* src, size_t size,
                  const FseDTable* table) {
  uint8_t* op = dst;
  uint8_t* const end = dst + capacity;
  // Init: no bytes, or a last byte without the end mark, are errors.
  if (size < 1) return FseError(FSE_ERROR_srcSize_wrong);
  const uint8_t last = src[size - 1];
  if (last == 0) return FseError(FSE_ERROR_GENERIC);
  Reader reader;
  reader.start = src;
  const uint32_t mark_bits = 8 - (31 - static_cast<uint32_t>(__builtin_clz(last)));
  if (size >= 8) {
    reader.ptr = src + size - 8;
    reader.window = Load64(reader.ptr);
    reader.consumed = mark_bits;
  } else {
    // Fewer than 8 bytes: zero-extended, the missing top bytes count as read.
    reader.ptr = src;
    uint64_t window = 0;
    for (size_t i = 0; i < size; ++i) window |= static_cast<uint64_t>(src[i]) << (8 * i);
    reader.window = window;
    reader.consumed = static_cast<uint32_t>(8 - size) * 8 + mark_bits;
  }
  const FseDCell* cells = table->cells;
  uint32_t state1 = reader.Read(table->table_log);
  reader.Reload();
  uint32_t state2 = reader.Read(table->table_log);
  Reader::Status status = reader.Reload();

  // Four symbols per reload: 4 x 12 bits and the 7 left over fit the window.
  // While at least 8 bytes lie before the window, a reload that keeps that
  // true is all the general one would do.
  if (status == Reader::UNFINISHED) {
    uint8_t* const fast_end = capacity > 3 ? end - 3 : dst;
    while (op < fast_end) {
      op[0] = Decode<kFast>(reader, state1, cells);
      op[1] = Decode<kFast>(reader, state2, cells);
      op[2] = Decode<kFast>(reader, state1, cells);
      op[3] = Decode<kFast>(reader, state2, cells);
      op += 4;
      if (!reader.ReloadUnfinished()) {
        status = reader.Reload();
        if (status != Reader::UNFINISHED) break;
      }
    }
  }
  // The tail, a reload before every symbol. A completed stream ends at once in
  // fast mode; otherwise a state of 0 cells may still read 0 bits.
  for (;;) {
    status = reader.Reload();
    if (status == Reader::OVERFLOW || op == end || (status == Reader::COMPLETED && (kFast || !state1)))
      break;
    *op++ = Decode<false>(reader, state1, cells);
    status = reader.Reload();
    if (status == Reader::OVERFLOW || op == end || (status == Reader::COMPLETED && (kFast || !state2)))
      break;
    *op++ = Decode<false>(reader, state2, cells);
  }
  if (reader.ptr == reader.start && reader.consumed == 64 && state1 == 0 && state2 == 0)
    return static_cast<size_t>(op - dst);
  if (op == end) return FseError(FSE_ERROR_dstSize_tooSmall);
  return FseError(FSE_ERROR_corruptionDetected);
}

size_t DecodeBlock(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                   const FseDTable* table) {
  auto* out = static_cast<uint8_t*>(dst);
  const auto* in = static_cast<const uint8_t*>(src);
  return table->fast_mode ? DecodeWith<true>(out, dstCapacity, in, srcSize, table)
                          : DecodeWith<false>(out, dstCapacity, in, srcSize, table);
}

}  // namespace

const FseBlockKernels kFseBlockKernels = {
    .EncodeBlock = EncodeBlock,
    .EncodeBlockPair = EncodeBlockPair,
    .DecodeBlock = DecodeBlock,
};

}  // namespace isa_avx2 / isa_avx
