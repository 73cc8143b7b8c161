#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/isa_dispatch.h"

// Value arrays packed into byte widths without entropy coding: the packed
// blocks' arrays and the packed rows of tree files. Multi-byte fields are
// little-endian.
//
// Full blocks of 32 values: a control byte holding four 2-bit group codes
// (group g in bits 2g and 2g+1), then the payloads of its four groups of 8.
// 16-bit codes: 0 eight zeros (no payload), 1 eight bytes, 2 eight 12-bit
// fields in 12 bytes (value m in bits 12m ... 12m+11), 3 eight u16.
// 32-bit codes: 0 eight zeros, 1 eight bytes, 2 eight u16, 3 eight u32.
// The last n mod 32 values follow in groups of up to 8, each led by a code
// byte. 16-bit: 1 bytes, anything else u16 (written: 1 or 3). 32-bit: 0 bytes,
// 1 u16, 2 or 3 u32 (written: bit 1 for a value above 65535, bit 0 for one in
// 256 ... 65535).
//
// Each group takes the narrowest code that holds its largest value. The 32-bit
// packer compares values unsigned, so every value comes back exactly (the
// stores keep theirs below 2^31, where signed and unsigned agree).
//
// The entries, one table per build (Kernels<ValuePackingKernels>() is the one
// in use). The unpackers read n values from the `length` bytes at src and
// return the end of what they read, or null when the bytes end first (out may
// then hold part of the values); they never read beyond src + length. The
// packers return the end of what they wrote, at most MaxPackedBytes16/32(n)
// bytes.
struct ValuePackingKernels {
  uint8_t* (*PackValues16)(uint8_t* dst, const uint16_t* values, int32_t n);
  const uint8_t* (*UnpackValues16)(uint16_t* out, int32_t n, const uint8_t* src, size_t length);
  uint8_t* (*PackValues32)(uint8_t* dst, const uint32_t* values, int32_t n);
  const uint8_t* (*UnpackValues32)(uint32_t* out, int32_t n, const uint8_t* src, size_t length);
};
TDX_KERNEL_TABLES(ValuePackingKernels)

// The largest packed size of n values: per full block its control byte and 32
// widest values, per tail group its code byte and widest values.
constexpr size_t MaxPackedBytes16(int64_t n) {
  if (n <= 0) return 0;
  const size_t blocks = static_cast<size_t>(n) / 32, tail = static_cast<size_t>(n) % 32;
  return blocks * 65 + (tail + 7) / 8 + 2 * tail;
}
constexpr size_t MaxPackedBytes32(int64_t n) {
  if (n <= 0) return 0;
  const size_t blocks = static_cast<size_t>(n) / 32, tail = static_cast<size_t>(n) % 32;
  return blocks * 129 + (tail + 7) / 8 + 4 * tail;
}
