#include "compress/block_arena.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/virtual_memory.h"
#include "protocol/fail.h"

BlockArena::BlockArena(uint32_t mask, int64_t reserved) : mask_(mask) { Reset(reserved); }

BlockArena::~BlockArena() { Release(); }

int64_t BlockArena::RoundUp(int64_t size) const {
  // 64-bit: sizes near 2^31 must not wrap to a target below what is committed.
  return (std::clamp<int64_t>(size, 0, kMaxBlockBytes) + mask_) & ~static_cast<int64_t>(mask_);
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
  reserved_ = RoundUp(reserved);
}

void BlockArena::ResetForSize(int64_t size) {
  const int64_t target = RoundUp(size);
  if (base_ && target > reserved_) Release();
  ResetUse();
  if (!base_) reserved_ = std::max(reserved_, target);
}

void BlockArena::MoveTo(int64_t bytes) {
  auto* moved = static_cast<uint8_t*>(ReserveTouchBackedSpace(static_cast<uint64_t>(bytes)));
  if (!moved) throw std::bad_alloc();
  if (base_) {
    std::memcpy(moved, base_, static_cast<size_t>(committed_));
    if (!ReleaseAddressSpace(base_, static_cast<uint64_t>(reserved_))) Fail("VirtualFree fail");
  }
  base_ = moved;
  reserved_ = bytes;
}

int64_t BlockArena::ReserveNeed(int64_t bytes) const {
  const int64_t target = RoundUp(bytes);
  if (!base_) return std::max(reserved_, target);
  return target > reserved_ ? target : 0;
}

void BlockArena::Reserve(int64_t bytes) {
  const int64_t target = RoundUp(bytes);
  if (!base_) {
    const int64_t planned = std::max(reserved_, target);
    if (planned > 0) MoveTo(planned);
  } else if (target > reserved_) {
    MoveTo(target);
  }
}

void BlockArena::Grow(int64_t size) {
  if (size < 0) size = 0;
  if (size > kMaxBlockBytes) throw std::bad_alloc();
  const int64_t target = RoundUp(size);
  if (target > committed_) {
    if (target > reserved_) {
      // Doubling keeps a block that keeps outgrowing its reservation from
      // moving at every write.
      MoveTo(std::min(std::max(reserved_ * 2, target), RoundUp(kMaxBlockBytes)));
    } else if (!base_) {
      MoveTo(reserved_);
    }
    // The reservation is readable and writable throughout: committing is
    // counting, and pages take memory as they are first written.
    committed_ = target;
  }
  used_ = size;
  commit_target_ = target;
}
