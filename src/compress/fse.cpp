#include "compress/fse.h"

#include <cstring>

#include "compress/fse_block.h"

namespace {

inline uint32_t HighBit(uint32_t x) { return 31 - static_cast<uint32_t>(__builtin_clz(x)); }

// The smallest table log that can hold the data: enough cells for every
// symbol value present and no more bits than the input has bytes.
uint32_t MinTableLog(size_t total, uint32_t max_symbol) {
  const uint32_t source_bits = total > 1 ? HighBit(static_cast<uint32_t>(total - 1)) + 1 : 1;
  const uint32_t symbol_bits = HighBit(max_symbol | 1) + 2;
  return source_bits < symbol_bits ? source_bits : symbol_bits;
}

// The symbols with a count, in order, from one pass over the counts that
// skips eight absent symbols at a time (short streams use few of the 256).
// False unless the counts are valid and fill 2^table_log cells (-1 takes one).
struct PresentSymbols {
  uint8_t symbols[kFseMaxSymbolValue + 1];
  uint32_t count = 0;
};
bool CollectSymbols(PresentSymbols* present, const int16_t* norm, uint32_t max_symbol,
                    uint32_t table_log) {
  int64_t cells = 0;
  uint32_t n = 0;
  for (uint32_t s0 = 0; s0 <= max_symbol; s0 += 8) {
    if (s0 + 8 <= max_symbol + 1) {
      uint64_t eight[2];
      std::memcpy(eight, norm + s0, sizeof eight);
      if ((eight[0] | eight[1]) == 0) continue;
    }
    const uint32_t end = s0 + 8 <= max_symbol + 1 ? s0 + 8 : max_symbol + 1;
    for (uint32_t s = s0; s < end; ++s) {
      if (norm[s] == 0) continue;
      if (norm[s] < -1) return false;
      cells += norm[s] == -1 ? 1 : norm[s];
      present->symbols[n++] = static_cast<uint8_t>(s);
    }
  }
  present->count = n;
  return cells == (int64_t{1} << table_log);
}

// The spread of the symbols over the table, shared by both tables: each symbol
// with a positive count at a stride coprime to the size, skipping the top cells
// that the low-probability symbols took. False when the walk does not close.
bool SpreadSymbols(uint8_t* cell_symbols, const int16_t* norm, const PresentSymbols& present,
                   uint32_t table_log, int32_t high) {
  const uint32_t size = 1u << table_log;
  const uint32_t mask = size - 1;
  const uint32_t step = (size >> 1) + (size >> 3) + 3;
  if (high == static_cast<int32_t>(mask)) {
    // No low-probability symbol, so no cell is skipped: the k-th symbol in
    // count order lands at k x step. Laid out in order first, 8 bytes a store
    // (the counts fill the table exactly, checked by the caller), then placed
    // two at a time without the walk's per-symbol loop.
    uint8_t in_order[(1 << kFseMaxTableLog) + 8];
    uint32_t at = 0;
    for (uint32_t k = 0; k < present.count; ++k) {
      const uint32_t s = present.symbols[k];
      const uint64_t eight = uint64_t{s} * 0x0101010101010101ull;
      for (int32_t i = 0; i < norm[s]; i += 8) std::memcpy(in_order + at + i, &eight, 8);
      at += norm[s] > 0 ? static_cast<uint32_t>(norm[s]) : 0;
    }
    uint32_t position = 0;
    for (uint32_t k = 0; k < size; k += 2) {
      cell_symbols[position] = in_order[k];
      cell_symbols[(position + step) & mask] = in_order[k + 1];
      position = (position + 2 * step) & mask;
    }
    return true;
  }
  uint32_t position = 0;
  for (uint32_t k = 0; k < present.count; ++k) {
    const uint32_t s = present.symbols[k];
    for (int32_t i = 0; i < norm[s]; ++i) {
      cell_symbols[position] = static_cast<uint8_t>(s);
      do position = (position + step) & mask;
      while (static_cast<int32_t>(position) > high);
    }
  }
  return position == 0;
}

// The secondary normalization, for counts that the proportional rounding
// would starve: the smallest symbols get one cell (or a low-probability one)
// and the rest share what is left in proportion.
size_t NormalizeSecondary(int16_t* norm, uint32_t table_log, const uint32_t* count, uint64_t total,
                          uint32_t max_symbol) {
  constexpr int16_t kNotYetSet = -2;
  uint32_t distributed = 0;
  const uint32_t low_threshold = static_cast<uint32_t>(total >> table_log);
  uint32_t low_one = static_cast<uint32_t>((total * 3) >> (table_log + 1));
  for (uint32_t s = 0; s <= max_symbol; ++s) {
    if (count[s] == 0) {
      norm[s] = 0;
    } else if (count[s] <= low_threshold) {
      norm[s] = -1;
      ++distributed;
      total -= count[s];
    } else if (count[s] <= low_one) {
      norm[s] = 1;
      ++distributed;
      total -= count[s];
    } else {
      norm[s] = kNotYetSet;
    }
  }
  uint32_t to_distribute = (1u << table_log) - distributed;
  if (to_distribute > 0 && total / to_distribute > low_one) {
    // Risk of rounding to zero: one cell for more of the small ones.
    low_one = static_cast<uint32_t>((total * 3) / (to_distribute * 2));
    for (uint32_t s = 0; s <= max_symbol; ++s) {
      if (norm[s] == kNotYetSet && count[s] <= low_one) {
        norm[s] = 1;
        ++distributed;
        total -= count[s];
      }
    }
    to_distribute = (1u << table_log) - distributed;
  }
  if (distributed == max_symbol + 1) {
    // Every symbol is poor: the rest goes to the first largest one.
    uint32_t largest = 0, largest_count = 0;
    for (uint32_t s = 0; s <= max_symbol; ++s)
      if (count[s] > largest_count) largest = s, largest_count = count[s];
    norm[largest] = static_cast<int16_t>(norm[largest] + to_distribute);
    return 0;
  }
  if (total == 0) return FseError(FSE_ERROR_GENERIC);
  const uint64_t step_log = 62 - table_log;
  const uint64_t mid = (uint64_t{1} << (step_log - 1)) - 1;
  const uint64_t r_step = ((uint64_t{to_distribute} << step_log) + mid) / total;
  uint64_t accumulated = mid;
  for (uint32_t s = 0; s <= max_symbol; ++s) {
    if (norm[s] != kNotYetSet) continue;
    const uint64_t end = accumulated + count[s] * r_step;
    const uint32_t weight =
        static_cast<uint32_t>(end >> step_log) - static_cast<uint32_t>(accumulated >> step_log);
    if (weight < 1) return FseError(FSE_ERROR_GENERIC);
    norm[s] = static_cast<int16_t>(weight);
    accumulated = end;
  }
  return 0;
}

// The header's bits, LSB first; bits past the input read as zeros, so no byte
// beyond it is fetched.
class HeaderReader {
 public:
  HeaderReader(const uint8_t* src, size_t size) : src_(src), size_(size) {}

