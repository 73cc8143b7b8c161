#include "platform/threads.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>

#include "platform/virtual_memory.h"

namespace {

// The C library's heap of a thread of its own (an arena: 64 MiB of address
// space on 64-bit systems, reused by later threads once its thread ends).
constexpr uint64_t kThreadHeapBytes = uint64_t{64} << 20;

// Kept free for the threads that run already: their small allocations, and
// the records of thread-local objects, which the C library takes on first use
// and cannot do without.
constexpr uint64_t kRunningThreadsReserve = uint64_t{32} << 20;

bool ProcessAffinity(cpu_set_t& set) {
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0;
}

}  // namespace

uint32_t GetLogicalProcessorCount() {
  cpu_set_t set;
  if (ProcessAffinity(set)) return static_cast<uint32_t>(CPU_COUNT(&set));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1u;
}

bool PinCurrentThreadToProcessor(uint32_t index) {
  cpu_set_t allowed;
  if (!ProcessAffinity(allowed)) return false;
  // The index counts the processors the process may use, so a restricted
  // process (taskset, cgroups) still spreads its threads over what it has.
  uint32_t wanted = index % static_cast<uint32_t>(CPU_COUNT(&allowed));
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    if (wanted-- != 0) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof(one), &one) == 0;
  }
  return false;
}

uint64_t DefaultThreadStackBytes() {
  pthread_attr_t attr;
  size_t bytes = 0;
  if (pthread_getattr_default_np(&attr) == 0) {
    pthread_attr_getstacksize(&attr, &bytes);
    pthread_attr_destroy(&attr);
  }
  // 8 MiB is the usual default where none can be read.
  return bytes > 0 ? bytes : uint64_t{8} << 20;
}

uint64_t NewThreadAddressSpace(uint64_t stack_bytes) {
  return stack_bytes + static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + kThreadHeapBytes;
}

uint32_t NewThreadsThatFit(uint32_t wanted, uint64_t stack_bytes) {
  const uint64_t limit = AddressSpaceLimit();
  // Without a limit the statm read is not worth its cost.
  if (wanted == 0 || limit == UINT64_MAX) return wanted;
  const uint64_t mapped = AddressSpaceBytes();
  if (mapped >= limit || limit - mapped <= kRunningThreadsReserve) return 0;
  const uint64_t fit = (limit - mapped - kRunningThreadsReserve) / NewThreadAddressSpace(stack_bytes);
  return static_cast<uint32_t>(std::min<uint64_t>(wanted, fit));
}
