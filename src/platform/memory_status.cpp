#include "platform/memory_status.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool ReadWholeFile(const char* path, std::string* out) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

// A number of bytes from a cgroup file; "max" or an unreadable file gives 0.
uint64_t ReadCgroupBytes(const char* path) {
  std::string text;
  if (!ReadWholeFile(path, &text) || text.empty() || text[0] < '0' || text[0] > '9') return 0;
  return std::strtoull(text.c_str(), nullptr, 10);
}

bool FindKilobytes(std::string_view text, std::string_view key, uint64_t* bytes) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      std::string rest(line.substr(key.size() + 1));
      *bytes = std::strtoull(rest.c_str(), nullptr, 10) * 1024ull;
      return true;
    }
    pos = end + 1;
  }
  return false;
}

// The figures of SetMemoryStatusOverride; 0 narrows nothing.
std::atomic<uint64_t> g_override_total{0};
std::atomic<uint64_t> g_override_available{0};

}  // namespace

bool ParseMemInfo(std::string_view text, uint64_t* total_bytes, uint64_t* available_bytes) {
  uint64_t total = 0, available = 0;
  if (!FindKilobytes(text, "MemTotal", &total) || total == 0) return false;
  // Kernels before 3.14 have no MemAvailable; free memory is the closest figure.
  if (!FindKilobytes(text, "MemAvailable", &available)) FindKilobytes(text, "MemFree", &available);
  *total_bytes = total;
  *available_bytes = available > total ? total : available;
  return true;
}

MemoryStatus MakeMemoryStatus(uint64_t total_bytes, uint64_t available_bytes,
                              uint64_t cgroup_limit, uint64_t cgroup_usage) {
  MemoryStatus status;
  status.total_bytes = total_bytes;
  status.available_bytes = available_bytes;
  if (cgroup_limit != 0 && cgroup_limit < total_bytes) {
    status.total_bytes = cgroup_limit;
    const uint64_t room = cgroup_usage < cgroup_limit ? cgroup_limit - cgroup_usage : 0;
    if (room < status.available_bytes) status.available_bytes = room;
  }
  if (status.available_bytes > status.total_bytes) status.available_bytes = status.total_bytes;
  if (status.total_bytes != 0) {
    const uint64_t used = status.total_bytes - status.available_bytes;
    status.load_percent = static_cast<uint32_t>((used * 100 + status.total_bytes / 2) / status.total_bytes);
  }
  return status;
}

bool QueryMemoryStatus(MemoryStatus* status) {
  std::string text;
  uint64_t total = 0, available = 0;
  if (!ReadWholeFile("/proc/meminfo", &text) || !ParseMemInfo(text, &total, &available)) {
    *status = MemoryStatus{};
    return false;
  }
  const uint64_t limit = ReadCgroupBytes("/sys/fs/cgroup/memory.max");
  const uint64_t usage = limit ? ReadCgroupBytes("/sys/fs/cgroup/memory.current") : 0;
  const uint64_t narrow_total = g_override_total.load(std::memory_order_relaxed);
  if (narrow_total != 0 && narrow_total < total) total = narrow_total;
  if (available > total) available = total;
  const uint64_t narrow_available = g_override_available.load(std::memory_order_relaxed);
  if (narrow_available != 0 && narrow_available < available) available = narrow_available;
  *status = MakeMemoryStatus(total, available, limit, usage);
  return true;
}

void SetMemoryStatusOverride(uint64_t total_bytes, uint64_t available_bytes) {
  g_override_total.store(total_bytes, std::memory_order_relaxed);
  g_override_available.store(available_bytes, std::memory_order_relaxed);
}