  uint32_t Peek(uint32_t n) const {
    const uint64_t byte = position_ >> 3;
    uint32_t window = 0;
    if (byte + 4 <= size_) {
      std::memcpy(&window, src_ + byte, 4);  // little-endian, as the bits
    } else {
      for (uint32_t k = 0; k < 4; ++k)
        if (byte + k < size_) window |= static_cast<uint32_t>(src_[byte + k]) << (8 * k);
    }
    return (window >> (position_ & 7)) & ((1u << n) - 1);
  }
  void Skip(uint32_t n) { position_ += n; }
  uint64_t BytesUsed() const { return (position_ + 7) >> 3; }

 private:
  const uint8_t* src_;
  size_t size_;
  uint64_t position_ = 0;
};

}  // namespace

// Below this many bytes one count table is faster than four.
constexpr size_t kFseSmallCount = 1024;

size_t FSE_count(uint32_t* count, uint32_t* maxSymbolValue, const void* src, size_t srcSize,
                 bool guarded) {
  if (*maxSymbolValue > kFseMaxSymbolValue) return FseError(FSE_ERROR_GENERIC);
  const uint32_t allowed = *maxSymbolValue == 0 ? kFseMaxSymbolValue : *maxSymbolValue;
  const auto* bytes = static_cast<const uint8_t*>(src);
  if (srcSize < kFseSmallCount) {
    // Most of a block's streams are short: clearing and merging four tables
    // would cost more than the counting.
    std::memset(count, 0, 256 * sizeof *count);
    for (size_t i = 0; i < srcSize; ++i) ++count[bytes[i]];
  } else {
    // Four partial tables, one per byte of a 4-byte word, so that neighbouring
    // equal bytes do not wait on one counter.
    uint32_t partial[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= srcSize; i += 4) {
      uint32_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      ++partial[0][word & 0xFF];
      ++partial[1][(word >> 8) & 0xFF];
      ++partial[2][(word >> 16) & 0xFF];
      ++partial[3][word >> 24];
    }
    for (; i < srcSize; ++i) ++partial[0][bytes[i]];
    for (uint32_t s = 0; s < 256; ++s)
      count[s] = partial[0][s] + partial[1][s] + partial[2][s] + partial[3][s];
  }
  if (guarded)
    for (uint32_t s = allowed + 1; s < 256; ++s)
      if (count[s]) return FseError(FSE_ERROR_GENERIC);
  uint32_t largest_symbol = 255;
  while (largest_symbol > 0 && count[largest_symbol] == 0) --largest_symbol;
  *maxSymbolValue = largest_symbol;
  uint32_t largest = 0;
  for (uint32_t s = 0; s <= largest_symbol; ++s)
    if (count[s] > largest) largest = count[s];
  return largest;
}

