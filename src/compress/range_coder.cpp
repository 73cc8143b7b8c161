#include "compress/range_coder.h"

#include <array>
#include <cstring>

#include "compress/combo_codec.h"
#include "protocol/fail.h"

namespace {

constexpr uint32_t kProbabilityBits = 11;
constexpr uint32_t kProbabilityOne = 1u << kProbabilityBits;  // 2048
constexpr uint32_t kAdaptShift = 4;
constexpr uint32_t kTopValue = 1u << 24;
constexpr uint32_t kGroupSize = 16;
constexpr char kMagic[4] = {'C', 'm', 'p', 'r'};

constexpr size_t kGroupEntries = 2 * 4096;
constexpr size_t kNonzeroEntries = 2 * 65536;
constexpr size_t kTreeEntries = 2048 * 1024;
constexpr size_t kLowEscapeEntries = size_t{1} << 17;
constexpr size_t kHighEscapeEntries = size_t{1} << 16;

using CountTable = std::array<uint64_t, kRangeCountEntries>;

// Wrapping sums: a damaged header may hold any counts.
inline int64_t Add(int64_t a, uint64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + b); }

void BuildRange(const uint64_t* counts, ValueTreeNode* nodes, int32_t& counter, int32_t lo,
                int32_t hi, int64_t weight) {
  while (hi - lo >= 3) {
    int32_t split;
    int64_t left = 0;
    if (weight >= 1 && lo < 255) {
      // The smallest prefix reaching half the weight (rounded up), never past
      // symbol 255, whose count stands for all the larger symbols.
      const int32_t last = hi - 1 < 255 ? hi - 1 : 255;
      const int64_t half = static_cast<int64_t>((static_cast<uint64_t>(weight) + 1) >> 1);
      split = lo;
      while (split < last && left < half) left = Add(left, counts[split++]);
    } else {
      split = lo + (hi - lo) / 2;
    }
    if (counter >= kRangeTreeSymbols - 1) throw CodedStreamError("CreateOptimalTree fail");
    const int32_t node = counter++;
    BuildRange(counts, nodes, counter, lo, split, left);
    nodes[node].split = static_cast<int16_t>(split);
    nodes[node].right = static_cast<int16_t>(counter);
    lo = split;
    weight = Add(weight, 0 - static_cast<uint64_t>(left));
  }
  if (hi - lo == 2) {
    if (counter >= kRangeTreeSymbols - 1) throw CodedStreamError("CreateOptimalTree fail");
    nodes[counter++] = {0, static_cast<int16_t>(lo + 1)};
  }
}

inline void Adapt(uint16_t& probability, uint32_t bit) {
  if (bit)
    probability = static_cast<uint16_t>(probability - (probability >> kAdaptShift));
  else
    probability = static_cast<uint16_t>(probability + ((kProbabilityOne - probability) >> kAdaptShift));
}

CountTable ReadHeader(const StreamCallback& callback) {
  uint8_t magic[4];
  callback(0, magic, sizeof magic);
  if (std::memcmp(magic, kMagic, sizeof magic) != 0) throw CodedStreamError("compressor wrong id");
  uint8_t bytes[kRangeCountEntries * 8];
  callback(0, bytes, sizeof bytes);
  CountTable counts;
  for (int32_t s = 0; s < kRangeCountEntries; ++s) {
    uint64_t v = 0;
    for (int32_t k = 0; k < 8; ++k) v |= static_cast<uint64_t>(bytes[8 * s + k]) << (8 * k);
    counts[s] = v;
  }
  return counts;
}

const uint64_t* ModelCounts(const uint64_t* given) {
  static const CountTable kZeros{};
  return given ? given : kZeros.data();
}

}  // namespace

void CreateOptimalTree(const uint64_t* counts, ValueTreeNode* nodes) {
  int64_t total = 0;
  for (int32_t s = 0; s < kRangeCountEntries; ++s) total = Add(total, counts[s]);
  int32_t counter = 0;
  BuildRange(counts, nodes, counter, 0, kRangeTreeSymbols, total);
  if (counter != kRangeTreeSymbols - 1) throw CodedStreamError("CreateOptimalTree fail");
  nodes[kRangeTreeSymbols - 1] = {0, 0};  // never used
}

RangeCoderModel::RangeCoderModel(const uint64_t* counts)
    : probabilities(1 + kGroupEntries + kNonzeroEntries + kTreeEntries + kLowEscapeEntries +
                        kHighEscapeEntries,
                    static_cast<uint16_t>(kProbabilityOne / 2)) {
  flag = probabilities.data();
  group = flag + 1;
  nonzero = group + kGroupEntries;
  tree = nonzero + kNonzeroEntries;
  low_escape = tree + kTreeEntries;
  high_escape = low_escape + kLowEscapeEntries;
  CreateOptimalTree(counts, nodes);
}

