#pragma once
#include <cstdint>
#include <vector>

#include "store/node_store.h"
#include "store/num_array.h"

// The store of a flop node (and of one turn slot of a turn node): one board,
// one float row per action on the heap. Every loop is bounded by the store's
// width, whatever the counts of the arrays handed in; absent arrays count as
// zeros. Serialised form: the lock record (lock_record_io.h), then each
// action's row of floats in action order.
class PlainStore final : public NodeStore {
 public:
  PlainStore(int32_t actions, int32_t width);
  PlainStore(PlainStore&&) noexcept = default;
  PlainStore& operator=(PlainStore&&) = delete;

  bool Allocate() override;
  int32_t GetHandCount(int32_t i, int32_t j) override { return width_; }
  std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) override;
  void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) override;
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                     const std::vector<NumArray>& action_values, CompressedBlock* handle,
                     const std::vector<int16_t>* hand_groups, double payoff_scale) override;
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override;
  int64_t GetValueCount(int32_t i) override;
  void Write(ByteWriter& out) override;
  void Read(ByteReader& in) override;
  NodeLockRecord* GetLockRecord(int32_t i, int32_t j) override { return &lock_; }
  uint64_t AllocationBytes() override;

  int32_t actions() const { return actions_; }
  // The row of one action (empty until Allocate).
  const FloatArray& row(int32_t action) const { return values_[static_cast<size_t>(action)]; }

 private:
  // Hands held by an action's row: its count when it has data, else 0.
  int32_t RowLength(int32_t action) const;

  int32_t actions_;
  int32_t width_;
  std::vector<FloatArray> values_;
  NodeLockRecord lock_;
};
