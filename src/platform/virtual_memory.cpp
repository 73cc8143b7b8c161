#include "platform/virtual_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/memory_status.h"

namespace {

std::atomic<uint64_t> g_reserved_block_bytes{0};

// The first two fields of /proc/self/statm in bytes: the address space mapped
// and the resident memory; zeros when unreadable.
struct ProcessSizes {
  uint64_t mapped = 0;
  uint64_t resident = 0;
};

ProcessSizes ReadProcessSizes() {
  ProcessSizes sizes;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return sizes;
  unsigned long long size = 0, resident = 0;
  const int read = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  if (read != 2) return sizes;
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  sizes.mapped = static_cast<uint64_t>(size) * page;
  sizes.resident = static_cast<uint64_t>(resident) * page;
  return sizes;
}

// The resident bytes; 0 when unreadable, which only makes the fitting rule
// stricter.
uint64_t ResidentBytes() { return ReadProcessSizes().resident; }

}  // namespace

bool BlockRequestFits(uint64_t request, uint64_t available, uint64_t reserved,
                      uint64_t resident) {
  // Reserved pages already touched are in the resident figure and already gone
  // from the available one; the others will be taken from it when touched.
  const uint64_t untouched = reserved > resident ? reserved - resident : 0;
  return untouched <= available && request <= available - untouched;
}

bool MemoryRequestFits(uint64_t bytes, uint64_t reserved_only) {
  const uint64_t address_space = bytes + reserved_only;
  if (address_space < bytes || !AddressSpaceRequestFits(address_space)) return false;
  MemoryStatus status;
  if (!QueryMemoryStatus(&status)) return true;
  return BlockRequestFits(bytes, status.available_bytes, g_reserved_block_bytes.load(),
                          ResidentBytes());
}

uint64_t AddressSpaceBytes() { return ReadProcessSizes().mapped; }

uint64_t AddressSpaceLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return static_cast<uint64_t>(limit.rlim_cur);
}

bool AddressSpaceFits(uint64_t request, uint64_t mapped, uint64_t limit) {
  return mapped <= limit && request <= limit - mapped;
}

bool AddressSpaceRequestFits(uint64_t request) {
  const uint64_t limit = AddressSpaceLimit();
  // Without a limit the statm read is not worth its cost.
  return limit == UINT64_MAX || AddressSpaceFits(request, AddressSpaceBytes(), limit);
}

void* ReserveZeroedBlock(uint64_t bytes) {
  if (bytes == 0 || !MemoryRequestFits(bytes)) return nullptr;
  void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  // Large pages where the system grants them: the solver touches these blocks
  // row by row all over, and with small pages every first write of a page
  // (after a read of the shared zero page) costs a fault and a TLB shootdown on
  // every processor. Only a hint; without it the block works the same.
  madvise(base, bytes, MADV_HUGEPAGE);
  g_reserved_block_bytes.fetch_add(bytes);
  return base;
}

void ReleaseBlock(void* base, uint64_t bytes) {
  if (!base) return;
  munmap(base, bytes);
  g_reserved_block_bytes.fetch_sub(bytes);
}

void ZeroBlock(void* base, uint64_t bytes) {
  if (!base || bytes == 0) return;
  // A private anonymous mapping reads as zeros again after MADV_DONTNEED.
  if (madvise(base, bytes, MADV_DONTNEED) != 0) std::memset(base, 0, bytes);
}

uint64_t ReservedBlockBytes() { return g_reserved_block_bytes.load(); }

void* ReserveAddressSpace(uint64_t bytes) {
  // No access and no reserve: the kernel charges nothing until a commit.
  void* base = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

bool CommitAddressSpace(void* at, uint64_t bytes) {
  return mprotect(at, bytes, PROT_READ | PROT_WRITE) == 0;
}

bool ReleaseAddressSpace(void* base, uint64_t bytes) { return munmap(base, bytes) == 0; }

void* ReserveTouchBackedSpace(uint64_t bytes) {
  void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  // A large page would take 2 MiB for the first byte written into a block
  // that may never hold that much. Only a hint.
  madvise(base, bytes, MADV_NOHUGEPAGE);
  return base;
}