RangeCoderEncoder::RangeCoderEncoder(StreamCallback callback, const uint64_t* model_counts,
                                     uint64_t* gathered_counts, CoderStats* stats)
    : callback_(callback),
      gathered_(gathered_counts),
      stats_(stats),
      model_(ModelCounts(model_counts)) {
  uint8_t magic[4];
  std::memcpy(magic, kMagic, sizeof magic);
  callback_(0, magic, sizeof magic);
  const uint64_t* counts = ModelCounts(model_counts);
  uint8_t bytes[kRangeCountEntries * 8];
  for (int32_t s = 0; s < kRangeCountEntries; ++s)
    for (int32_t k = 0; k < 8; ++k) bytes[8 * s + k] = static_cast<uint8_t>(counts[s] >> (8 * k));
  callback_(0, bytes, sizeof bytes);
  // Cleared only now: the gathered table may be the model table.
  if (gathered_) std::memset(gathered_, 0, kRangeCountEntries * sizeof(uint64_t));
}

RangeCoderEncoder::~RangeCoderEncoder() {
  for (int i = 0; i < 5; ++i) ShiftLow();
}

void RangeCoderEncoder::ShiftLow() {
  // A byte is settled once no carry can reach it: below 0xFF000000, or the
  // carry has happened. Bytes of 0xFF wait with the cached one.
  if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
    const uint8_t carry = static_cast<uint8_t>(low_ >> 32);
    uint8_t byte = static_cast<uint8_t>(cache_ + carry);
    callback_(0, &byte, 1);
    for (uint32_t i = 1; i < pending_; ++i) {
      byte = static_cast<uint8_t>(0xFF + carry);
      callback_(0, &byte, 1);
    }
    cache_ = static_cast<uint8_t>(low_ >> 24);
    pending_ = 0;
  }
  ++pending_;
  low_ = (low_ & 0x00FFFFFFu) << 8;
}

void RangeCoderEncoder::EncodeBit(uint16_t& probability, uint32_t bit) {
  const uint32_t bound = (range_ >> kProbabilityBits) * probability;
  if (bit) {
    low_ += bound;
    range_ -= bound;
  } else {
    range_ = bound;
  }
  Adapt(probability, bit);
  if (range_ < kTopValue) {
    range_ <<= 8;
    ShiftLow();
  }
}

void RangeCoderEncoder::EncodeBitTree(uint16_t* probabilities, int32_t bits, uint32_t value) {
  uint32_t node = 1;
  for (int32_t i = bits - 1; i >= 0; --i) {
    const uint32_t bit = (value >> i) & 1;
    EncodeBit(probabilities[node], bit);
    node = 2 * node + bit;
  }
}

void RangeCoderEncoder::EncodeValue(uint32_t set, uint32_t value) {
  const uint32_t symbol = value <= 1023 ? value - 1 : kRangeEscapeSymbol;
  uint16_t* probabilities = model_.tree + (set * 1024 + model_.previous_symbol) * 1024;
  uint32_t node = 0, lo = 0, hi = kRangeTreeSymbols;
  while (hi - lo > 1) {
    const ValueTreeNode& n = model_.nodes[node];
    const uint32_t split = static_cast<uint32_t>(n.split);
    const uint32_t bit = symbol >= split;
    EncodeBit(probabilities[node], bit);
    if (bit) {
      lo = split;
      node = static_cast<uint32_t>(n.right);
    } else {
      hi = split;
      node = node + 1;
    }
  }
  if (symbol == kRangeEscapeSymbol) {
    const uint32_t x = value - 1024;
    if (x < 65536) {
      EncodeBitTree(model_.low_escape, 17, x);
    } else {
      EncodeBitTree(model_.low_escape, 17, 65536 + (x & 0xFFFF));
      EncodeBitTree(model_.high_escape, 16, x >> 16);
    }
    stats_->escaped_values += 1;
  } else {
    stats_->tree_values += 1;
  }
  model_.previous_symbol = symbol;
  if (gathered_) gathered_[value - 1 < 255 ? value - 1 : 255] += 1;
  if (static_cast<int32_t>(value - 1) > stats_->max_escaped_token)
    stats_->max_escaped_token = static_cast<int32_t>(value - 1);
  stats_->value_sum += value;
}

