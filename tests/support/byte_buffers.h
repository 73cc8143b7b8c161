#pragma once
// Byte streams over a vector, for the store round trips: what a store writes
// is kept, and read back under a given tree-file format version.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/byte_io.h"

class BufferWriter : public ByteWriter {
 public:
  void Write(const void* data, uint64_t n) override {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
  }
  std::vector<uint8_t> bytes;
};

class BufferReader : public ByteReader {
 public:
  BufferReader(const std::vector<uint8_t>& bytes, int32_t version)
      : bytes_(bytes) {
    SetFormatVersion(version);
  }
  void Read(void* dst, uint64_t n) override {
    if (n > bytes_.size() - position_) throw std::runtime_error("short input");
    std::memcpy(dst, bytes_.data() + position_, n);
    position_ += n;
  }
  size_t position() const { return position_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t position_ = 0;
};

// The bytes of a value as a store writes it.
template <typename T>
void Append(std::vector<uint8_t>& bytes, T value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  bytes.insert(bytes.end(), p, p + sizeof value);
}
