#include "store/plain_store.h"

#include <algorithm>

#include "store/board_rows.h"
#include "store/lock_record_io.h"
#include "store/value_kernels32.h"

namespace {

// Hands covered by a mask shorter than n (not made by this engine) are locked
// as far as the mask goes; the rest are not.
int32_t MaskedHands(const NodeLockRecord& lock, int32_t n) {
  return lock.mask ? Covered(lock.mask_length, n) : 0;
}

const double* Offset(const double* p, int32_t k) { return p ? p + k : nullptr; }

void UpdateRow(float* row, const double* node, const double* action, int32_t n,
               const NodeLockRecord& lock) {
  const int32_t masked = MaskedHands(lock, n);
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  if (masked > 0) kernels.UpdateRegrets32(row, node, action, masked, lock.mask);
  if (n > masked)
    kernels.UpdateRegrets32(row + masked, Offset(node, masked), Offset(action, masked), n - masked,
                            nullptr);
}

void AccumulateRow(float* sums, const double* strategy, const double* reach, double weight,
                   int32_t n, const NodeLockRecord& lock) {
  const int32_t masked = MaskedHands(lock, n);
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  if (masked > 0) kernels.AccumulateStrategy32(sums, strategy, reach, weight, masked, lock.mask);
  if (n > masked)
    kernels.AccumulateStrategy32(sums + masked, Offset(strategy, masked), Offset(reach, masked),
                                 weight, n - masked, nullptr);
}

}  // namespace

PlainStore::PlainStore(int32_t actions, int32_t width)
    : actions_(std::max(actions, 0)), width_(std::max(width, 0)) {
  values_.resize(static_cast<size_t>(actions_));
}

int32_t PlainStore::RowLength(int32_t action) const {
  const FloatArray& row = values_[static_cast<size_t>(action)];
  return row.data && row.count == width_ ? width_ : 0;
}

bool PlainStore::Allocate() {
  for (FloatArray& row : values_) {
    row.Resize(width_);
    std::fill(row.data, row.data + width_, 0.0f);
  }
  return true;
}

uint64_t PlainStore::AllocationBytes() {
  // A row holds at least one float, as its allocation does (num_array.cpp).
  const uint64_t row_bytes = static_cast<uint64_t>(std::max(width_, 1)) * sizeof(float);
  uint64_t bytes = 0;
  for (const FloatArray& row : values_)
    if (!row.data || row.count != width_) bytes += row_bytes;
  return bytes;
}

std::vector<NumArray> PlainStore::GetStrategy(int32_t i, int32_t j, const float* defaults) {
  std::vector<NumArray> result = MakeNumArrays(actions_);
  if (actions_ == 0) return result;
  float fallback[3] = {0.0f, 0.0f, 0.0f};
  if (defaults) std::copy(defaults, defaults + std::min(actions_, 3), fallback);
  auto default_of = [&](int32_t a) { return defaults ? defaults[a] : 0.0f; };

  bool all_rows = true;
  for (int32_t a = 0; a < actions_; ++a) {
    result[static_cast<size_t>(a)].Resize(RowLength(a));
    all_rows = all_rows && RowLength(a) == width_;
  }
  const ValueKernels32& kernels = Kernels<ValueKernels32>();
  if (all_rows && actions_ == 2) {
    kernels.NormalizeValues32x2(values_[0].data, values_[1].data, result[0].data, result[1].data,
                                width_, fallback);
    return result;
  }
  if (all_rows && actions_ == 3) {
    kernels.NormalizeValues32x3(values_[0].data, values_[1].data, values_[2].data, result[0].data,
                                result[1].data, result[2].data, width_, fallback);
    return result;
  }
  // General form: the sum of every row, then each row over it. A row without
  // values (never allocated) adds nothing and gets an empty result.
  alignas(32) float sums[kStrategyChunk];
  for (int32_t start = 0; start < width_; start += kStrategyChunk) {
    const int32_t n = std::min(kStrategyChunk, width_ - start);
    std::fill(sums, sums + n, 0.0f);
    for (int32_t a = 0; a < actions_; ++a)
      if (RowLength(a) == width_)
        kernels.SumValues32(sums, values_[static_cast<size_t>(a)].data + start, n);
    for (int32_t a = 0; a < actions_; ++a)
      if (RowLength(a) == width_)
        kernels.NormalizeValues32(result[static_cast<size_t>(a)].data + start,
                                  values_[static_cast<size_t>(a)].data + start, sums, n,
                                  default_of(a));
  }
  return result;
}

void PlainStore::SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) {
  if (action < 0 || action >= actions_) return;
  FloatArray& row = values_[static_cast<size_t>(action)];
  if (RowLength(action) != width_) {
    row.Resize(width_);
    std::fill(row.data, row.data + width_, 0.0f);
  }
  Kernels<ValueKernels32>().SetActionValues32(row.data, values.data, Covered(values.count, width_));
}

void PlainStore::UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                               const std::vector<NumArray>& action_values,
                               CompressedBlock* handle, const std::vector<int16_t>* hand_groups,
                               double payoff_scale) {
  const int32_t hands = Covered(node_values.count, width_);
  const int32_t actions = std::min(actions_, static_cast<int32_t>(action_values.size()));
  for (int32_t a = 0; a < actions; ++a) {
    if (RowLength(a) != width_) continue;
    const NumArray& action = action_values[static_cast<size_t>(a)];
    // Absent action values stand for zeros of every hand, whatever their count
    // says (as in the arena stores): d = -node value.
    UpdateRow(values_[static_cast<size_t>(a)].data, node_values.data, action.data,
              action.data ? Covered(action.count, hands) : hands, lock_);
  }
}

void PlainStore::AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                                    const NumArray& reach, double weight) {
  if (!(weight > 0.0) || !reach.data) return;
  const int32_t hands = Covered(reach.count, width_);
  const int32_t actions = std::min(actions_, static_cast<int32_t>(strategy.size()));
  for (int32_t a = 0; a < actions; ++a) {
    if (RowLength(a) != width_) continue;
    const NumArray& s = strategy[static_cast<size_t>(a)];
    AccumulateRow(values_[static_cast<size_t>(a)].data, s.data, reach.data, weight,
                  Covered(s.count, hands), lock_);
  }
}

int64_t PlainStore::GetValueCount(int32_t i) {
  int64_t total = 0;
  for (int32_t a = 0; a < actions_; ++a) total += RowLength(a);
  return total;
}

void PlainStore::Write(ByteWriter& out) {
  WriteLockRecord(out, lock_);
  for (int32_t a = 0; a < actions_; ++a)
    if (const int32_t n = RowLength(a); n > 0)
      out.Write(values_[static_cast<size_t>(a)].data, static_cast<uint64_t>(n) * sizeof(float));
}

void PlainStore::Read(ByteReader& in) {
  ReadLockRecord(in, lock_, width_);
  for (int32_t a = 0; a < actions_; ++a)
    if (const int32_t n = RowLength(a); n > 0)
      in.Read(values_[static_cast<size_t>(a)].data, static_cast<uint64_t>(n) * sizeof(float));
}
