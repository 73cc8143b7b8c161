#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Alignment of every NumArray and FloatArray block. Raised from 16 to 32 bytes so
// that the AVX kernels can use aligned 256-bit loads and stores on array starts.
constexpr size_t kNumArrayAlignment = 32;

// A count and a 32-byte-aligned block of doubles from the scalable allocator:
// the per-hand vector of every pass, kernel and analysis routine. An array with
// a count but no data stands for absent values (all zeros of that count) and is
// passed on as absent. The array owns its data; it can be moved, not copied.
struct NumArray {
  double* data = nullptr;
  int32_t count = 0;

  NumArray() = default;
  explicit NumArray(int32_t n) { Resize(n); }
  NumArray(const NumArray&) = delete;
  NumArray& operator=(const NumArray&) = delete;
  NumArray(NumArray&& other) noexcept : data(other.data), count(other.count) {
    other.data = nullptr;
    other.count = 0;
  }
  // Inline: the walk moves arrays between cursors at every node.
  NumArray& operator=(NumArray&& other) noexcept {
    if (this != &other) {
      Free();
      data = other.data;
      count = other.count;
      other.data = nullptr;
      other.count = 0;
    }
    return *this;
  }
  ~NumArray() { Free(); }

  // Frees the data; an array without data keeps its count. Inline for the
  // common case of an array without data (every cursor's destructor).
  void Free() {
    if (data) ReleaseData();
  }
  // Makes room for n values (content not initialised). Keeps the content when
  // the count is already n and data is present; an array without data gets
  // data even at its own count, so a resized array always has data.
  void Resize(int32_t n);
  // Gives an absent array zeros of its count; a present array is unchanged.
  void MaterializeZeros();
  // this - other; absent other: nothing; absent this: starts from zeros.
  void Subtract(const NumArray& other);
  // Each value raised to at least x (NaN becomes x); absent: zeros first.
  void ClampBelow(double x);
  // n zeros (with data).
  void AssignZeros(int32_t n);
  // A copy of src; an absent src gives an absent array of src's count.
  void CopyFrom(const NumArray& src);
  // A copy of the values.
  void AssignValues(const std::vector<double>& values);
  // The sum of the values; 0 for an absent array.
  double Sum() const;

  // The values the data's block holds (at least count; 0 without data): an
  // array kept for reuse may take any count up to it.
  int32_t Capacity() const;

  bool HasData() const { return data != nullptr; }
  double& operator[](int32_t i) { return data[i]; }
  double operator[](int32_t i) const { return data[i]; }

 private:
  // Gives the data back and sets the count to 0; data must be present.
  void ReleaseData();
};

// Single-precision twin: one action's values in a plain store.
struct FloatArray {
  float* data = nullptr;
  int32_t count = 0;

  FloatArray() = default;
  FloatArray(const FloatArray&) = delete;
  FloatArray& operator=(const FloatArray&) = delete;
  FloatArray(FloatArray&& other) noexcept : data(other.data), count(other.count) {
    other.data = nullptr;
    other.count = 0;
  }
  FloatArray& operator=(FloatArray&& other) noexcept;
  ~FloatArray() { Free(); }

  // As NumArray::Resize, with 4-byte elements.
  void Resize(int32_t n);
  // Resize to src.count, then copy its values (zeros when src has no data).
  void Assign(const FloatArray& src);
  // Frees the data; the count always stays.
  void Free();

  bool HasData() const { return data != nullptr; }
};

// n empty arrays (the per-action output of a store's strategy).
std::vector<NumArray> MakeNumArrays(int n);