size_t FSE_normalizeCount(int16_t* normalizedCounter, uint32_t tableLog, const uint32_t* count,
                          size_t total, uint32_t maxSymbolValue) {
  if (tableLog == 0) tableLog = kFseDefaultTableLog;
  if (tableLog < kFseMinTableLog || tableLog > kFseMaxTableLog || total == 0 ||
      maxSymbolValue > kFseMaxSymbolValue)
    return FseError(FSE_ERROR_GENERIC);
  if (tableLog < MinTableLog(total, maxSymbolValue)) return FseError(FSE_ERROR_GENERIC);

  // Counts at or below these fractions of a cell round up: the cell's cost in
  // bits falls faster than the rounding loss grows.
  static constexpr uint32_t kRestToBeat[8] = {0,      473195, 504333, 520860,
                                              550000, 700000, 750000, 830000};
  const uint32_t scale = 62 - tableLog;
  const uint64_t step = (uint64_t{1} << 62) / total;
  const uint64_t v_step = uint64_t{1} << (scale - 20);
  int32_t still = 1 << tableLog;
  const uint32_t low_threshold = static_cast<uint32_t>(total >> tableLog);
  uint32_t largest = 0;
  int16_t largest_probability = 0;
  for (uint32_t s = 0; s <= maxSymbolValue; ++s) {
    if (count[s] == total) return 0;  // one symbol only: a run, not a table
    if (count[s] == 0) {
      normalizedCounter[s] = 0;
      continue;
    }
    if (count[s] <= low_threshold) {
      normalizedCounter[s] = -1;
      --still;
      continue;
    }
    const uint64_t scaled = count[s] * step;
    int16_t probability = static_cast<int16_t>(scaled >> scale);
    if (probability < 8) {
      const uint64_t rest_to_beat = v_step * kRestToBeat[probability];
      probability += (scaled - (static_cast<uint64_t>(probability) << scale)) > rest_to_beat;
    }
    if (probability > largest_probability) {
      largest_probability = probability;
      largest = s;
    }
    normalizedCounter[s] = probability;
    still -= probability;
  }
  if (-still >= (normalizedCounter[largest] >> 1)) {
    const size_t error =
        NormalizeSecondary(normalizedCounter, tableLog, count, total, maxSymbolValue);
    if (FSE_isError(error)) return error;
  } else {
    normalizedCounter[largest] = static_cast<int16_t>(normalizedCounter[largest] + still);
  }
  return tableLog;
}

