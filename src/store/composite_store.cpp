#include "store/composite_store.h"

CompositeStore::CompositeStore(int32_t actions,
                               const std::vector<uint32_t>& hand_counts_by_turn_slot) {
  slots_.reserve(hand_counts_by_turn_slot.size());
  for (uint32_t hands : hand_counts_by_turn_slot)
    slots_.emplace_back(actions, static_cast<int32_t>(hands));
}

bool CompositeStore::Allocate() {
  for (PlainStore& store : slots_) store.Allocate();
  return true;
}

int32_t CompositeStore::GetHandCount(int32_t i, int32_t j) {
  return slot(i).GetHandCount(-1, -1);
}

std::vector<NumArray> CompositeStore::GetStrategy(int32_t i, int32_t j, const float* defaults) {
  return slot(i).GetStrategy(-1, -1, defaults);
}

void CompositeStore::SetActionValues(int32_t i, int32_t j, int32_t action,
                                     const NumArray& values) {
  slot(i).SetActionValues(-1, -1, action, values);
}

void CompositeStore::UpdateRegrets(int32_t i, int32_t j, const NumArray& node_values,
                                   const std::vector<NumArray>& action_values,
                                   CompressedBlock* handle,
                                   const std::vector<int16_t>* hand_groups, double payoff_scale) {
  slot(i).UpdateRegrets(-1, -1, node_values, action_values, handle, hand_groups, payoff_scale);
}

void CompositeStore::AccumulateStrategy(int32_t i, int32_t j,
                                        const std::vector<NumArray>& strategy,
                                        const NumArray& reach, double weight) {
  if (!(weight > 0.0)) return;
  slot(i).AccumulateStrategy(-1, -1, strategy, reach, weight);
}

uint64_t CompositeStore::AllocationBytes() {
  uint64_t bytes = 0;
  for (PlainStore& store : slots_) bytes += store.AllocationBytes();
  return bytes;
}

int64_t CompositeStore::GetValueCount(int32_t i) {
  int64_t total = 0;
  for (PlainStore& store : slots_) total += store.GetValueCount(i);
  return total;
}

void CompositeStore::Write(ByteWriter& out) {
  for (PlainStore& store : slots_) store.Write(out);
}

void CompositeStore::Read(ByteReader& in) {
  for (PlainStore& store : slots_) store.Read(in);
}

NodeLockRecord* CompositeStore::GetLockRecord(int32_t i, int32_t j) {
  return slot(i).GetLockRecord(-1, -1);
}
