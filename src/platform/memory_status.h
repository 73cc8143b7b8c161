#pragma once
#include <cstdint>
#include <string_view>

// Physical memory as the engine weighs it: the total, what is available, and the
// share in use as a whole percentage (the figure show_memory and the automatic
// compression level derive the free memory from).
struct MemoryStatus {
  uint64_t total_bytes = 0;
  uint64_t available_bytes = 0;
  uint32_t load_percent = 0;
};

// Reads /proc/meminfo, narrowed by the cgroup (v2) memory limit when the process
// runs under one that is smaller than the machine, and by the override below.
// False when nothing could be read.
bool QueryMemoryStatus(MemoryStatus* status);

// Narrows the figures QueryMemoryStatus reports: the total to total_bytes and
// the available memory to available_bytes (within the total), each only when
// nonzero and smaller; 0 and 0 take the narrowing back. For tests, which make
// the engine refuse work for want of memory without putting the machine under
// real pressure; the engine itself never calls it.
void SetMemoryStatusOverride(uint64_t total_bytes, uint64_t available_bytes);

// The parsing steps on their own, for tests: MemTotal and MemAvailable (kB) of a
// /proc/meminfo text; false when MemTotal is missing.
bool ParseMemInfo(std::string_view text, uint64_t* total_bytes, uint64_t* available_bytes);

// Applies a cgroup limit and usage (bytes; 0 limit = none) and computes the load.
MemoryStatus MakeMemoryStatus(uint64_t total_bytes, uint64_t available_bytes,
                              uint64_t cgroup_limit, uint64_t cgroup_usage);