size_t FSE_writeNCount(void* dst, size_t dstCapacity, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog) {
  if (tableLog > kFseMaxTableLog) return FseError(FSE_ERROR_tableLog_tooLarge);
  if (tableLog < kFseMinTableLog || maxSymbolValue > kFseMaxSymbolValue)
    return FseError(FSE_ERROR_GENERIC);
  auto* const begin = static_cast<uint8_t*>(dst);
  uint8_t* out = begin;
  uint8_t* const end = begin + dstCapacity;
  // Pending bits, sent 16 at a time once more than 16 wait.
  uint32_t bits = tableLog - kFseMinTableLog;
  uint32_t bit_count = 4;
  auto Send16 = [&]() {
    if (end - out < 2) return false;
    out[0] = static_cast<uint8_t>(bits);
    out[1] = static_cast<uint8_t>(bits >> 8);
    out += 2;
    bits >>= 16;
    bit_count -= 16;
    return true;
  };

  int32_t remaining = (1 << tableLog) + 1;
  int32_t threshold = 1 << tableLog;
  uint32_t nb_bits = tableLog + 1;
  uint32_t symbol = 0;
  bool previous_zero = false;
  while (remaining > 1) {
    if (previous_zero) {
      // The zeros that follow a zero count, as one run: 16 one-bits per 24,
      // the 2-bit value 3 per 3, then the rest in 2 bits.
      uint32_t start = symbol;
      while (symbol <= maxSymbolValue && normalizedCounter[symbol] == 0) ++symbol;
      if (symbol > maxSymbolValue) return FseError(FSE_ERROR_GENERIC);
      while (symbol >= start + 24) {
        start += 24;
        bits |= 0xFFFFu << bit_count;
        bit_count += 16;
        if (!Send16()) return FseError(FSE_ERROR_dstSize_tooSmall);
      }
      while (symbol >= start + 3) {
        start += 3;
        bits |= 3u << bit_count;
        bit_count += 2;
      }
      bits |= (symbol - start) << bit_count;
      bit_count += 2;
      if (bit_count > 16 && !Send16()) return FseError(FSE_ERROR_dstSize_tooSmall);
    }
    if (symbol > maxSymbolValue) return FseError(FSE_ERROR_GENERIC);
    const int32_t count = normalizedCounter[symbol++];
    if (count < -1) return FseError(FSE_ERROR_GENERIC);
    const int32_t max = (2 * threshold - 1) - remaining;
    remaining -= count < 0 ? -count : count;
    if (remaining < 1) return FseError(FSE_ERROR_GENERIC);
    // v = count + 1: below max in nb_bits - 1 bits, else in nb_bits bits with
    // the values from threshold on moved up by max.
    int32_t value = count + 1;
    if (value >= threshold) value += max;
    bits |= static_cast<uint32_t>(value) << bit_count;
    bit_count += nb_bits - (value < max ? 1 : 0);
    previous_zero = value == 1;
    while (remaining < threshold) {
      --nb_bits;
      threshold >>= 1;
    }
    if (bit_count > 16 && !Send16()) return FseError(FSE_ERROR_dstSize_tooSmall);
  }
  // The last bits go out as 2 bytes; only those holding bits count, so the
  // block that follows overwrites the other.
  if (end - out < 2) return FseError(FSE_ERROR_dstSize_tooSmall);
  out[0] = static_cast<uint8_t>(bits);
  out[1] = static_cast<uint8_t>(bits >> 8);
  out += (bit_count + 7) / 8;
  if (symbol > maxSymbolValue + 1) return FseError(FSE_ERROR_GENERIC);
  return static_cast<size_t>(out - begin);
}

