#pragma once
#include <cstdint>

#include "compress/coder.h"
#include "platform/isa_dispatch.h"

// The array codec in front of every coder: an array of at most 1326 values (one
// per hand of a board) travels as zigzag-coded first differences, alone or
// against a reference array (the previous board's row), whichever leaves fewer
// nonzero differences; the decoders rebuild the values by prefix sums.

constexpr int32_t kMaxComboArray = 1326;

// 0, -1, 1, -2, 2 -> 0, 1, 2, 3, 4 on 32-bit two's complement.
inline uint32_t Zigzag(uint32_t d) {
  return (d << 1) ^ static_cast<uint32_t>(static_cast<int32_t>(d) >> 31);
}
inline uint32_t Unzigzag(uint32_t e) { return (e >> 1) ^ (0u - (e & 1u)); }

// Codes one array through the encoder. A count above 1326 (or below 0) ends
// the process through Fail. The 16-bit form widens values and reference.
void EncodeComboArray(StreamEncoder* encoder, const uint32_t* values, const uint32_t* reference,
                      int32_t count);
void EncodeComboArray16(StreamEncoder* encoder, const uint16_t* values,
                        const uint16_t* reference, int32_t count);

// Reads one array; count and reference as at the write. A count above 1326 (or
// below 0) ends the process through Fail; a null decoder (a coder id that names
// no coder) and a damaged stream throw CodedStreamError.
void DecodeComboArray(StreamDecoder* decoder, uint32_t* out, const uint32_t* reference,
                      int32_t count);
void DecodeComboArray16(StreamDecoder* decoder, uint16_t* out, const uint16_t* reference,
                        int32_t count);

// The rebuild rule of every decoder, from the coded (zigzag) deltas, 0 where a
// value was not coded: out[0] = d[0] (+ r[0] with a reference); then, with a
// reference and a nonzero flag, out[i] = out[i-1] + (r[i] - r[i-1]) + d[i],
// otherwise out[i] = out[i-1] + d[i]; modulo 2^32 or 2^16.
void RebuildComboValues(uint32_t* out, const uint32_t* reference, const uint32_t* coded,
                        int32_t count, uint32_t flag);
void RebuildComboValues(uint16_t* out, const uint16_t* reference, const uint32_t* coded,
                        int32_t count, uint32_t flag);

// The kernels compiled per instruction set (AVX2 or plain AVX build, equal
// results), one table of them per build (Kernels<ComboCodecKernels>() is the
// one in use).
struct ComboCodecKernels {
  // plain[0] = zz(v[0] - r[0]) (zz(v[0]) without reference), plain[i] =
  // zz(v[i] - v[i-1]); with a reference also reference_form[i] =
  // zz((v[i] - v[i-1]) - (r[i] - r[i-1])) and reference_form[0] = plain[0].
  // True only when the reference form has strictly fewer nonzero entries.
  bool (*ComputeComboDeltas)(uint32_t* reference_form, uint32_t* plain, const uint32_t* values,
                             const uint32_t* reference, int32_t count);
  bool (*ComputeComboDeltas16)(uint32_t* reference_form, uint32_t* plain,
                               const uint16_t* values, const uint16_t* reference, int32_t count);
  // masks[g] has bit k set when values[8g + k] is nonzero, for the (count + 7)
  // / 8 groups of eight (the last one short).
  void (*FindNonzeroGroups)(const uint32_t* values, int32_t count, uint8_t* masks);
  // The running sums of the deltas (already unzigzagged) from `start`:
  // running_i = start + d[0] + ... + d[i]; out[i] = running_i, or
  // reference[i] + running_i when a reference is given. Modulo 2^32 or 2^16.
  void (*PrefixSums32)(uint32_t* out, const uint32_t* reference, const uint32_t* deltas,
                       int32_t count, uint32_t start);
  void (*PrefixSums16)(uint16_t* out, const uint16_t* reference, const uint16_t* deltas,
                       int32_t count, uint16_t start);
};
TDX_KERNEL_TABLES(ComboCodecKernels)
