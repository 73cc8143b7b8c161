#pragma once
#include <algorithm>
#include <cstdint>
#include <new>

#include "store/num_array.h"
#include "store/value_kernels16.h"

// Up to kMaxFusedActions arrays on the stack, of which only the first n are
// made and destroyed: a river node has two or three actions, and clearing and
// checking all eight at every visit showed in profiles.
class StackArrays {
 public:
  explicit StackArrays(int32_t n) : n_(std::clamp(n, 0, kMaxFusedActions)) {
    for (int32_t a = 0; a < n_; ++a) new (&data()[a]) NumArray();
  }
  ~StackArrays() {
    for (int32_t a = 0; a < n_; ++a) data()[a].~NumArray();
  }
  StackArrays(const StackArrays&) = delete;
  StackArrays& operator=(const StackArrays&) = delete;
  NumArray* data() { return reinterpret_cast<NumArray*>(raw_); }

 private:
  alignas(NumArray) unsigned char raw_[sizeof(NumArray) * kMaxFusedActions];
  int32_t n_;
};
