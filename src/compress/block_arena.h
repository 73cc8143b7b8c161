#pragma once
#include <cstdint>

// The memory of one compressed block: one address-space reservation, readable
// and writable throughout, whose pages take memory only as the block's
// growing prefix is first written (the committed prefix is a count), so that
// growing never moves the data in the common case. Memory is never given back
// while the block lives; the reservation is made at the first growth.

// The largest block: the saved forms count a block's bytes in signed 32 bits.
constexpr int64_t kMaxBlockBytes = INT32_MAX;

// What a failed reservation or commit does. In the solver's writes it ends the
// process with the system's errno ("Reserve %lld bytes fail (errno %d)",
// "Commit %lld bytes fail (errno %d)"), as a block half written cannot be
// given back; a block being loaded for a command throws std::bad_alloc, which
// the command answers as out of memory.
enum class GrowthFailure : uint8_t { EXIT_PROCESS, THROW_BAD_ALLOC };

class BlockArena {
 public:
  // mask: the commit granularity - 1 (4095 or 65535). reserved: the owner's
  // upper bound of the block's size, rounded up to the granularity.
  BlockArena(uint32_t mask, int64_t reserved);
  // Releases the reservation; a failure ends the process ("VirtualFree fail").
  ~BlockArena();
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;

  // Makes the first `size` bytes usable (used = size), committing up to size
  // rounded up to the granularity. Reservations are upper bounds; one that is
  // still exceeded (a block loaded from a file written with a smaller one) is
  // replaced by a larger one and the committed bytes move there. A size above
  // kMaxBlockBytes ends the process with "out of memory (not enough reserved)"
  // (std::bad_alloc when throwing).
  void Grow(int64_t size, GrowthFailure on_failure = GrowthFailure::EXIT_PROCESS);

  // A write starts again from empty: used and the commit target go to 0; the
  // reservation and the committed memory stay.
  void ResetUse();
  // Gives all memory back and sets a new reservation size (a block about to be
  // filled from a file).
  void Reset(int64_t reserved);

  uint8_t* Base() const { return base_; }
  int64_t Used() const { return used_; }
  int64_t Committed() const { return committed_; }
  int64_t Reserved() const { return reserved_; }

 private:
  int64_t RoundUp(int64_t size) const;
  void Release();

  int64_t commit_target_ = 0;  // the last requested size rounded up
  int64_t used_ = 0;           // the last requested size
  int64_t committed_ = 0;      // bytes committed from the base
  int64_t reserved_ = 0;       // size of the reservation
  uint8_t* base_ = nullptr;    // null until the first growth
  uint32_t mask_;              // granularity - 1
};