size_t FSE_buildCTable(FseCTable* table, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog) {
  if (tableLog > kFseMaxTableLog) return FseError(FSE_ERROR_tableLog_tooLarge);
  if (maxSymbolValue > kFseMaxSymbolValue) return FseError(FSE_ERROR_maxSymbolValue_tooLarge);
  PresentSymbols present;
  if (tableLog < kFseMinTableLog ||
      !CollectSymbols(&present, normalizedCounter, maxSymbolValue, tableLog))
    return FseError(FSE_ERROR_GENERIC);
  const uint32_t size = 1u << tableLog;
  uint8_t cell_symbols[1 << kFseMaxTableLog];
  uint32_t start[kFseMaxSymbolValue + 1];
  int32_t high = static_cast<int32_t>(size) - 1;
  // Where each symbol's next states begin; low-probability symbols take the
  // top cells. Absent symbols have no states and a zero transform.
  std::memset(table->transforms, 0, sizeof table->transforms);
  int32_t total = 0;
  for (uint32_t k = 0; k < present.count; ++k) {
    const uint32_t s = present.symbols[k];
    const int32_t count = normalizedCounter[s];
    FseSymbolTransform& transform = table->transforms[s];
    start[s] = static_cast<uint32_t>(total);
    if (count == -1 || count == 1) {
      if (count == -1) cell_symbols[high--] = static_cast<uint8_t>(s);
      transform.bit_count_delta = tableLog << 16;
      transform.next_state_offset = total - 1;
      total += 1;
    } else {
      const uint32_t max_bits = tableLog - HighBit(static_cast<uint32_t>(count - 1));
      const uint32_t min_state_plus = static_cast<uint32_t>(count) << max_bits;
      transform.bit_count_delta = (max_bits << 16) - min_state_plus;
      transform.next_state_offset = total - count;
      total += count;
    }
  }
  if (!SpreadSymbols(cell_symbols, normalizedCounter, present, tableLog, high))
    return FseError(FSE_ERROR_GENERIC);
  table->table_log = static_cast<uint16_t>(tableLog);
  table->max_symbol = static_cast<uint16_t>(maxSymbolValue);
  for (uint32_t i = 0; i < size; ++i)
    table->next_state[start[cell_symbols[i]]++] = static_cast<uint16_t>(size + i);
  return 0;
}

size_t FSE_compress_usingCTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                const FseCTable* table) {
  return Kernels<FseBlockKernels>().EncodeBlock(dst, dstCapacity, src, srcSize, table);
}

namespace {

// FSE_compress up to its bit stream: either its result already (`encode`
// false) or the header written and the table for the bit stream after it.
struct PreparedBlock {
  bool encode = false;
  size_t result = 0;
  size_t header = 0;
  uint32_t n = 0;
  FseCTable table;
};

void PrepareBlock(PreparedBlock* prepared, void* dst, size_t dstCapacity, const void* src,
                  size_t srcSize) {
  const uint32_t n = static_cast<uint32_t>(srcSize);
  prepared->n = n;
  if (n <= 1) return;
  uint32_t count[256];
  uint32_t max_symbol = kFseMaxSymbolValue;
  const size_t largest = FSE_count(count, &max_symbol, src, n, false);
  if (FSE_isError(largest)) {
    prepared->result = largest;
    return;
  }
  if (largest == n) {
    prepared->result = 1;
    return;
  }
  if (largest == 1) return;
  if (largest < (n >> 7)) return;  // too flat to gain

  uint32_t table_log = kFseDefaultTableLog;
  const uint32_t size_cap = HighBit(n - 1) - 2;  // wraps for n <= 4: no cap
  if (size_cap < table_log) table_log = size_cap;
  const uint32_t min_bits = MinTableLog(n, max_symbol);
  if (min_bits > table_log) table_log = min_bits;
  if (table_log < kFseMinTableLog) table_log = kFseMinTableLog;
  if (table_log > kFseMaxTableLog) table_log = kFseMaxTableLog;

  int16_t norm[kFseMaxSymbolValue + 1];
  const size_t normalized = FSE_normalizeCount(norm, table_log, count, n, max_symbol);
  if (FSE_isError(normalized)) {
    prepared->result = normalized;
    return;
  }
  const size_t header = FSE_writeNCount(dst, dstCapacity, norm, max_symbol, table_log);
  if (FSE_isError(header)) {
    prepared->result = header;
    return;
  }
  const size_t built = FSE_buildCTable(&prepared->table, norm, max_symbol, table_log);
  if (FSE_isError(built)) {
    prepared->result = built;
    return;
  }
  prepared->encode = true;
  prepared->header = header;
}

// The result from the bit stream's length (0: it did not fit).
size_t FinishBlock(const PreparedBlock& prepared, size_t block) {
  if (block == 0) return 0;
  const size_t total = prepared.header + block;
  if (total >= prepared.n - 1) return 0;
  return total;
}

FseBlockJob JobOf(const PreparedBlock& prepared, const FseCompressRequest& request) {
  return {static_cast<uint8_t*>(request.dst) + prepared.header,
          request.dstCapacity - prepared.header, request.src, prepared.n, &prepared.table, 0};
}

size_t EncodePrepared(const PreparedBlock& prepared, const FseCompressRequest& request) {
  if (!prepared.encode) return prepared.result;
  const size_t block = FSE_compress_usingCTable(
      static_cast<uint8_t*>(request.dst) + prepared.header, request.dstCapacity - prepared.header,
      request.src, prepared.n, &prepared.table);
  return FinishBlock(prepared, block);
}

}  // namespace

