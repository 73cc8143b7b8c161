#pragma once
#include <cstdint>
#include <vector>

#include "store/node_store.h"
#include "store/plain_store.h"

// The store of a turn node: one PlainStore per turn slot, in turn-slot order.
// Board operations go to the sub-store of turn slot i (which must exist); the
// serialised form is the sub-stores' forms back to back.
class CompositeStore final : public NodeStore {
 public:
  CompositeStore(int32_t actions, const std::vector<uint32_t>& hand_counts_by_turn_slot);

  bool Allocate() override;
  int32_t GetHandCount(int32_t i, int32_t j) override;
  std::vector<NumArray> GetStrategy(int32_t i, int32_t j, const float* defaults) override;
  void SetActionValues(int32_t i, int32_t j, int32_t action, const NumArray& values) override;
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                     const std::vector<NumArray>& action_values, CompressedBlock* handle,
                     const std::vector<int16_t>* hand_groups, double payoff_scale) override;
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override;
  // Every value of every turn slot, whatever i is.
  int64_t GetValueCount(int32_t i) override;
  void Write(ByteWriter& out) override;
  void Read(ByteReader& in) override;
  NodeLockRecord* GetLockRecord(int32_t i, int32_t j) override;
  uint64_t AllocationBytes() override;

  int32_t turn_slots() const { return static_cast<int32_t>(slots_.size()); }
  PlainStore& slot(int32_t i) { return slots_[static_cast<size_t>(i)]; }

 private:
  std::vector<PlainStore> slots_;
};
