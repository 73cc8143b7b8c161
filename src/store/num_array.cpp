#include "store/num_array.h"

#include <tbb/scalable_allocator.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// ThreadSanitizer does not see the scalable allocator hand a block freed on one
// thread to another, and would report every such reuse as a race: under it the
// arrays come from the system allocator, whose hand-over it knows.
#if defined(__SANITIZE_THREAD__)
void* AlignedMalloc(size_t bytes) {
  void* block = nullptr;
  return posix_memalign(&block, kNumArrayAlignment, bytes) == 0 ? block : nullptr;
}
void AlignedFree(void* block) { std::free(block); }
#else
void* AlignedMalloc(size_t bytes) { return scalable_aligned_malloc(bytes, kNumArrayAlignment); }
void AlignedFree(void* block) { scalable_aligned_free(block); }
#endif

// A null block would silently turn the array into an absent (all-zero) one, so
// a failure is thrown as std::bad_alloc: a command answers it as out of
// memory, a pass gives up (tree_pass.cpp).
void* AllocateBytes(size_t bytes) {
  void* block = AlignedMalloc(bytes);
  if (!block) throw std::bad_alloc();
  return block;
}

// At least one element, so that a resized array always has data, even at count
// 0 (an empty array with data is present, one without data is absent).
void* AllocateBlock(int32_t count, size_t element_size) {
  const size_t elements = count > 0 ? static_cast<size_t>(count) : 1;
  return AllocateBytes(elements * element_size);
}

// The per-hand arrays of a pass are made and dropped by the million, mostly in
// a few sizes (the hand counts of the boards under way). Each thread keeps
// freed blocks per size class and hands them out again; a block carries its
// class in a header before the values, so it goes back to the right class
// whatever the array's count says by then. A node of a river walk drops its
// children's arrays together, dozens at a time, so a class keeps up to 64; a
// byte budget bounds what a thread holds. Sanitizer builds allocate afresh
// every time, so that a use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kCachedClasses = 0;
#else
constexpr int kCachedClasses = 24;  // blocks of up to 24 x 64 doubles
#endif
constexpr int32_t kClassElements = 64;
constexpr int kBlocksPerClass = 64;
constexpr size_t kCacheBudgetBytes = size_t{4} << 20;
constexpr size_t kHeaderBytes = kNumArrayAlignment;  // keeps the values aligned
constexpr int32_t kUncachedClass = -1;

// Plain thread-local storage (no constructor or destructor, so no guard on the
// hot path); the reaper, made at a thread's first kept block, gives the kept
// blocks back when the thread ends and closes the cache, so that an array freed
// later on that thread (by a destructor that runs after the reaper's) is given
// straight back to the allocator.
struct BlockCache {
  void* blocks[kCachedClasses > 0 ? kCachedClasses : 1][kBlocksPerClass];
  int32_t held[kCachedClasses > 0 ? kCachedClasses : 1];
  size_t held_bytes;
  bool reaper_made;
  bool closed;
};
thread_local BlockCache g_block_cache;

struct CacheReaper {
  bool armed = false;
  ~CacheReaper() {
    BlockCache& cache = g_block_cache;
    for (int c = 0; c < kCachedClasses; ++c) {
      for (int32_t k = 0; k < cache.held[c]; ++k) AlignedFree(cache.blocks[c][k]);
      cache.held[c] = 0;
    }
    cache.held_bytes = 0;
    cache.closed = true;
  }
};
thread_local CacheReaper g_cache_reaper;

int32_t& ClassOf(void* block) { return *static_cast<int32_t*>(block); }
// The element count of a block outside the classes, after its class.
int32_t& UncachedElementsOf(void* block) { return static_cast<int32_t*>(block)[1]; }

size_t ClassBytes(int32_t size_class) {
  return kHeaderBytes + sizeof(double) * static_cast<size_t>(kClassElements * (size_class + 1));
}

double* AllocateValues(int32_t count) {
  const int32_t elements = count > 0 ? count : 1;
  const int32_t size_class = (elements - 1) / kClassElements;
  if (size_class < kCachedClasses) {
    BlockCache& cache = g_block_cache;
    // A block is made at its class's full size, so it holds any count of the
    // class when it is handed out again. A kept block carries its class in its
    // header already: only a new block's header is written.
    void* block;
    if (cache.held[size_class] > 0) {
      block = cache.blocks[size_class][--cache.held[size_class]];
      cache.held_bytes -= ClassBytes(size_class);
    } else {
      block = AllocateBytes(ClassBytes(size_class));
      ClassOf(block) = size_class;
    }
    return reinterpret_cast<double*>(static_cast<uint8_t*>(block) + kHeaderBytes);
  }
  void* block = AllocateBytes(kHeaderBytes + sizeof(double) * static_cast<size_t>(elements));
  ClassOf(block) = kUncachedClass;
  UncachedElementsOf(block) = elements;
  return reinterpret_cast<double*>(static_cast<uint8_t*>(block) + kHeaderBytes);
}

void ReleaseValues(double* values) {
  void* block = reinterpret_cast<uint8_t*>(values) - kHeaderBytes;
  const int32_t size_class = ClassOf(block);
  if (size_class >= 0 && size_class < kCachedClasses) {
    BlockCache& cache = g_block_cache;
    const size_t bytes = ClassBytes(size_class);
    if (!cache.closed && cache.held[size_class] < kBlocksPerClass &&
        cache.held_bytes + bytes <= kCacheBudgetBytes) {
      if (!cache.reaper_made) {
        cache.reaper_made = true;
        g_cache_reaper.armed = true;  // made now, run at thread end
      }
      cache.blocks[size_class][cache.held[size_class]++] = block;
      cache.held_bytes += bytes;
      return;
    }
  }
  AlignedFree(block);
}

}  // namespace

// ---------------------------------------------------------------------------
// NumArray

void NumArray::ReleaseData() {
  ReleaseValues(data);
  data = nullptr;
  count = 0;
}

int32_t NumArray::Capacity() const {
  if (!data) return 0;
  void* block = reinterpret_cast<uint8_t*>(data) - kHeaderBytes;
  const int32_t size_class = ClassOf(block);
  return size_class >= 0 ? kClassElements * (size_class + 1) : UncachedElementsOf(block);
}

void NumArray::Resize(int32_t n) {
  if (n == count && data) return;
  // Emptied first: an allocation that throws leaves an empty array, never one
  // that points at the block just given back.
  if (data) ReleaseData();
  count = 0;
  data = AllocateValues(n);
  count = n;
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

void NumArray::AssignZeros(int32_t n) {
  Resize(n);
  if (n > 0) std::fill(data, data + n, 0.0);
}

void NumArray::CopyFrom(const NumArray& src) {
  if (&src == this) return;
  if (!src.data) {
    Free();
    count = src.count;
    return;
  }
  Resize(src.count);
  if (src.count > 0) std::copy(src.data, src.data + src.count, data);
}

void NumArray::AssignValues(const std::vector<double>& values) {
  const int32_t n = static_cast<int32_t>(values.size());
  Resize(n);
  if (n > 0) std::copy(values.begin(), values.end(), data);
}

double NumArray::Sum() const {
  double sum = 0.0;
  if (data)
    for (int32_t i = 0; i < count; ++i) sum += data[i];
  return sum;
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
    if (data) AlignedFree(data);
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
  // As NumArray: no pointer to a freed block survives a failed allocation.
  Free();
  data = static_cast<float*>(AllocateBlock(n, sizeof(float)));
  count = n;
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
  AlignedFree(data);
  data = nullptr;
}