size_t FSE_compress(void* dst, size_t dstCapacity, const void* src, size_t srcSize) {
  PreparedBlock prepared;
  PrepareBlock(&prepared, dst, dstCapacity, src, srcSize);
  return EncodePrepared(prepared, {dst, dstCapacity, src, srcSize, 0});
}

void FSE_compressPair(FseCompressRequest* a, FseCompressRequest* b) {
  PreparedBlock first, second;
  PrepareBlock(&first, a->dst, a->dstCapacity, a->src, a->srcSize);
  PrepareBlock(&second, b->dst, b->dstCapacity, b->src, b->srcSize);
  if (first.encode && second.encode) {
    FseBlockJob x = JobOf(first, *a), y = JobOf(second, *b);
    Kernels<FseBlockKernels>().EncodeBlockPair(&x, &y);
    a->result = FinishBlock(first, x.result);
    b->result = FinishBlock(second, y.result);
    return;
  }
  a->result = EncodePrepared(first, *a);
  b->result = EncodePrepared(second, *b);
}

size_t FSE_readNCount(int16_t* normalizedCounter, uint32_t* maxSymbolValue, uint32_t* tableLog,
                      const void* src, size_t srcSize) {
  if (srcSize < 4) return FseError(FSE_ERROR_srcSize_wrong);
  HeaderReader reader(static_cast<const uint8_t*>(src), srcSize);
  const uint32_t table_log = reader.Peek(4) + kFseMinTableLog;
  reader.Skip(4);
  if (table_log > kFseMaxHeaderTableLog) return FseError(FSE_ERROR_tableLog_tooLarge);
  *tableLog = table_log;
  const uint32_t max_allowed = *maxSymbolValue;
  int32_t remaining = (1 << table_log) + 1;
  int32_t threshold = 1 << table_log;
  uint32_t nb_bits = table_log + 1;
  uint32_t symbol = 0;
  bool previous_zero = false;
  while (remaining > 1 && symbol <= max_allowed) {
    if (previous_zero) {
      uint32_t zeros_end = symbol;
      while (reader.Peek(16) == 0xFFFF) {
        zeros_end += 24;
        reader.Skip(16);
        if (zeros_end > max_allowed) return FseError(FSE_ERROR_maxSymbolValue_tooSmall);
      }
      while (reader.Peek(2) == 3) {
        zeros_end += 3;
        reader.Skip(2);
      }
      zeros_end += reader.Peek(2);
      reader.Skip(2);
      if (zeros_end > max_allowed) return FseError(FSE_ERROR_maxSymbolValue_tooSmall);
      while (symbol < zeros_end) normalizedCounter[symbol++] = 0;
    }
    const int32_t max = (2 * threshold - 1) - remaining;
    int32_t value = static_cast<int32_t>(reader.Peek(nb_bits - 1));
    if (value < max) {
      reader.Skip(nb_bits - 1);
    } else {
      value = static_cast<int32_t>(reader.Peek(nb_bits));
      if (value >= threshold) value -= max;
      reader.Skip(nb_bits);
    }
    const int32_t count = value - 1;
    remaining -= count < 0 ? -count : count;
    if (remaining < 1) return FseError(FSE_ERROR_GENERIC);
    normalizedCounter[symbol++] = static_cast<int16_t>(count);
    previous_zero = count == 0;
    while (remaining < threshold) {
      --nb_bits;
      threshold >>= 1;
    }
  }
  if (remaining != 1) return FseError(FSE_ERROR_GENERIC);
  *maxSymbolValue = symbol - 1;
  const uint64_t length = reader.BytesUsed();
  if (length > srcSize) return FseError(FSE_ERROR_srcSize_wrong);
  return static_cast<size_t>(length);
}

