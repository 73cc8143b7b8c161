#pragma once
#include <cstdint>

// The memory of one compressed block: one address-space reservation, readable
// and writable throughout, whose pages take memory only as the block's
// growing prefix is first written (the committed prefix is a count), so that
// growing never moves the data in the common case. Memory is never given back
// while the block lives; the reservation is made by Reserve or at the first
// growth.
//
// Every failure to get address space throws std::bad_alloc and leaves the
// arena as it was, its bytes included: under an address-space limit a
// reservation can fail however little memory it would take, and the block's
// owner decides what the failed write or load becomes.

// The largest block: the saved forms count a block's bytes in signed 32 bits.
constexpr int64_t kMaxBlockBytes = INT32_MAX;

class BlockArena {
 public:
  // mask: the commit granularity - 1 (4095 or 65535). reserved: the owner's
  // upper bound of the block's size, rounded up to the granularity.
  BlockArena(uint32_t mask, int64_t reserved);
  // Releases the reservation; a failure ends the process ("VirtualFree fail").
  ~BlockArena();
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;

  // Makes sure `bytes` bytes (rounded up to the granularity, at most
  // kMaxBlockBytes) are reserved, so that growing up to them takes no new
  // reservation; reserves the planned size at least when nothing is reserved
  // yet. A smaller reservation is replaced and its committed bytes move.
  void Reserve(int64_t bytes);
  // Address space Reserve(bytes) would take anew (0 when it has it already).
  int64_t ReserveNeed(int64_t bytes) const;

  // Makes the first `size` bytes usable (used = size), committing up to size
  // rounded up to the granularity. Reservations are upper bounds; one that is
  // still exceeded (a block loaded from a file) is replaced by a larger one
  // and the committed bytes move there. A size above kMaxBlockBytes throws.
  void Grow(int64_t size);

  // A write starts again from empty: used and the commit target go to 0; the
  // reservation and the committed memory stay.
  void ResetUse();
  // A load starts from empty and needs `size` bytes: the reservation stays
  // when it holds them, else it is given back (the bytes are about to be
  // replaced) and the next growth reserves anew.
  void ResetForSize(int64_t size);
  // Gives all memory back and sets a new reservation size.
  void Reset(int64_t reserved);

  uint8_t* Base() const { return base_; }
  int64_t Used() const { return used_; }
  int64_t Committed() const { return committed_; }
  int64_t Reserved() const { return reserved_; }

 private:
  int64_t RoundUp(int64_t size) const;
  // `bytes` (rounded) reserved at base_, the committed bytes moved there.
  void MoveTo(int64_t bytes);
  void Release();

  int64_t commit_target_ = 0;  // the last requested size rounded up
  int64_t used_ = 0;           // the last requested size
  int64_t committed_ = 0;      // bytes committed from the base
  int64_t reserved_ = 0;       // size of the reservation (planned, before base_)
  uint8_t* base_ = nullptr;    // null until the first growth or Reserve
  uint32_t mask_;              // granularity - 1
};