void RangeCoderEncoder::Encode(const uint32_t* values, int32_t count, int32_t flag) {
  if (count < 0 || count > kMaxComboArray) Fail();
  model_.StartArray();
  const uint32_t set = flag != 0;
  EncodeBit(*model_.flag, set);
  uint8_t masks[(kMaxComboArray + 7) / 8 + 1];
  Kernels<ComboCodecKernels>().FindNonzeroGroups(values, count, masks);
  masks[(count + 7) / 8] = 0;  // the half group after an odd last mask
  for (int32_t g = 0; g < count; g += kGroupSize) {
    const uint32_t group_mask = masks[g / 8] | uint32_t{masks[g / 8 + 1]} << 8;
    const uint32_t any = group_mask != 0;
    EncodeBit(model_.group[set * 4096 + model_.group_history], any);
    model_.group_history = ((model_.group_history << 1) | any) & 0xFFF;
    stats_->groups += 1;
    if (!any) {
      stats_->zero_groups += 1;
      continue;
    }
    const int32_t end = count - g < static_cast<int32_t>(kGroupSize) ? count : g + kGroupSize;
    for (int32_t i = g; i < end; ++i) {
      const uint32_t nonzero = values[i] != 0;
      EncodeBit(model_.nonzero[set * 65536 + model_.nonzero_history], nonzero);
      model_.nonzero_history = ((model_.nonzero_history << 1) | nonzero) & 0xFFFF;
      if (nonzero) EncodeValue(set, values[i]);
    }
  }
  stats_->raw_bytes += 4 * static_cast<uint64_t>(count);
  stats_->arrays += 1;
  if (set) stats_->reference_arrays += 1;
}

RangeCoderDecoder::RangeCoderDecoder(StreamCallback callback)
    : callback_(callback), model_(ReadHeader(callback).data()) {
  // Five bytes into a 32-bit code: the first, always 0, leaves no trace.
  for (int i = 0; i < 5; ++i) {
    uint8_t byte;
    callback_(0, &byte, 1);
    code_ = (code_ << 8) | byte;
  }
}

uint32_t RangeCoderDecoder::DecodeBit(uint16_t& probability) {
  const uint32_t bound = (range_ >> kProbabilityBits) * probability;
  uint32_t bit;
  if (code_ < bound) {
    range_ = bound;
    bit = 0;
  } else {
    code_ -= bound;
    range_ -= bound;
    bit = 1;
  }
  Adapt(probability, bit);
  if (range_ < kTopValue) {
    range_ <<= 8;
    uint8_t byte;
    callback_(0, &byte, 1);
    code_ = (code_ << 8) | byte;
  }
  return bit;
}

uint32_t RangeCoderDecoder::DecodeBitTree(uint16_t* probabilities, int32_t bits) {
  uint32_t node = 1;
  for (int32_t i = 0; i < bits; ++i) node = 2 * node + DecodeBit(probabilities[node]);
  return node - (1u << bits);
}

uint32_t RangeCoderDecoder::DecodeValue(uint32_t set) {
  uint16_t* probabilities = model_.tree + (set * 1024 + model_.previous_symbol) * 1024;
  uint32_t node = 0, lo = 0, hi = kRangeTreeSymbols;
  while (hi - lo > 1) {
    const ValueTreeNode& n = model_.nodes[node];
    const uint32_t split = static_cast<uint32_t>(n.split);
    if (DecodeBit(probabilities[node])) {
      lo = split;
      node = static_cast<uint32_t>(n.right);
    } else {
      hi = split;
      node = node + 1;
    }
  }
  model_.previous_symbol = lo;
  if (lo < static_cast<uint32_t>(kRangeEscapeSymbol)) return lo + 1;
  const uint32_t y = DecodeBitTree(model_.low_escape, 17);
  if (y < 65536) return y + 1024;
  const uint32_t h = DecodeBitTree(model_.high_escape, 16);
  return ((y & 0xFFFF) | (h << 16)) + 1024;
}

template <typename T>
uint32_t RangeCoderDecoder::DecodeArray(T* out, const T* reference, int32_t count) {
  if (count < 0 || count > kMaxComboArray) Fail();
  model_.StartArray();
  const uint32_t flag = DecodeBit(*model_.flag);
  uint32_t coded[kMaxComboArray];
  for (int32_t g = 0; g < count; g += kGroupSize) {
    const int32_t end = count - g < static_cast<int32_t>(kGroupSize) ? count : g + kGroupSize;
    const uint32_t any = DecodeBit(model_.group[flag * 4096 + model_.group_history]);
    model_.group_history = ((model_.group_history << 1) | any) & 0xFFF;
    for (int32_t i = g; i < end; ++i) {
      uint32_t value = 0;
      if (any) {
        const uint32_t nonzero = DecodeBit(model_.nonzero[flag * 65536 + model_.nonzero_history]);
        model_.nonzero_history = ((model_.nonzero_history << 1) | nonzero) & 0xFFFF;
        if (nonzero) value = DecodeValue(flag);
      }
      coded[i] = value;
    }
  }
  RebuildComboValues(out, reference, coded, count, flag);
  return flag;
}

uint32_t RangeCoderDecoder::Decode(uint32_t* out, const uint32_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}

uint32_t RangeCoderDecoder::Decode16(uint16_t* out, const uint16_t* reference, int32_t count) {
  return DecodeArray(out, reference, count);
}
