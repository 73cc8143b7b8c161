#pragma once
#include <cstdint>
#include <vector>

#include "compress/coder.h"

// Coder id 0: an adaptive binary range coder (carry-propagating, 11-bit
// probabilities adapting by 1/16) over channel 0. Per array it models the flag,
// whether each group of 16 values is all zero (by the last 12 group bits),
// which values are nonzero (by the last 16 such bits) and the nonzero values:
// values up to 1023 through a binary tree fitted to a count table that travels
// in the header, larger ones as an escape symbol and bit trees of 17 and 16
// bits. Probabilities persist from array to array. The engine reads such
// streams; the encoder writes exactly what the decoder reads.
//
// Channel 0: coder id 0, "Cmpr", 256 little-endian u64 counts (entry s < 255:
// times symbol s was coded; 255: every larger symbol), then the coded bytes of
// every array and the final flush.

constexpr int32_t kRangeTreeSymbols = 1024;
constexpr int32_t kRangeEscapeSymbol = 1023;
constexpr int32_t kRangeCountEntries = 256;

// A node of the value tree, in pre-order: the left child of node i is i + 1.
// A node whose range holds two symbols has split lo + 1 and right 0.
struct ValueTreeNode {
  int16_t right;
  int16_t split;
};

// Builds the 1023 nodes of the value tree over symbols 0 ... 1023 from the
// count table: each split makes the left part the smallest prefix (below 256)
// reaching half the weight, and halves the range where there is no weight.
// Throws CodedStreamError "CreateOptimalTree fail" if the nodes do not come
// out 1023 (they always do).
void CreateOptimalTree(const uint64_t* counts, ValueTreeNode* nodes);

// The model both sides keep: every probability, the value tree and the state
// that restarts with each array.
struct RangeCoderModel {
  explicit RangeCoderModel(const uint64_t* counts);

  // One allocation holds every probability, all starting at 1024 (one half).
  std::vector<uint16_t> probabilities;
  uint16_t* flag;         // 1
  uint16_t* group;        // 2 sets x 4096 group histories
  uint16_t* nonzero;      // 2 sets x 65536 nonzero histories
  uint16_t* tree;         // 2048 contexts (set x 1024 + previous symbol) x 1024 nodes
  uint16_t* low_escape;   // bit tree of 17 bits, nodes 1 ... 2^17 - 1
  uint16_t* high_escape;  // bit tree of 16 bits
  ValueTreeNode nodes[kRangeTreeSymbols];

  uint32_t group_history = 0;    // 12 bits
  uint32_t nonzero_history = 0;  // 16 bits
  uint32_t previous_symbol = 1022;

  void StartArray() {
    group_history = 0;
    nonzero_history = 0;
    previous_symbol = 1022;
  }
};

class RangeCoderEncoder final : public StreamEncoder {
 public:
  // Writes the header with the model counts (null: zeros); clears the gathered
  // counts (null: none gathered), which may be the same table.
  RangeCoderEncoder(StreamCallback callback, const uint64_t* model_counts,
                    uint64_t* gathered_counts, CoderStats* stats);
  // The final flush: five byte shifts.
  ~RangeCoderEncoder() override;
  void Encode(const uint32_t* values, int32_t count, int32_t flag) override;

 private:
  void EncodeBit(uint16_t& probability, uint32_t bit);
  void ShiftLow();
  void EncodeBitTree(uint16_t* probabilities, int32_t bits, uint32_t value);
  void EncodeValue(uint32_t set, uint32_t value);

  StreamCallback callback_;
  uint64_t* gathered_;
  CoderStats* stats_;
  RangeCoderModel model_;
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFF;
  uint8_t cache_ = 0;
  uint32_t pending_ = 1;
};

class RangeCoderDecoder final : public StreamDecoder {
 public:
  // Reads the header; throws CodedStreamError "compressor wrong id" when the
  // magic is not "Cmpr".
  explicit RangeCoderDecoder(StreamCallback callback);
  uint32_t Decode(uint32_t* out, const uint32_t* reference, int32_t count) override;
  uint32_t Decode16(uint16_t* out, const uint16_t* reference, int32_t count) override;
  bool AppliesReference() override { return true; }

 private:
  template <typename T>
  uint32_t DecodeArray(T* out, const T* reference, int32_t count);
  uint32_t DecodeBit(uint16_t& probability);
  uint32_t DecodeBitTree(uint16_t* probabilities, int32_t bits);
  uint32_t DecodeValue(uint32_t set);

  StreamCallback callback_;
  uint32_t range_ = 0xFFFFFFFF;
  uint32_t code_ = 0;
  RangeCoderModel model_;
};
