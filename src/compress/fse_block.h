#pragma once
#include <cstddef>
#include <cstdint>

#include "compress/fse.h"
#include "platform/isa_dispatch.h"

// The bit-stream loops of FSE blocks, compiled once per instruction set: the
// AVX2 build has the BMI2 shifts and bit extraction that the state updates
// are made of. Both builds give the same bytes and the same results as the
// steps of compress/fse.h whose work they do (Kernels<FseBlockKernels>() is
// the table in use).
// One block's FSE_compress_usingCTable, for EncodeBlockPair.
struct FseBlockJob {
  void* dst;
  size_t dstCapacity;
  const void* src;
  size_t srcSize;
  const FseCTable* table;
  size_t result;
};

struct FseBlockKernels {
  // FSE_compress_usingCTable.
  size_t (*EncodeBlock)(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                        const FseCTable* table);
  // Two independent blocks at once: the same results and bytes as
  // EncodeBlock on each.
  void (*EncodeBlockPair)(FseBlockJob* a, FseBlockJob* b);
  // FSE_decompress_usingDTable.
  size_t (*DecodeBlock)(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                        const FseDTable* table);
};
TDX_KERNEL_TABLES(FseBlockKernels)
