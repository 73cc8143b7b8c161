#include "platform/threads.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

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
