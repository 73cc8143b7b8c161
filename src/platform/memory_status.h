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
// runs under one that is smaller than the machine. False when nothing could be read.
//
// Test hook: when the environment variable TDX_TEST_AVAILABLE_BYTES holds a
// decimal number of bytes, the available figure is narrowed to it (the load
// follows), so that tests can make the engine refuse work for want of memory
// without putting the machine under real pressure. TDX_TEST_TOTAL_BYTES
// narrows the total the same way (the available figure stays within it), so
// that the load's whole percents are fine enough for small trees. Nothing else
// reads them.
bool QueryMemoryStatus(MemoryStatus* status);

// The parsing steps on their own, for tests: MemTotal and MemAvailable (kB) of a
// /proc/meminfo text; false when MemTotal is missing.
bool ParseMemInfo(std::string_view text, uint64_t* total_bytes, uint64_t* available_bytes);

// Applies a cgroup limit and usage (bytes; 0 limit = none) and computes the load.
MemoryStatus MakeMemoryStatus(uint64_t total_bytes, uint64_t available_bytes,
                              uint64_t cgroup_limit, uint64_t cgroup_usage);
