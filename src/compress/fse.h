#pragma once
#include <cstddef>
#include <cstdint>

// FSE block entropy coder (finite-state entropy: a table-driven asymmetric
// numeral system coder over byte symbols). A block is a header of normalized
// symbol counts followed by a bit stream written forwards and read backwards,
// driven by two interleaved states. Integer arithmetic only, no state between
// calls: any number of threads may code at once.
//
// Results are sizes; an error is returned as the two's complement of its code
// (test with FSE_isError; as a signed 32-bit number it is negative too).

enum FseErrorCode : uint32_t {
  FSE_OK_NoError = 0,
  FSE_ERROR_GENERIC = 1,                   // inconsistent counts or tables, missing end mark
  FSE_ERROR_tableLog_tooLarge = 2,         // above 15 in a header, above 12 for a table
  FSE_ERROR_maxSymbolValue_tooLarge = 3,   // a decoding table past symbol 255
  FSE_ERROR_maxSymbolValue_tooSmall = 4,   // a header's zero run past the largest symbol
  FSE_ERROR_dstSize_tooSmall = 5,          // output full before the input is used up
  FSE_ERROR_srcSize_wrong = 6,             // input too short
  FSE_ERROR_corruptionDetected = 7,        // the bit stream does not end cleanly
  FSE_ERROR_maxCode = 8,                   // bound of the list, never returned
};

constexpr int32_t kFseMinTableLog = 5;
constexpr int32_t kFseMaxTableLog = 12;
constexpr int32_t kFseDefaultTableLog = 11;
constexpr int32_t kFseMaxHeaderTableLog = 15;
constexpr uint32_t kFseMaxSymbolValue = 255;

constexpr size_t FseError(FseErrorCode code) { return static_cast<size_t>(0) - code; }
constexpr bool FSE_isError(size_t result) { return result > FseError(FSE_ERROR_maxCode); }
// The code of an error result.
constexpr FseErrorCode FSE_getErrorCode(size_t result) {
  return FSE_isError(result) ? static_cast<FseErrorCode>(0 - result) : FSE_OK_NoError;
}

// size + size / 128 + 512: room for any block of size input bytes.
constexpr size_t FSE_compressBound(size_t size) { return size + (size >> 7) + 512; }

// The encoding table: a next-state table grouped by symbol, and per symbol the
// transform that finds the bits to emit and the next state.
struct FseSymbolTransform {
  int32_t next_state_offset;
  uint32_t bit_count_delta;
};
struct FseCTable {
  uint16_t table_log;
  uint16_t max_symbol;
  uint16_t next_state[1 << kFseMaxTableLog];
  FseSymbolTransform transforms[kFseMaxSymbolValue + 1];
};

// The decoding table: one cell per state.
struct FseDCell {
  uint16_t next_state_base;
  uint8_t symbol;
  uint8_t bit_count;
};
struct FseDTable {
  uint16_t table_log;
  uint16_t fast_mode;  // no count reaches half the table: every cell reads a bit
  FseDCell cells[1 << kFseMaxTableLog];
};

// 0: not compressible (store the block raw); 1: every byte equal (store one
// byte); else the block length, above 1 and below srcSize - 1; or an error.
// Only the low 32 bits of srcSize count.
size_t FSE_compress(void* dst, size_t dstCapacity, const void* src, size_t srcSize);

// Two blocks at once, their bit streams coded side by side: each result and
// each output as FSE_compress gives them.
struct FseCompressRequest {
  void* dst;
  size_t dstCapacity;
  const void* src;
  size_t srcSize;
  size_t result;
};
void FSE_compressPair(FseCompressRequest* a, FseCompressRequest* b);

// The bytes decoded (at most dstCapacity), or an error.
size_t FSE_decompress(void* dst, size_t dstCapacity, const void* src, size_t srcSize);

// The steps, each usable on its own.
//
// Histogram of src into count[256]; *maxSymbolValue in: the largest value
// allowed (0 stands for 255), out: the largest present. The guarded form
// refuses a byte above the allowed value. Returns the largest count.
size_t FSE_count(uint32_t* count, uint32_t* maxSymbolValue, const void* src, size_t srcSize,
                 bool guarded);
// Scales the counts (total `total`) to 2^tableLog cells; returns the table log.
size_t FSE_normalizeCount(int16_t* normalizedCounter, uint32_t tableLog, const uint32_t* count,
                          size_t total, uint32_t maxSymbolValue);
// The header; returns its length.
size_t FSE_writeNCount(void* dst, size_t dstCapacity, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog);
size_t FSE_buildCTable(FseCTable* table, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog);
// The bit stream of src; 0 when it does not fit the capacity.
size_t FSE_compress_usingCTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                const FseCTable* table);
// Reads a header; returns its length and sets the counts of symbols 0 ..
// *maxSymbolValue (in: the largest allowed, out: the last one read).
size_t FSE_readNCount(int16_t* normalizedCounter, uint32_t* maxSymbolValue, uint32_t* tableLog,
                      const void* src, size_t srcSize);
size_t FSE_buildDTable(FseDTable* table, const int16_t* normalizedCounter,
                       uint32_t maxSymbolValue, uint32_t tableLog);
size_t FSE_decompress_usingDTable(void* dst, size_t dstCapacity, const void* src,
                                  size_t srcSize, const FseDTable* table);
