#include "compress/value_packing.h"

#include "platform/cpu_features.h"

uint8_t* PackValues16(uint8_t* dst, const uint16_t* values, int32_t n) {
  if (CpuHasAvx2Fma()) return isa_avx2::PackValues16(dst, values, n);
  return isa_avx::PackValues16(dst, values, n);
}

const uint8_t* UnpackValues16(uint16_t* out, int32_t n, const uint8_t* src, size_t length) {
  if (CpuHasAvx2Fma()) return isa_avx2::UnpackValues16(out, n, src, length);
  return isa_avx::UnpackValues16(out, n, src, length);
}

uint8_t* PackValues32(uint8_t* dst, const uint32_t* values, int32_t n) {
  if (CpuHasAvx2Fma()) return isa_avx2::PackValues32(dst, values, n);
  return isa_avx::PackValues32(dst, values, n);
}

const uint8_t* UnpackValues32(uint32_t* out, int32_t n, const uint8_t* src, size_t length) {
  if (CpuHasAvx2Fma()) return isa_avx2::UnpackValues32(out, n, src, length);
  return isa_avx::UnpackValues32(out, n, src, length);
}
