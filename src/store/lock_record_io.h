#pragma once
#include <cstdint>

#include "platform/byte_io.h"
#include "store/node_store.h"

// The serialised lock record of one board, shared by every store form of a
// tree file (little-endian): u32 flags; with COMBO_LOCKED, i16 mask length L,
// i16 run count R and R i16 run lengths. The runs alternate between mask bytes
// 0 and 1, beginning with a (possibly empty) run of 0-bytes.

// Writes the record; a COMBO_LOCKED record without a mask gives L = R = 0. A
// nonzero mask byte is written as 1. Throws std::runtime_error for a mask that
// the 16-bit length cannot hold.
void WriteLockRecord(ByteWriter& out, const NodeLockRecord& record);

// Reads a record written by WriteLockRecord for a board of board_hand_count
// hands. Refuses bad data with std::runtime_error and leaves the record as it
// was: L other than 0 or the hand count, R negative or above L + 1, a negative
// run or runs that add up to more than L. Mask bytes that no run covers are 0.
// With L = 0, or without COMBO_LOCKED, the record ends up without a mask.
void ReadLockRecord(ByteReader& in, NodeLockRecord& record, int32_t board_hand_count);