size_t FSE_buildDTable(FseDTable* table, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog) {
  if (maxSymbolValue > kFseMaxSymbolValue) return FseError(FSE_ERROR_maxSymbolValue_tooLarge);
  if (tableLog > kFseMaxTableLog) return FseError(FSE_ERROR_tableLog_tooLarge);
  PresentSymbols present;
  if (tableLog < kFseMinTableLog ||
      !CollectSymbols(&present, normalizedCounter, maxSymbolValue, tableLog))
    return FseError(FSE_ERROR_GENERIC);
  const uint32_t size = 1u << tableLog;
  const int32_t large_limit = 1 << (tableLog - 1);
  uint8_t cell_symbols[1 << kFseMaxTableLog];
  uint32_t next[kFseMaxSymbolValue + 1];
  int32_t high = static_cast<int32_t>(size) - 1;
  bool fast = true;
  for (uint32_t k = 0; k < present.count; ++k) {
    const uint32_t s = present.symbols[k];
    if (normalizedCounter[s] == -1) {
      cell_symbols[high--] = static_cast<uint8_t>(s);
      next[s] = 1;
    } else {
      if (normalizedCounter[s] >= large_limit) fast = false;
      next[s] = static_cast<uint32_t>(normalizedCounter[s]);
    }
  }
  if (!SpreadSymbols(cell_symbols, normalizedCounter, present, tableLog, high))
    return FseError(FSE_ERROR_GENERIC);
  for (uint32_t u = 0; u < size; ++u) {
    const uint8_t symbol = cell_symbols[u];
    const uint32_t x = next[symbol]++;
    const uint32_t bits = tableLog - HighBit(x);
    table->cells[u] = {static_cast<uint16_t>((x << bits) - size), symbol,
                       static_cast<uint8_t>(bits)};
  }
  table->table_log = static_cast<uint16_t>(tableLog);
  table->fast_mode = fast;
  return 0;
}

size_t FSE_decompress_usingDTable(void* dst, size_t dstCapacity, const void* src,
                                  size_t srcSize, const FseDTable* table) {
  return Kernels<FseBlockKernels>().DecodeBlock(dst, dstCapacity, src, srcSize, table);
}

size_t FSE_decompress(void* dst, size_t dstCapacity, const void* src, size_t srcSize) {
  if (srcSize < 2) return FseError(FSE_ERROR_srcSize_wrong);
  int16_t norm[kFseMaxSymbolValue + 1];
  uint32_t max_symbol = kFseMaxSymbolValue;
  uint32_t table_log = 0;
  const size_t header = FSE_readNCount(norm, &max_symbol, &table_log, src, srcSize);
  if (FSE_isError(header)) return header;
  if (header >= srcSize) return FseError(FSE_ERROR_srcSize_wrong);
  FseDTable table;
  const size_t built = FSE_buildDTable(&table, norm, max_symbol, table_log);
  if (FSE_isError(built)) return built;
  return FSE_decompress_usingDTable(dst, dstCapacity, static_cast<const uint8_t*>(src) + header,
                                    srcSize - header, &table);
}
