#pragma once
// A hand array holding the given values, for feeding kernels and stores.
#include <vector>

#include "store/num_array.h"

inline NumArray MakeArray(const std::vector<double>& values) {
  NumArray a(static_cast<int32_t>(values.size()));
  for (size_t k = 0; k < values.size(); ++k) a[static_cast<int32_t>(k)] = values[k];
  return a;
}
