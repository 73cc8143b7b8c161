#include "store/num_array.h"

#include <tbb/scalable_allocator.h>

#include <algorithm>
#include <cstring>

#include "protocol/fail.h"

namespace {

// At least one element, so that a resized array always has data, even at count
// 0 (an empty array with data is present, one without data is absent).
void* AllocateBlock(int32_t count, size_t element_size) {
  const size_t elements = count > 0 ? static_cast<size_t>(count) : 1;
  void* block = scalable_aligned_malloc(elements * element_size, kNumArrayAlignment);
  // A null block would silently turn the array into an absent (all-zero) one.
  if (!block) Fail("out of memory");
  return block;
}

}  // namespace

// ---------------------------------------------------------------------------
// NumArray

NumArray& NumArray::operator=(NumArray&& other) noexcept {
  if (this != &other) {
    if (data) scalable_aligned_free(data);
    data = other.data;
    count = other.count;
    other.data = nullptr;
    other.count = 0;
  }
  return *this;
}

void NumArray::Free() {
  if (!data) return;
  scalable_aligned_free(data);
  data = nullptr;
  count = 0;
}

void NumArray::Resize(int32_t n) {
  if (n == count && data) return;
  if (data) scalable_aligned_free(data);
  count = n;
  data = static_cast<double*>(AllocateBlock(n, sizeof(double)));
}

void NumArray::MaterializeZeros() {
  if (data) return;
  Resize(count);
  if (count > 0) std::fill(data, data + count, 0.0);
}

void NumArray::Subtract(const NumArray& other) {
  if (!other.data) return;
  MaterializeZeros();
  for (int32_t i = 0; i < count; ++i) data[i] -= other.data[i];
}

void NumArray::ClampBelow(double x) {
  MaterializeZeros();
  // Written as a comparison that is false for NaN, so NaN becomes x.
  for (int32_t i = 0; i < count; ++i) data[i] = data[i] > x ? data[i] : x;
}

std::vector<NumArray> MakeNumArrays(int n) {
  std::vector<NumArray> arrays;
  if (n > 0) arrays.resize(static_cast<size_t>(n));
  return arrays;
}

// ---------------------------------------------------------------------------
// FloatArray

FloatArray& FloatArray::operator=(FloatArray&& other) noexcept {
  if (this != &other) {
    if (data) scalable_aligned_free(data);
    data = other.data;
    count = other.count;
    other.data = nullptr;
    other.count = 0;
  }
  return *this;
}

void FloatArray::Resize(int32_t n) {
  // Same rule as NumArray: a freed store row keeps its count, and resizing it
  // to that count must give it data again.
  if (n == count && data) return;
  if (data) scalable_aligned_free(data);
  count = n;
  data = static_cast<float*>(AllocateBlock(n, sizeof(float)));
}

void FloatArray::Assign(const FloatArray& src) {
  if (&src == this) return;
  Resize(src.count);
  if (count <= 0) return;
  if (src.data)
    std::memcpy(data, src.data, static_cast<size_t>(count) * sizeof(float));
  else
    std::fill(data, data + count, 0.0f);
}

void FloatArray::Free() {
  if (!data) return;
  scalable_aligned_free(data);
  data = nullptr;
}
