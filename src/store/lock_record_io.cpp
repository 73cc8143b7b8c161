#include "store/lock_record_io.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

void WriteInt16(ByteWriter& out, int32_t value) {
  const int16_t v = static_cast<int16_t>(value);
  out.Write(&v, sizeof v);
}

int16_t ReadInt16(ByteReader& in) {
  int16_t v;
  in.Read(&v, sizeof v);
  return v;
}

}  // namespace

void WriteLockRecord(ByteWriter& out, const NodeLockRecord& record) {
  out.Write(&record.flags, sizeof record.flags);
  if (!(record.flags & COMBO_LOCKED)) return;
  const int32_t length = record.mask ? record.mask_length : 0;
  if (length < 0 || length > std::numeric_limits<int16_t>::max())
    throw std::runtime_error("lock mask too long to write");
  // One run per maximal stretch of equal bytes, starting with the 0-bytes.
  std::vector<int16_t> runs;
  int32_t position = 0;
  bool locked = false;
  while (position < length) {
    int32_t end = position;
    while (end < length && (record.mask[end] != 0) == locked) ++end;
    runs.push_back(static_cast<int16_t>(end - position));
    position = end;
    locked = !locked;
  }
  WriteInt16(out, length);
  WriteInt16(out, static_cast<int32_t>(runs.size()));
  if (!runs.empty()) out.Write(runs.data(), runs.size() * sizeof(int16_t));
}

void ReadLockRecord(ByteReader& in, NodeLockRecord& record, int32_t board_hand_count) {
  uint32_t flags;
  in.Read(&flags, sizeof flags);
  if (!(flags & COMBO_LOCKED)) {
    record.FreeMask();
    record.flags = flags;
    return;
  }
  const int32_t length = ReadInt16(in);
  const int32_t run_count = ReadInt16(in);
  if (length != 0 && length != board_hand_count) throw std::runtime_error("bad lock mask length");
  if (run_count < 0 || run_count > length + 1) throw std::runtime_error("bad lock mask run count");
  std::vector<int16_t> runs(static_cast<size_t>(run_count));
  if (run_count > 0) in.Read(runs.data(), runs.size() * sizeof(int16_t));
  int32_t total = 0;
  for (int16_t run : runs) {
    if (run < 0) throw std::runtime_error("bad lock mask run");
    total += run;
  }
  if (total > length) throw std::runtime_error("bad lock mask runs");

  // Everything is checked and the mask is had: only now is the record changed.
  if (length == 0) {
    record.FreeMask();
    record.flags = flags;
    return;
  }
  if (!record.mask || record.mask_length != length) {
    uint8_t* mask = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
    if (!mask) throw std::bad_alloc();
    record.FreeMask();
    record.mask = mask;
    record.mask_length = length;
  }
  record.flags = flags;
  std::memset(record.mask, 0, static_cast<size_t>(length));
  int32_t position = 0;
  uint8_t value = 0;
  for (int16_t run : runs) {
    if (value) std::memset(record.mask + position, 1, static_cast<size_t>(run));
    position += run;
    value ^= 1;
  }
}
