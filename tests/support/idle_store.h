#pragma once
// A node store that holds nothing: every operation does nothing and every
// query answers zero or null. Tests derive from it to watch or fake the one
// operation they are about.
#include <vector>

#include "store/node_store.h"

struct IdleStore : NodeStore {
  bool Allocate() override { return true; }
  int32_t GetHandCount(int32_t, int32_t) override { return 0; }
  std::vector<NumArray> GetStrategy(int32_t, int32_t, const float*) override { return {}; }
  void SetActionValues(int32_t, int32_t, int32_t, const NumArray&) override {}
  void UpdateRegrets(int32_t, int32_t, const NumArray&, const std::vector<NumArray>&,
                     CompressedBlock*, const std::vector<int16_t>*, double) override {}
  void AccumulateStrategy(int32_t, int32_t, const std::vector<NumArray>&, const NumArray&,
                          double) override {}
  int64_t GetValueCount(int32_t) override { return 0; }
  void Write(ByteWriter&) override {}
  void Read(ByteReader&) override {}
  NodeLockRecord* GetLockRecord(int32_t, int32_t) override { return nullptr; }
};
