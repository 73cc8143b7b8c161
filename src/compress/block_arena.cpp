#include "compress/block_arena.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/virtual_memory.h"
#include "protocol/fail.h"

namespace {

[[noreturn]] void ExitWithMessage(const char* format, int64_t bytes, int error) {
  std::printf(format, static_cast<long long>(bytes), error);
  ExitImmediately(1);
}

[[noreturn]] void ReserveFailed(int64_t bytes, GrowthFailure on_failure) {
  const int error = errno;
  if (on_failure == GrowthFailure::THROW_BAD_ALLOC) throw std::bad_alloc();
  ExitWithMessage("Reserve %lld bytes fail (errno %d)\n", bytes, error);
}


}  // namespace

BlockArena::BlockArena(uint32_t mask, int64_t reserved) : mask_(mask) { Reset(reserved); }

BlockArena::~BlockArena() { Release(); }

int64_t BlockArena::RoundUp(int64_t size) const {
  // 64-bit: sizes near 2^31 must not wrap to a target below what is committed.
  return (size + mask_) & ~static_cast<int64_t>(mask_);
}

void BlockArena::Release() {
  if (base_ && !ReleaseAddressSpace(base_, static_cast<uint64_t>(reserved_))) Fail("VirtualFree fail");
  base_ = nullptr;
  committed_ = 0;
  ResetUse();
}

void BlockArena::ResetUse() {
  commit_target_ = 0;
  used_ = 0;
}

void BlockArena::Reset(int64_t reserved) {
  Release();
  if (reserved < 0) reserved = 0;
  if (reserved > kMaxBlockBytes) reserved = kMaxBlockBytes;
  reserved_ = RoundUp(reserved);
}

void BlockArena::Grow(int64_t size, GrowthFailure on_failure) {
  if (size < 0) size = 0;
  if (size > kMaxBlockBytes) {
    if (on_failure == GrowthFailure::THROW_BAD_ALLOC) throw std::bad_alloc();
    std::printf("out of memory (not enough reserved)\n");
    ExitImmediately(1);
  }
  const int64_t target = RoundUp(size);
  if (target > committed_) {
    if (target > reserved_) {
      // Doubling keeps a block that keeps outgrowing its reservation from
      // moving at every write.
      int64_t larger = reserved_ * 2 > target ? reserved_ * 2 : target;
      if (larger > RoundUp(kMaxBlockBytes)) larger = RoundUp(kMaxBlockBytes);
      if (base_) {
        auto* moved =
            static_cast<uint8_t*>(ReserveTouchBackedSpace(static_cast<uint64_t>(larger)));
        if (!moved) ReserveFailed(larger, on_failure);
        std::memcpy(moved, base_, static_cast<size_t>(committed_));
        if (!ReleaseAddressSpace(base_, static_cast<uint64_t>(reserved_))) Fail("VirtualFree fail");
        base_ = moved;
        committed_ = target;
      }
      reserved_ = larger;
    }
    if (!base_) {
      base_ = static_cast<uint8_t*>(ReserveTouchBackedSpace(static_cast<uint64_t>(reserved_)));
      if (!base_) ReserveFailed(reserved_, on_failure);
    }
    // The reservation is readable and writable throughout: committing is
    // counting, and pages take memory as they are first written.
    committed_ = target;
  }
  used_ = size;
  commit_target_ = target;
}
