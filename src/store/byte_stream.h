#pragma once
#include <cstdint>

// The byte source and sink of the stores' serialised forms (tree files).
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Fills n bytes or throws (a short input is an error of the reader's own).
  virtual void Read(void* dst, uint64_t n) = 0;
  // The tree file's format version, which some stores' forms depend on.
  virtual int32_t FormatVersion() const = 0;
};

class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual void Write(const void* data, uint64_t n) = 0;
};
